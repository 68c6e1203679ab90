#include "vt/transport/deferred_host.h"

#include <utility>

namespace qn::vt {

void DeferredVtHost::sendBytes(const std::uint8_t* data, std::size_t length) {
    pending_.actions_.push_back({Batch::Kind::Send, 0, pending_.bytes_.size(), length});
    pending_.bytes_.insert(pending_.bytes_.end(), data, data + length);
}

DeferredVtHost::Batch DeferredVtHost::take() {
    return std::exchange(pending_, Batch{});
}

void DeferredVtHost::Batch::run(VtHost& target) const {
    for (const Action& action : actions_) {
        switch (action.kind) {
            case Kind::Send:
                target.sendBytes(bytes_.data() + action.offset, action.length);
                break;
            case Kind::Sound:
                target.playSound(static_cast<int>(action.value));
                break;
            case Kind::Vibrate:
                target.vibrate(static_cast<int>(action.value));
                break;
            case Kind::Trigger:
                target.setTriggerKey(static_cast<int>(action.value));
                break;
            case Kind::ActiveDevice:
                target.setActiveDevice(static_cast<std::uint32_t>(action.value));
                break;
            case Kind::Beep:
                target.beep();
                break;
            case Kind::Caret:
                target.showCaret(action.value != 0);
                break;
        }
    }
}

}  // namespace qn::vt

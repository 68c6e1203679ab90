#pragma once
// What the 5250 interpreter asks of the world: whole framed records sent on the session socket,
// and the alarm. The transport, the replay tool and the tests each stand behind it.

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "common/telnet/telnet.h"

namespace qn::tn {

class TnHost : public telnet::ByteSender {
  public:
    // sendBytes (from ByteSender): one send of a whole message; the result is not checked.
    // The configured alarm: the error sound, then the error vibration.
    virtual void alarm() = 0;
};

// Collects sends and alarms while the session lock is held; the batch taken from it is carried
// out in order once the lock is free, so no send, sound or vibration runs under the lock.
class DeferredTnHost final : public TnHost {
  public:
    class Batch {
      public:
        void run(TnHost& target) const {
            for (const Action& action : actions_) {
                if (action.alarm) {
                    target.alarm();
                } else {
                    target.sendBytes(std::span(bytes_).subspan(action.offset, action.length));
                }
            }
        }
        bool empty() const { return actions_.empty(); }

      private:
        friend class DeferredTnHost;
        struct Action {
            bool alarm;
            std::size_t offset;
            std::size_t length;
        };
        std::vector<Action> actions_;
        std::vector<std::uint8_t> bytes_;
    };

    void sendBytes(std::span<const std::uint8_t> bytes) override {
        pending_.actions_.push_back({false, pending_.bytes_.size(), bytes.size()});
        pending_.bytes_.insert(pending_.bytes_.end(), bytes.begin(), bytes.end());
    }
    void alarm() override { pending_.actions_.push_back({true, 0, 0}); }

    // Call with the session lock held; run the batch after releasing it.
    Batch take() { return std::exchange(pending_, Batch{}); }

  private:
    Batch pending_;
};

}  // namespace qn::tn

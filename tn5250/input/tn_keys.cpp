#include "tn5250/input/tn_keys.h"

namespace qn::tn {

int builtinKeyFunction(int virtualKey) {
    const TnKeySlot* slot = findKeySlot(virtualKey);
    return slot == nullptr ? fn::kUndefined : slot->builtinFunction;
}

int resolveKeyFunction(const TnSession& session, int virtualKey) {
    if (virtualKey == vk::kReturn) return fn::kEnter;
    if (virtualKey == vk::kEscape) return fn::kReset;
    const TnKeySlot* slot = findKeySlot(virtualKey);
    if (slot == nullptr) return fn::kUndefined;
    const int stored = slotFunction(session, slot->slot);
    return stored != 0 ? stored : slot->builtinFunction;
}

}  // namespace qn::tn

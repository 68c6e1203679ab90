#pragma once
// Which key function a key press of the 5250 program means: the fixed keys, the session's key
// map and the built-in defaults.

#include <cstdint>

#include "common/device/virtual_keys.h"
#include "tn5250/settings/tn_key_map.h"
#include "tn5250/settings/tn_settings.h"

namespace qn::tn {

namespace vk = ::qn::vk;

// The built-in function of a key; 0 for a key without one.
int builtinKeyFunction(int virtualKey);

// Return is always ENTER and Escape always RESET; any other key takes its slot's stored
// function, or its built-in one when the slot holds none.
int resolveKeyFunction(const TnSession& session, int virtualKey);

// While the keyboard is locked only Reset and Attention act: Attention is how the operator
// interrupts a host that keeps input inhibited.
constexpr bool actsWhileLocked(int function) {
    return function == fn::kReset || function == fn::kAttn;
}

}  // namespace qn::tn

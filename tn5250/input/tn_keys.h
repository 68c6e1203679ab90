#pragma once
// Which key function a key press of the 5250 program means: the fixed keys, the session's key
// map and the built-in defaults.

#include <cstdint>

#include "tn5250/settings/tn_key_map.h"
#include "tn5250/settings/tn_settings.h"

namespace qn::tn {

// The handheld's virtual-key codes the 5250 program acts on.
namespace vk {
inline constexpr int kBack = 0x08;
inline constexpr int kTab = 0x09;
inline constexpr int kReturn = 0x0D;
inline constexpr int kEscape = 0x1B;
inline constexpr int kPageUp = 0x21;
inline constexpr int kPageDown = 0x22;
inline constexpr int kEnd = 0x23;
inline constexpr int kHome = 0x24;
inline constexpr int kLeft = 0x25;
inline constexpr int kUp = 0x26;
inline constexpr int kRight = 0x27;
inline constexpr int kDown = 0x28;
inline constexpr int kInsert = 0x2D;
inline constexpr int kDelete = 0x2E;
inline constexpr int kF1 = 0x70;
inline constexpr int kF20 = 0x83;
inline constexpr int kSend = 0xE9;
inline constexpr int kDeviceEnd = 0xEA;
inline constexpr int kFullScreenPrefix = 0xEC;
}  // namespace vk

// The built-in function of a key; 0 for a key without one.
int builtinKeyFunction(int virtualKey);

// Return is always ENTER and Escape always RESET; any other key takes its slot's stored
// function, or its built-in one when the slot holds none.
int resolveKeyFunction(const TnSession& session, int virtualKey);

}  // namespace qn::tn

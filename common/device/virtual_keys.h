#pragma once
// The handheld's virtual-key codes that the terminal programs act on. Fn plus an arrow arrives
// as Home, End, Page Up or Page Down; the KX4CE's Send and End keys have codes of their own;
// 0xEC comes before Escape when the operator leaves full screen.

namespace qn::vk {
inline constexpr int kBack = 0x08;
inline constexpr int kTab = 0x09;
inline constexpr int kReturn = 0x0D;
inline constexpr int kControl = 0x11;
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
}  // namespace qn::vk

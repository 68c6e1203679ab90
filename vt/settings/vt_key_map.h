#pragma once
// The session's key map: 28 key slots, each with a VT function index (a label) and up to five
// bytes the key sends; the function list with its default codes; the default key maps.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "vt/settings/vt_settings.h"

namespace qn::vt {

inline constexpr int kKeySlotCount = 28;
inline constexpr std::size_t kSlotCodeSize = 5;

struct KeySlot {
    std::string_view pageLabel;    // on the mapping page
    std::string_view selectLabel;  // in "Select A Key"
    int virtualKey;
};

// Slots 1..28 at indexes 0..27.
inline constexpr std::array<KeySlot, kKeySlotCount> kKeySlotTable{{
    {"F1", "F1", 0x70},         {"F2", "F2", 0x71},      {"F3", "F3", 0x72},
    {"F4", "F4", 0x73},         {"F5", "F5", 0x74},      {"F6", "F6", 0x75},
    {"F7", "F7", 0x76},         {"F8", "F8", 0x77},      {"F9", "F9", 0x78},
    {"F10", "F10", 0x79},       {"F11", "F11", 0x7A},    {"F12", "F12", 0x7B},
    {"F13", "F13", 0x7C},       {"F14", "F14", 0x7D},    {"F15", "F15", 0x7E},
    {"F16", "F16", 0x7F},       {"F17", "F17", 0x80},    {"F18", "F18", 0x81},
    {"F19", "F19", 0x82},       {"F20", "F20", 0x83},    {"Fn+L", "Fn+Left", 0x24},
    {"Fn+R", "Fn+Right", 0x23}, {"Fn+U", "Fn+Up", 0x21}, {"Fn+D", "Fn+Down", 0x22},
    {"BS", "BS", 0x08},         {"Tab", "TAB", 0x09},    {"Send", "Send", 0xE9},
    {"End", "End", 0xEA},
}};

inline constexpr int kVtFunctionCount = 30;

struct VtFunction {
    std::string_view name;
    std::array<std::uint8_t, kSlotCodeSize + 1> defaultCode;  // up to five bytes and a zero
};

// The items of "Select A Key", in order, with their default codes.
extern const std::array<VtFunction, kVtFunctionCount> VtFunctionList;

// Slot k's function index (the middle byte of its 3-byte entry) and its 5-byte code.
std::uint8_t& slotFunction(VtSettings& settings, int slot);
std::span<std::uint8_t, kSlotCodeSize> slotCode(VtSettings& settings, int slot);

// The default key map a session without a settings file gets: function indexes 1..20 for slots
// 1..20; with codes (when the settings sheet opens) slots 1..20 also get their default codes.
// Sets settingsLoaded. Call with the session lock held.
void installDefaultKeyMap(VtSession& session, bool withCodes);

}  // namespace qn::vt

#include "tn5250/settings/tn_key_map.h"

#include <algorithm>
#include <cstddef>

namespace qn::tn {

const std::array<std::string_view, kNamedFunctionCount> kTnFunctionNames{
    "Undefined", "PF1",  "PF2",   "PF3",    "PF4",   "PF5",      "PF6",    "PF7",
    "PF8",       "PF9",  "PF10",  "PF11",   "PF12",  "PF13",     "PF14",   "PF15",
    "PF16",      "PF17", "PF18",  "PF19",   "PF20",  "PF21",     "PF22",   "PF23",
    "PF24",      "ATTN", "BEGIN", "DELETE", "END",   "ERASE",    "FIELD+", "FIELD-",
    "FIELDEXIT", "LAST", "NEXT",  "PGDN",   "PGUP",  "PREVIOUS", "RECORD", "SYSREQ",
    "INSERT",    "DUP",  "HELP",  "CLEAR",  "RESET", "ENTER",    "LEFT",
};

const std::array<TnKeySlot, kTnKeySlotCount> kTnKeySlotTable{{
    {1, "F1", "F1", 0x70, 1},
    {2, "F2", "F2", 0x71, 2},
    {3, "F3", "F3", 0x72, 3},
    {4, "F4", "F4", 0x73, 4},
    {5, "F5", "F5", 0x74, 5},
    {6, "F6", "F6", 0x75, 6},
    {7, "F7", "F7", 0x76, 7},
    {8, "F8", "F8", 0x77, 8},
    {9, "F9", "F9", 0x78, 9},
    {10, "F10", "F10", 0x79, 10},
    {11, "F11", "F11", 0x7A, 11},
    {12, "F12", "F12", 0x7B, 12},
    {13, "F13", "F13", 0x7C, 13},
    {14, "F14", "F14", 0x7D, 14},
    {15, "F15", "F15", 0x7E, 15},
    {16, "F16", "F16", 0x7F, 16},
    {17, "F17", "F17", 0x80, 17},
    {18, "F18", "F18", 0x81, 18},
    {19, "F19", "F19", 0x82, 19},
    {20, "F20", "F20", 0x83, 20},
    {36, "", "", 0x26, 0},  // Up: cursor up
    {37, "", "", 0x28, 0},  // Down: cursor down
    {38, "", "", 0x25, 0},  // Left: cursor left
    {39, "", "", 0x27, 0},  // Right: cursor right
    {40, "Fn+L", "Fn+LEFT", 0x24, fn::kRecord},
    {41, "Fn+R", "Fn+RIGHT", 0x23, fn::kEnd},
    {42, "Fn+D", "Fn+DOWN", 0x22, fn::kPageDown},
    {43, "Fn+U", "Fn+UP", 0x21, fn::kPageUp},
    {44, "", "", 0x2D, 0},  // Insert: insert mode toggles
    {45, "Del", "DEL", 0x2E, fn::kDelete},
    {46, "Tab", "TAB", 0x09, fn::kFieldExit},
    {49, "BS", "BS", 0x08, fn::kBackspace},
    {50, "SEND", "SEND", 0xE9, 0},
    {51, "END", "END", 0xEA, 0},
}};

const TnKeySlot* findKeySlot(int virtualKey) {
    const auto it = std::ranges::find(kTnKeySlotTable, virtualKey, &TnKeySlot::virtualKey);
    return it == kTnKeySlotTable.end() ? nullptr : &*it;
}

namespace {
constexpr std::size_t kKeyMapStart = offsetof(TnSession, tnKeyFunctionTable);

std::size_t slotOffset(int slot) {
    return kKeyMapStart + 1 + 3 * static_cast<std::size_t>(std::clamp(slot, 0, 51));
}
}  // namespace

std::uint8_t& slotFunction(TnSession& session, int slot) {
    return session.bytes()[slotOffset(slot)];
}

std::uint8_t slotFunction(const TnSession& session, int slot) {
    return session.bytes()[slotOffset(slot)];
}

void installDefaultKeyMap(TnSession& session) {
    session.tnKeyFunctionTable.fill(0);
    for (int slot = 1; slot <= 20; ++slot)
        slotFunction(session, slot) = static_cast<std::uint8_t>(slot);
}

}  // namespace qn::tn

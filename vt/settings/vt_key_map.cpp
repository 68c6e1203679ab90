#include "vt/settings/vt_key_map.h"

#include <algorithm>

namespace qn::vt {

namespace {
constexpr std::uint8_t E = 0x1B;
}

const std::array<VtFunction, kVtFunctionCount> VtFunctionList{{
    {"Undefined", {}},
    {"F1", {E, 'O', 'P'}},
    {"F2", {E, 'O', 'Q'}},
    {"F3", {E, 'O', 'R'}},
    {"F4", {E, 'O', 'S'}},
    {"F5", {E, 'O', 'T'}},
    {"F6", {E, 'O', 'U'}},
    {"F7", {E, 'O', 'V'}},
    {"F8", {E, 'O', 'W'}},
    {"F9", {E, 'O', 'X'}},
    {"F10", {E, '[', '2', '1', '~'}},
    {"F11", {E, '[', '2', '3', '~'}},
    {"F12", {E, '[', '2', '4', '~'}},
    {"F13", {E, '[', '2', '5', '~'}},
    {"F14", {E, '[', '2', '6', '~'}},
    {"F15", {E, '[', '2', '8', '~'}},
    {"F16", {E, '[', '2', '9', '~'}},
    {"F17", {E, '[', '3', '1', '~'}},
    {"F18", {E, '[', '3', '2', '~'}},
    {"F19", {E, '[', '3', '3', '~'}},
    {"F20", {E, '[', '3', '4', '~'}},
    {"PgUp", {E, '[', 'V'}},
    {"PgDn", {E, '[', 'U'}},
    {"Home", {E, '[', 'H'}},
    {"End", {E, '[', 'K'}},
    {"Insert", {E, '[', '2', '~'}},
    {"Delete", {0x08}},
    {"Tab", {0x09}},
    {"Left", {E, '[', 'D'}},
    {"Enter", {0x0D}},
}};

std::uint8_t& slotFunction(VtSettings& settings, int slot) {
    return settings.keyFunctionTable[static_cast<std::size_t>(1 + 3 * slot)];
}

std::span<std::uint8_t, kSlotCodeSize> slotCode(VtSettings& settings, int slot) {
    return std::span<std::uint8_t, kSlotCodeSize>(
        settings.keyCodeTable.data() +
            static_cast<std::size_t>(kSlotCodeSize) * static_cast<std::size_t>(slot),
        kSlotCodeSize);
}

void installDefaultKeyMap(VtSession& session, bool withCodes) {
    VtSettings& s = session.settings;
    s.keyFunctionTable.fill(0);
    for (int slot = 1; slot <= 20; ++slot) {
        slotFunction(s, slot) = static_cast<std::uint8_t>(slot);
        if (withCodes) {
            const auto& code = VtFunctionList[static_cast<std::size_t>(slot)].defaultCode;
            std::copy_n(code.begin(), kSlotCodeSize, slotCode(s, slot).begin());
        }
    }
    session.settingsLoaded = 1;
}

}  // namespace qn::vt

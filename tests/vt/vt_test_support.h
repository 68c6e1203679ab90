#pragma once
// Runs host output through a fresh emulator, as a connect leaves it, and compares what comes
// out whichever way the bytes are cut into receives, and under either emulation.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/reader/record_fields.h"
#include "vt/emulator/recording_vt_host.h"
#include "vt/emulator/vt_emulator.h"

namespace qn::vt::test {

using Configure = std::function<void(VtSettings&, RecordingVtHost&)>;

// The emulations a table case holds for. Both: the two must also agree on everything.
enum class Under { Both, Classic, Vt100 };

// The fields the emulator reads, at their defaults.
inline void applyEmulatorDefaults(VtSettings& settings) {
    reader::storeText(settings.enableCommand, "\033[99h");
    reader::storeText(settings.disableCommand, "\033[99l");
    settings.goodBeeper.set(1);
    settings.goodVibrator.set(0);
    settings.errorBeeper.set(2);
    settings.errorVibrator.set(0);
    settings.rfidReaderOn = 1;
    settings.barcodeReaderOn = 1;
    settings.localEcho = 1;
}

struct Outcome {
    VtScreen screen;
    std::vector<std::string> sends;
    std::vector<std::string> events;
    std::uint8_t localEcho = 0;
    std::int32_t parserState = 0;
};

inline std::string asText(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Feeds the input in chunks cut at the given offsets (ascending, inside the input); with
// byteByByte every byte goes through vtReceiveByte alone.
inline Outcome runCut(const std::string& input, const Configure& configure,
                      const std::vector<std::size_t>& cuts, bool byteByByte = false,
                      VtEmulation emulation = VtEmulation::Vt100) {
    VtSettings settings{};
    applyEmulatorDefaults(settings);
    RecordingVtHost host;
    if (configure) configure(settings, host);
    VtEmulator emulator(settings, host);
    emulator.setEmulation(emulation);
    emulator.vtReset();
    const auto* data = reinterpret_cast<const std::uint8_t*>(input.data());
    if (byteByByte) {
        for (std::size_t i = 0; i < input.size(); ++i)
            emulator.vtReceiveByte(data[i]);
    } else {
        std::size_t from = 0;
        for (std::size_t cut : cuts) {
            emulator.feed(data + from, cut - from);
            from = cut;
        }
        emulator.feed(data + from, input.size() - from);
    }
    Outcome outcome{emulator.screen(), {}, host.events, settings.localEcho, emulator.parserState()};
    for (const auto& send : host.sends)
        outcome.sends.push_back(asText(send));
    return outcome;
}

// What differs between two outcomes, empty when nothing does.
inline std::string difference(const Outcome& a, const Outcome& b) {
    const VtScreen& x = a.screen;
    const VtScreen& y = b.screen;
    if (x.screenChars != y.screenChars) return "screenChars";
    if (x.reverseBits != y.reverseBits) return "reverseBits";
    if (x.tabStops != y.tabStops) return "tabStops";
    const std::pair<const char*, std::int32_t VtScreen::*> fields[] = {
        {"cursorCol", &VtScreen::cursorCol},
        {"cursorRow", &VtScreen::cursorRow},
        {"savedCol", &VtScreen::savedCol},
        {"savedRow", &VtScreen::savedRow},
        {"reverseOn", &VtScreen::reverseOn},
        {"newLineModeOff", &VtScreen::newLineModeOff},
        {"cursorKeysNormal", &VtScreen::cursorKeysNormal},
        {"lineDrawing", &VtScreen::lineDrawing},
        {"savedLineDrawing", &VtScreen::savedLineDrawing},
        {"savedReverse", &VtScreen::savedReverse},
        {"savedOriginMode", &VtScreen::savedOriginMode},
        {"savedAutoWrap", &VtScreen::savedAutoWrap},
        {"cursorSaved", &VtScreen::cursorSaved},
        {"regionTop", &VtScreen::regionTop},
        {"regionBottom", &VtScreen::regionBottom},
        {"noRegion", &VtScreen::noRegion},
        {"originMode", &VtScreen::originMode},
        {"autoWrap", &VtScreen::autoWrap},
        {"replaceMode", &VtScreen::replaceMode},
        {"keypadNumeric", &VtScreen::keypadNumeric},
    };
    for (const auto& [name, field] : fields) {
        if (x.*field != y.*field) return name;
    }
    if (a.sends != b.sends) return "sends";
    if (a.events != b.events) return "events";
    if (a.localEcho != b.localEcho) return "localEcho";
    if (a.parserState != b.parserState) return "parserState";
    return {};
}

// Runs the input whole, then cut once at every byte boundary, then byte by byte, expects the
// same outcome each time, and returns it.
inline Outcome runAllWays(const std::string& input, const Configure& configure,
                          VtEmulation emulation) {
    SCOPED_TRACE(vtEmulationName(emulation));
    Outcome whole = runCut(input, configure, {}, false, emulation);
    for (std::size_t cut = 1; cut < input.size(); ++cut) {
        const std::string diff =
            difference(whole, runCut(input, configure, {cut}, false, emulation));
        EXPECT_EQ(diff, "") << "cut at byte " << cut;
        if (!diff.empty()) break;
    }
    EXPECT_EQ(difference(whole, runCut(input, configure, {}, true, emulation)), "")
        << "byte by byte";
    return whole;
}

// As above under the emulations named; under Both the two outcomes must be the same.
inline Outcome runAllWays(const std::string& input, const Configure& configure = {},
                          Under under = Under::Both) {
    if (under == Under::Vt100) return runAllWays(input, configure, VtEmulation::Vt100);
    Outcome classic = runAllWays(input, configure, VtEmulation::Classic);
    if (under == Under::Both) {
        EXPECT_EQ(difference(classic, runAllWays(input, configure, VtEmulation::Vt100)), "")
            << "the emulations differ";
    }
    return classic;
}

// A row as text: an empty cell is '.', trailing empty cells are left off.
inline std::string rowText(const VtScreen& screen, int row) {
    std::string text;
    for (std::uint8_t c : screen.rowChars(row))
        text.push_back(c == 0 ? '.' : static_cast<char>(c));
    text.erase(text.find_last_not_of('.') + 1);
    return text;
}

// A row's reverse flags as '0'/'1', trailing zeros left off.
inline std::string reverseText(const VtScreen& screen, int row) {
    std::string text;
    for (int col = 0; col < kScreenColumns; ++col)
        text.push_back(screen.isReverse(row, col) ? '1' : '0');
    text.erase(text.find_last_not_of('0') + 1);
    return text;
}

inline std::string repeat(char c, std::size_t n) {
    return std::string(n, c);
}

}  // namespace qn::vt::test

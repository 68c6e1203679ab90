#pragma once
// Replays captured host output through the VT terminal as a fresh connection would take it,
// and reports what the terminal would show and send.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vt/emulator/vt_emulator.h"

namespace qn::tools {

struct VtReplayOptions {
    std::optional<std::string> settingsPath;  // a .qnvt document instead of the defaults
    std::size_t chunk = 1024;                 // receive size for raw input
    bool script = false;                      // the input is a step file
    vt::VtEmulation emulation = vt::VtEmulation::Vt100;
};

struct VtReplayResult {
    int exitCode = 0;   // 0 done, 1 bad input or settings
    std::string json;   // the report, when exitCode is 0
    std::string error;  // the message for stderr otherwise
};

// Raw input: the host's bytes. Script: the step language (tools/quillnet-replay/script_steps.h)
// with recv, key, char, scan and rfid: keys and characters through the program's keyboard (key
// map, cursor-key and new-line modes, line buffer, local echo), scans and RFID reads through
// its decode handling with the settings document's checks and edits.
VtReplayResult replayVt(const std::vector<std::uint8_t>& input, const VtReplayOptions& options);

struct VtBenchResult {
    double bytes = 0;
    double seconds = 0;
};

// Feeds the bytes straight into the emulator (no telnet filter, no pause) in chunks, repeat
// times; times the feeding alone.
VtBenchResult benchVt(const std::vector<std::uint8_t>& input, std::size_t chunk, int repeat,
                      vt::VtEmulation emulation = vt::VtEmulation::Vt100);

}  // namespace qn::tools

#pragma once
// quillnet-replay 5250: replays what a host sent on the socket (telnet layer and records)
// through the 5250 terminal as a fresh connection takes it, and reports what it would show and
// answer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qn::tools {

struct Tn5250ReplayOptions {
    std::optional<std::string> settingsPath;  // a .qntn document instead of the defaults
    std::optional<int> language;              // overrides the session's language
    std::size_t chunk = 1024;                 // receive size for raw input
    bool script = false;                      // the input is a step file
};

struct Tn5250ReplayResult {
    int exitCode = 0;   // 0 done, 1 bad input or settings
    std::string json;   // the report, when exitCode is 0
    std::string error;  // the message for stderr otherwise
};

// Raw input: the host's bytes. Script: one step a line, '#' starts a comment:
//   recv HEX        the host's bytes as one receive
//   fn N            a key whose function is N (1-47); with the keyboard locked only 44 (Reset)
//                   and 25 (ATTN) act, anything else sounds the alarm
//   key VK          a key-down as the view passes it on (0x70 or 112); the session's key map
//                   decides its function. A key with text gives its character by a char step.
//   char TEXT       each byte of TEXT as a character message
//   scan TEXT       a barcode decode: the session's checks, then into the fields
//   rfid UID [DATA] an RFID read, assembled by the session's RFID output settings
//   tap ROW COL     a stylus tap on a cell (0-based)
// TEXT is the rest of the line after one blank, its trailing blanks dropped; \xHH gives any
// byte (\x20 a trailing blank, \x23 a '#', \x0D carriage return) and \\ a backslash. UID and
// DATA are single words with the same escapes. A key map, prefix and suffix, over-length rule
// and the rest come from the settings document.
Tn5250ReplayResult replay5250(const std::vector<std::uint8_t>& input,
                              const Tn5250ReplayOptions& options);

struct Tn5250BenchResult {
    double bytes = 0;
    double seconds = 0;
    double cpuSeconds = 0;  // the process's processor time, steadier on a shared machine
};

// Feeds the bytes through the telnet layer and the interpreter in chunks, repeat times; times
// the feeding alone.
Tn5250BenchResult bench5250(const std::vector<std::uint8_t>& input, std::size_t chunk, int repeat);

// The whole command: argv as main receives it, argv[1] being "5250".
//   quillnet-replay 5250 [--settings F.qntn] [--language N] [--chunk N] [--script]
//                        [--bench [--repeat K]] [FILE]
int runReplay5250(int argc, char** argv);

}  // namespace qn::tools

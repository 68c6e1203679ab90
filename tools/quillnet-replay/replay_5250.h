#pragma once
// quillnet-replay 5250: replays what a host sent on the socket (telnet layer and records)
// through the 5250 terminal as a fresh connection takes it, and reports what it would show and
// answer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/cli/cli.h"

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

// Raw input: the host's bytes. Script: the step language (tools/quillnet-replay/script_steps.h)
// with recv, key, char, scan, rfid, fn and tap. A key map, prefix and suffix, over-length rule
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

// The command line of `quillnet-replay 5250`.
struct Replay5250Command {
    Tn5250ReplayOptions options;
    bool bench = false;
    int repeat = 1;
    std::string file;  // standard input when empty
};
// Adds the "5250" subcommand to the tool's command line, filling command when parsed.
CLI::App* add5250Command(CLI::App& app, Replay5250Command& command);
// Runs it: the report (or bench figures) on stdout; 1 on bad input.
int run5250Command(const Replay5250Command& command);

// The whole command: argv as main receives it, argv[1] being "5250".
//   quillnet-replay 5250 [--settings F.qntn] [--language N] [--chunk N] [--script]
//                        [--bench [--repeat K]] [FILE]
int runReplay5250(int argc, char** argv);

// Exit status of a command line that does not parse.
inline constexpr int kReplayUsage = 1;

}  // namespace qn::tools

#pragma once
// What quillnet-session adds around a script for host teams: the readiness a `wait ready`
// looks at, secrets kept out of everything printed, the transcript, the JUnit report, the
// long-lived JSON mode and the options that turn them on.

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/cli/cli.h"

#include "tn5250/screen/screen_model.h"
#include "tools/quillnet-replay/script_steps.h"

namespace qn::tools {

using Rows = std::vector<std::string>;

// The 5250 host's side as the station sees it after a block.
struct HostState {
    bool keyboardLocked = false;
    std::uint32_t reads = 0;  // read commands so far
};

// A step that failed: what, the screen as it stood (secrets blanked), the exit status.
struct StepFailure {
    std::string what;
    std::string screen;
    int status = 0;
};

inline constexpr std::string_view kHiddenText = "(hidden)";
inline constexpr std::chrono::milliseconds kDefaultQuiet{300};

// A VT row that asks for a password: what is typed there is not echoed and not printed.
bool isPasswordPrompt(std::string_view row);
// Typed text with every printable byte masked as '*'.
std::vector<std::uint8_t> maskTyped(std::span<const std::uint8_t> bytes);
// The step as the transcript shows it when it types a secret.
std::string maskedStep(const Step& step, std::string_view source);
// The 5250 report with the rows as printed (secrets blanked), screenHex masked alike, and the
// input fields by meaning as "inputFields".
std::string maskedReport(const std::string& report, const Rows& rows, const tn::TnScreen& screen);
// Single-byte host text as a JSON string value (each byte its Latin-1 code point).
std::string utf8OfLatin1(std::string_view bytes);

// What was sent and received, with the seconds since the start; thread-safe.
class Transcript {
  public:
    explicit Transcript(std::ostream& out);
    void line(std::string_view what);
    void step(int line, std::string_view text);
    void sent(std::span<const std::uint8_t> bytes);
    // A screen the host showed: the rows that changed since the last one.
    void received(const Rows& rows);
    void note(std::string_view text) { line("note " + std::string(text)); }

  private:
    void write(std::string_view text);
    std::mutex mutex_;
    std::ostream& out_;
    std::chrono::steady_clock::time_point start_;
    Rows last_;
};

// One script's outcome as a JUnit test case.
struct CaseReport {
    std::string name;
    double seconds = 0;
    int status = 0;
    StepFailure failure;
};
void writeJUnit(std::ostream& out, std::string_view suite, const std::vector<CaseReport>& cases);

// The options beside the connection's: --serve, --junit F, --transcript F, --parallel N,
// --device-name PATTERN, --ramp S.
struct ExtraOptions {
    bool serve = false;
    std::optional<std::string> junit;
    std::optional<std::string> transcript;
    std::optional<std::string> deviceName;
    int parallel = 0;
    std::chrono::milliseconds ramp{0};
};
inline constexpr int kParallelMax = 1000;
struct ExtraCommandLine {
    CLI::Option* serve = nullptr;
    CLI::Option* parallel = nullptr;
};
// Adds --serve, --junit, --transcript, --device-name, --parallel and --ramp (in seconds, into
// rampSeconds) to a command line.
ExtraCommandLine addExtraOptions(CLI::App& app, ExtraOptions& options, double& rampSeconds);
// A number of seconds, from 0 (zeroTaken) or above 0, up to max.
CLI::Validator secondsUpTo(double max, bool zeroTaken);
// The device name of session n (from 1): PATTERN with one printf integer (%d, %03d, ...);
// nullopt when the pattern is not one.
std::optional<std::string> deviceNameOf(const std::string& pattern, int n);

// The long-lived mode: one JSON object a line in, {"step": "..."}; one a line out for each.
// `run` runs one step, printing into `printed` what a dump prints; `failure` tells what the
// last failing step left. Returns the exit status of the first step that failed, else 0.
struct ServeHooks {
    std::function<int(const Step&, std::string_view source, std::string& printed)> run;
    std::function<const StepFailure&()> failure;
    std::function<bool()> connected;
};
int serveSteps(std::istream& in, std::ostream& out, StepSet allowed, const ServeHooks& hooks);

}  // namespace qn::tools

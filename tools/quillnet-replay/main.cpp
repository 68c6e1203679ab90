// quillnet-replay vt [--settings F.qnvt] [--emulation vt100|classic] [--chunk N] [--script]
//                    [--bench [--repeat K]] [FILE]
// quillnet-replay 5250 [--settings F.qntn] [--language N] [--chunk N] [--script] [--bench] [FILE]
// Shows what the VT terminal would display for captured host output (stdin without FILE).

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/cli/cli.h"

#include "tools/quillnet-replay/replay_5250.h"
#include "tools/quillnet-replay/vt_replay.h"

namespace {

bool readAll(std::istream& in, std::vector<std::uint8_t>& out) {
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app(
        "Shows what either terminal would display and answer for captured host output "
        "or a step file.");
    qn::cli::prepare(app, "quillnet-replay");
    app.require_subcommand(1);
    // An option given twice counts with its last value, as scripts append overrides.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    qn::tools::VtReplayOptions options;
    bool bench = false;
    int repeat = 1;
    std::string file;
    CLI::App* vt = app.add_subcommand(
        "vt", "Replay a VT host's output (or a step file) through the VT terminal");
    vt->add_option("--settings", options.settingsPath,
                   "A .qnvt settings document instead of the defaults")
        ->type_name("F.qnvt");
    vt->add_option("--emulation", options.emulation, "The emulator's rules (vt100 unless given)")
        ->type_name("vt100|classic")
        ->transform(CLI::Validator(
            [](std::string& name) -> std::string {
                const auto emulation = qn::vt::parseVtEmulation(name);
                if (!emulation) return "must be vt100 or classic";
                name = std::to_string(static_cast<int>(*emulation));
                return {};
            },
            ""));
    vt->add_option("--chunk", options.chunk, "Receive size for raw input")
        ->type_name("N")
        ->transform(qn::cli::decimal())
        ->check(CLI::Range(1, 1 << 30));
    vt->add_flag("--script", options.script, "FILE is a step file");
    vt->add_flag("--bench", bench, "Time the emulator alone");
    vt->add_option("--repeat", repeat, "Feed the input K times (--bench)")
        ->type_name("K")
        ->transform(qn::cli::decimal())
        ->check(CLI::Range(1, 1000000));
    vt->add_option("FILE", file, "The capture (standard input without it)");

    qn::tools::Replay5250Command tn5250;
    CLI::App* tn = qn::tools::add5250Command(app, tn5250);

    std::ostringstream out, err;
    const std::optional<int> status = qn::cli::parse(
        app, std::vector<std::string>(argv + 1, argv + argc), out, err, qn::tools::kReplayUsage);
    std::fputs(out.str().c_str(), stdout);
    std::fputs(err.str().c_str(), stderr);
    if (status) return *status;
    if (tn->parsed()) return qn::tools::run5250Command(tn5250);

    std::vector<std::uint8_t> input;
    if (file.empty()) {
        if (!readAll(std::cin, input)) return 1;
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in || !readAll(in, input)) {
            std::fprintf(stderr, "quillnet-replay: cannot read %s\n", file.c_str());
            return 1;
        }
    }

    if (bench) {
        const auto result = qn::tools::benchVt(input, options.chunk, repeat, options.emulation);
        std::printf("bytes=%.0f seconds=%.6f MBps=%.1f\n", result.bytes, result.seconds,
                    result.seconds > 0 ? result.bytes / result.seconds / 1e6 : 0.0);
        return 0;
    }
    const auto result = qn::tools::replayVt(input, options);
    if (result.exitCode != 0) {
        std::fprintf(stderr, "quillnet-replay: %s\n", result.error.c_str());
        return result.exitCode;
    }
    std::fputs(result.json.c_str(), stdout);
    return 0;
}

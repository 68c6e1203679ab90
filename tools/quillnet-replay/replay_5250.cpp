#include "tools/quillnet-replay/replay_5250.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string_view>

#include "common/reader/record_fields.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/screen/screen_model.h"
#include "tn5250/telnet/tn_telnet_filter.h"
#include "tools/quillnet-replay/offline_handheld.h"
#include "tools/quillnet-replay/script_steps.h"
#include "tools/quillnet-replay/tn_station.h"

namespace qn::tools {

namespace {

using tn::TnScreen;

constexpr StepSet kReplay5250Steps{StepKind::Recv, StepKind::Key, StepKind::Char, StepKind::Scan,
                                   StepKind::Rfid, StepKind::Fn,  StepKind::Tap};

// The 5250 terminal of one connection, fed from the script instead of a socket.
struct Terminal {
    OfflineHandheld offline;
    RecordingWire socket;
    TnStation station{offline, socket};
    tn::TnTelnetFilter filter{station.session, station.deferred, station.stream};
    bool signedOn = false;

    // What a connect does before the first receive; what happened before it is not replayed.
    void connect() {
        offline.events.clear();
        station.stream.resetScreen();
        const tn::TnSession& session = station.session;
        const bool on = session.rfidReaderOn != 0 || session.barcodeReaderOn != 0;
        station.reader.setTriggerKey(on ? 1 : 0);
    }

    // One receive, and what the read thread does after it.
    void receive(std::span<const std::uint8_t> bytes) {
        station.locked([&] {
            filter.receive(bytes);
            const tn::TnSession& session = station.session;
            if (!signedOn && session.autoSignOn != 0 &&
                reader::fixedLength(session.loginName) != 0) {
                signedOn = station.stream.trySignOn();
            }
        });
    }

    std::string report() const { return station.report(socket.sends); }
};

Tn5250ReplayResult failure(int code, std::string message) {
    return {code, {}, std::move(message)};
}

}  // namespace

Tn5250ReplayResult replay5250(const std::vector<std::uint8_t>& input,
                              const Tn5250ReplayOptions& options) {
    auto terminal = std::make_unique<Terminal>();
    terminal->station.start();
    if (options.settingsPath && !terminal->station.document.loadSettings(*options.settingsPath)) {
        return failure(1, "cannot read settings " + *options.settingsPath);
    }
    if (options.language) {
        if (*options.language < 0 || *options.language > 6) {
            return failure(1, "language must be 0 to 6");
        }
        terminal->station.session.language = static_cast<std::uint8_t>(*options.language);
    }
    terminal->connect();

    if (!options.script) {
        const std::size_t chunk = options.chunk == 0 ? 1 : options.chunk;
        for (std::size_t at = 0; at < input.size(); at += chunk) {
            terminal->receive(std::span(input).subspan(at, std::min(chunk, input.size() - at)));
        }
        return {0, terminal->report(), {}};
    }

    const Script script =
        parseScript(std::string_view(reinterpret_cast<const char*>(input.data()), input.size()),
                    kReplay5250Steps);
    if (!script.valid()) return failure(1, script.error);
    for (const Step& step : script.steps) {
        if (step.kind == StepKind::Recv) {
            terminal->receive(step.text);
        } else {
            runInputStep(step, terminal->station);
        }
    }
    return {0, terminal->report(), {}};
}

Tn5250BenchResult bench5250(const std::vector<std::uint8_t>& input, std::size_t chunk, int repeat) {
    class NullHost final : public tn::TnHost {
      public:
        void sendBytes(std::span<const std::uint8_t>) override {}
        void alarm() override {}
    };
    auto session = std::make_unique<tn::TnSession>();
    auto screen = std::make_unique<TnScreen>();
    NullHost host;
    tn::TnDataStream stream(*screen, *session, host);
    tn::TnTelnetFilter filter(*session, host, stream);
    stream.resetScreen();
    if (chunk == 0) chunk = 1;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    for (int round = 0; round < repeat; ++round) {
        for (std::size_t at = 0; at < input.size(); at += chunk)
            filter.receive(std::span(input).subspan(at, std::min(chunk, input.size() - at)));
    }
    const std::clock_t cpuStop = std::clock();
    const auto stop = std::chrono::steady_clock::now();
    return {static_cast<double>(input.size()) * repeat,
            std::chrono::duration<double>(stop - start).count(),
            static_cast<double>(cpuStop - cpuStart) / CLOCKS_PER_SEC};
}

CLI::App* add5250Command(CLI::App& app, Replay5250Command& command) {
    CLI::App* sub = app.add_subcommand(
        "5250", "Replay a 5250 host's bytes (or a step file) through the 5250 terminal");
    sub->add_option("--settings", command.options.settingsPath,
                    "A .qntn settings document instead of the defaults")
        ->type_name("F.qntn");
    sub->add_option("--language", command.options.language, "The session's language (0 to 6)")
        ->type_name("N")
        ->transform(cli::decimal())
        ->check(CLI::Range(0, 6));
    sub->add_option("--chunk", command.options.chunk, "Receive size for raw input")
        ->type_name("N")
        ->transform(cli::decimal())
        ->check(CLI::Range(1, 1 << 30));
    sub->add_flag("--script", command.options.script, "FILE is a step file");
    sub->add_flag("--bench", command.bench, "Time the telnet layer and interpreter alone");
    sub->add_option("--repeat", command.repeat, "Feed the input K times (--bench)")
        ->type_name("K")
        ->transform(cli::decimal())
        ->check(CLI::Range(1, 1000000));
    sub->add_option("FILE", command.file, "The capture (standard input without it)");
    return sub;
}

int runReplay5250(int argc, char** argv) {
    CLI::App app("Shows what the 5250 terminal would display for captured host output.");
    cli::prepare(app, "quillnet-replay");
    app.require_subcommand(1);
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    Replay5250Command command;
    add5250Command(app, command);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    std::ostringstream out, err;
    const std::optional<int> status = cli::parse(app, args, out, err, kReplayUsage);
    std::fputs(out.str().c_str(), stdout);
    std::fputs(err.str().c_str(), stderr);
    if (status) return *status;
    return run5250Command(command);
}

int run5250Command(const Replay5250Command& command) {
    const Tn5250ReplayOptions& options = command.options;
    const bool bench = command.bench;
    const int repeat = command.repeat;
    const std::string& file = command.file;
    std::vector<std::uint8_t> input;
    if (file.empty()) {
        input.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "quillnet-replay: cannot read %s\n", file.c_str());
            return 1;
        }
        input.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    if (bench) {
        const auto result = bench5250(input, options.chunk, repeat);
        auto rate = [&](double seconds) {
            return seconds > 0 ? result.bytes / seconds / 1e6 : 0.0;
        };
        std::printf("bytes=%.0f seconds=%.6f MBps=%.1f cpuSeconds=%.6f cpuMBps=%.1f\n",
                    result.bytes, result.seconds, rate(result.seconds), result.cpuSeconds,
                    rate(result.cpuSeconds));
        return 0;
    }
    const auto result = replay5250(input, options);
    if (result.exitCode != 0) {
        std::fprintf(stderr, "quillnet-replay: %s\n", result.error.c_str());
        return result.exitCode;
    }
    std::fputs(result.json.c_str(), stdout);
    return 0;
}

}  // namespace qn::tools

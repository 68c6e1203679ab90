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

int runReplay5250(int argc, char** argv) {
    auto usage = [] {
        std::fprintf(stderr,
                     "usage: quillnet-replay 5250 [--settings F.qntn] [--language N] [--chunk N] "
                     "[--script] [--bench [--repeat K]] [FILE]\n");
        return 1;
    };
    if (argc < 2 || std::strcmp(argv[1], "5250") != 0) return usage();
    Tn5250ReplayOptions options;
    bool bench = false;
    long repeat = 1;
    std::string file;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](long& out, long low) {
            if (i + 1 >= argc) return false;
            char* end = nullptr;
            out = std::strtol(argv[++i], &end, 10);
            return *end == '\0' && out >= low;
        };
        long n = 0;
        if (arg == "--settings" && i + 1 < argc) {
            options.settingsPath = argv[++i];
        } else if (arg == "--language") {
            if (!value(n, 0) || n > 6) return usage();
            options.language = static_cast<int>(n);
        } else if (arg == "--chunk") {
            if (!value(n, 1)) return usage();
            options.chunk = static_cast<std::size_t>(n);
        } else if (arg == "--repeat") {
            if (!value(repeat, 1)) return usage();
        } else if (arg == "--script") {
            options.script = true;
        } else if (arg == "--bench") {
            bench = true;
        } else if (!arg.starts_with("--") && file.empty()) {
            file = arg;
        } else {
            return usage();
        }
    }

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
        const auto result = bench5250(input, options.chunk, static_cast<int>(repeat));
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

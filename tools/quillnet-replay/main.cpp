// quillnet-replay vt [--settings F.qnvt] [--emulation vt100|classic] [--chunk N] [--script]
//                    [--bench [--repeat K]] [FILE]
// quillnet-replay 5250 [--settings F.qntn] [--language N] [--chunk N] [--script] [--bench] [FILE]
// Shows what the VT terminal would display for captured host output (stdin without FILE).

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/quillnet-replay/replay_5250.h"
#include "tools/quillnet-replay/vt_replay.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: quillnet-replay vt [--settings F.qnvt] [--emulation vt100|classic] "
                 "[--chunk N] [--script] [--bench [--repeat K]] [FILE]\n"
                 "       quillnet-replay 5250 [--settings F.qntn] [--language N] [--chunk N] "
                 "[--script] [--bench [--repeat K]] [FILE]\n");
    return 1;
}

bool readAll(std::istream& in, std::vector<std::uint8_t>& out) {
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "5250") == 0) return qn::tools::runReplay5250(argc, argv);
    if (argc < 2 || std::strcmp(argv[1], "vt") != 0) return usage();
    qn::tools::VtReplayOptions options;
    bool bench = false;
    long repeat = 1;
    std::string file;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](long& value) {
            if (i + 1 >= argc) return false;
            char* end = nullptr;
            value = std::strtol(argv[++i], &end, 10);
            return *end == '\0' && value > 0;
        };
        long value = 0;
        if (arg == "--settings" && i + 1 < argc) {
            options.settingsPath = argv[++i];
        } else if (arg == "--emulation" && i + 1 < argc) {
            const auto emulation = qn::vt::parseVtEmulation(argv[++i]);
            if (!emulation) return usage();
            options.emulation = *emulation;
        } else if (arg == "--chunk") {
            if (!number(value)) return usage();
            options.chunk = static_cast<std::size_t>(value);
        } else if (arg == "--repeat") {
            if (!number(repeat)) return usage();
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
        if (!readAll(std::cin, input)) return 1;
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in || !readAll(in, input)) {
            std::fprintf(stderr, "quillnet-replay: cannot read %s\n", file.c_str());
            return 1;
        }
    }

    if (bench) {
        const auto result =
            qn::tools::benchVt(input, options.chunk, static_cast<int>(repeat), options.emulation);
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

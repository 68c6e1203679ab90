#pragma once
// The shared part of the peer drivers: read a stream file, then feed it K times in N-byte
// chunks to one emulator instance and report the feeding time alone, in the same format as
// `quillnet-replay vt --bench`.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qn::vt::bench {

struct PeerOptions {
    std::string file;
    std::size_t chunk = 1024;
    int repeat = 1;
};

inline bool parsePeerOptions(int argc, char** argv, PeerOptions& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--chunk") == 0 && i + 1 < argc) {
            options.chunk = std::strtoul(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            options.repeat = std::atoi(argv[++i]);
        } else if (argv[i][0] != '-' && options.file.empty()) {
            options.file = argv[i];
        } else {
            return false;
        }
    }
    return !options.file.empty() && options.chunk > 0 && options.repeat > 0;
}

// Runs feed(data, length) over the file and prints bytes=... seconds=... MBps=...
template <typename Feed>
int runPeer(int argc, char** argv, const char* name, Feed&& feed) {
    PeerOptions options;
    if (!parsePeerOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s FILE [--chunk N] [--repeat K]\n", name);
        return 2;
    }
    std::ifstream in(options.file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot read %s\n", name, options.file.c_str());
        return 1;
    }
    const std::vector<char> data((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < options.repeat; ++round) {
        for (std::size_t at = 0; at < data.size(); at += options.chunk) {
            feed(data.data() + at, std::min(options.chunk, data.size() - at));
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double bytes = static_cast<double>(data.size()) * options.repeat;
    std::printf("bytes=%.0f seconds=%.6f MBps=%.1f\n", bytes, seconds, bytes / seconds / 1e6);
    return 0;
}

}  // namespace qn::vt::bench

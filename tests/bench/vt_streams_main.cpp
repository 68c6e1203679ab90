// Writes the benchmark streams: qn-vt-streams DIR [BYTES] writes DIR/<name>.vt for each kind.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/bench/vt_streams.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: qn-vt-streams DIR [BYTES]\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const std::size_t bytes =
        argc == 3 ? std::strtoull(argv[2], nullptr, 10) : qn::vt::bench::kDefaultStreamBytes;
    std::filesystem::create_directories(dir);
    for (const auto& info : qn::vt::bench::kStreams) {
        const std::string stream = qn::vt::bench::makeStream(info.kind, bytes);
        const auto path = dir / (std::string(info.name) + ".vt");
        std::ofstream out(path, std::ios::binary);
        out.write(stream.data(), static_cast<std::streamsize>(stream.size()));
        if (!out) {
            std::fprintf(stderr, "qn-vt-streams: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}

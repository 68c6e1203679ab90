// quillnet-demohost vt|5250 [--port N] [--once] [--sessions N] [--tls-cert F --tls-key F]: a
// demo telnet host on 127.0.0.1, for the VT program or the 5250 program; with --sessions, N
// sessions at a time; over TLS with the certificate and key given. Prints "port N" once it
// listens, so scripts and tests can connect to a free port.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/quillnet-demohost/demo_host.h"

int main(int argc, char** argv) {
    constexpr const char* kUsage =
        "usage: quillnet-demohost vt|5250 [--port N] [--once] [--sessions N]\n"
        "       [--tls-cert F --tls-key F]\n";
    qn::tools::DemoHostOptions options;
    if (argc >= 2 && std::strcmp(argv[1], "5250") == 0) {
        options.protocol = qn::tools::DemoProtocol::Tn5250;
    } else if (argc < 2 || std::strcmp(argv[1], "vt") != 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            char* end = nullptr;
            long port = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != 0 || port < 0 || port > 65535) {
                std::fputs(kUsage, stderr);
                return 2;
            }
            options.port = static_cast<std::uint16_t>(port);
        } else if (std::strcmp(argv[i], "--sessions") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long sessions = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != 0 || sessions < 1 || sessions > 1000) {
                std::fputs(kUsage, stderr);
                return 2;
            }
            options.sessions = static_cast<int>(sessions);
        } else if (std::strcmp(argv[i], "--tls-cert") == 0 && i + 1 < argc) {
            options.tlsCert = argv[++i];
        } else if (std::strcmp(argv[i], "--tls-key") == 0 && i + 1 < argc) {
            options.tlsKey = argv[++i];
        } else if (std::strcmp(argv[i], "--once") == 0) {
            options.once = true;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    qn::tools::DemoHost host(options);
    if (!host.tlsError().empty()) {
        std::fprintf(stderr, "quillnet-demohost: %s\n", host.tlsError().c_str());
        return 1;
    }
    if (!host.listening()) {
        std::fprintf(stderr, "quillnet-demohost: cannot listen on 127.0.0.1:%u\n",
                     static_cast<unsigned>(options.port));
        return 1;
    }
    std::printf("port %u\n", static_cast<unsigned>(host.port()));
    std::fflush(stdout);
    host.run();
    return 0;
}

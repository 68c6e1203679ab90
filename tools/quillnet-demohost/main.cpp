// quillnet-demohost vt|5250 [--port N] [--once] [--sessions N] [--tls-cert F --tls-key F]: a
// demo telnet host on 127.0.0.1, for the VT program or the 5250 program; with --sessions, N
// sessions at a time; over TLS with the certificate and key given. Prints "port N" once it
// listens, so scripts and tests can connect to a free port.

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/cli/cli.h"
#include "tools/quillnet-demohost/demo_host.h"

int main(int argc, char** argv) {
    constexpr int kExitUsage = 2;
    CLI::App app(
        "A demo telnet host on 127.0.0.1 for either program. Prints \"port N\" once it "
        "listens.");
    qn::cli::prepare(app, "quillnet-demohost");
    app.require_subcommand(1);
    // An option given twice counts with its last value, as scripts append overrides.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    qn::tools::DemoHostOptions options;
    for (const char* name : {"vt", "5250"}) {
        CLI::App* kind = app.add_subcommand(
            name, std::string("A host for the ") + (name[0] == 'v' ? "VT" : "5250") + " program");
        kind->callback([&options, name] {
            options.protocol =
                name[0] == 'v' ? qn::tools::DemoProtocol::Vt : qn::tools::DemoProtocol::Tn5250;
        });
        kind->add_option("--port", options.port, "The port to listen on (0: a free one)")
            ->type_name("N")
            ->transform(qn::cli::decimal())
            ->check(CLI::Range(0, 65535));
        kind->add_flag("--once", options.once, "End after the first session");
        kind->add_option("--sessions", options.sessions, "Serve up to N sessions at a time")
            ->type_name("N")
            ->transform(qn::cli::decimal())
            ->check(CLI::Range(1, 1000));
        CLI::Option* cert =
            kind->add_option("--tls-cert", options.tlsCert, "Serve TLS with this certificate (PEM)")
                ->type_name("F");
        CLI::Option* key =
            kind->add_option("--tls-key", options.tlsKey, "The certificate's private key (PEM)")
                ->type_name("F");
        cert->needs(key);
        key->needs(cert);
    }
    std::ostringstream out, err;
    const std::optional<int> status =
        qn::cli::parse(app, std::vector<std::string>(argv + 1, argv + argc), out, err, kExitUsage);
    std::fputs(out.str().c_str(), stdout);
    std::fputs(err.str().c_str(), stderr);
    if (status) return *status;

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

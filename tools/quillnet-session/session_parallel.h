#pragma once
// quillnet-session --parallel N: the script in N independent sessions in one process, to load a
// host. Every session is the program's telnet layer, interpreter or emulator, field editor, key
// map and decode handling on a non-blocking socket, over TLS when the host's options ask for it
// (as a single session's connect decides); one thread drives them all from one epoll loop, each
// session a step machine that waits for host bytes or a timer, never for a thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "common/telnet/connection_options.h"
#include "tools/quillnet-replay/script_steps.h"
#include "tools/quillnet-session/session_extras.h"
#include "vt/emulator/vt_emulator.h"

namespace qn::tools {

struct ParallelRequest {
    bool tn5250 = false;
    std::string host;  // a dotted IPv4 address or a name, "tls:" before it for TLS
    std::uint16_t port = 23;
    std::optional<std::string> settings;
    std::chrono::steady_clock::time_point deadline;
    ExtraOptions extra;
    Script script;
    std::vector<std::string> lines;  // the script's lines, for the step names
    vt::VtEmulation emulation = vt::VtEmulation::Vt100;
    // Over connections.ini's options for the host (the command line's TLS options).
    std::function<void(telnet::ConnectionOptions&)> overrides;
};

// Per step of the script: how long it took in the sessions that got to it, and how many failed
// there.
struct StepFigures {
    int line = 0;
    std::string text;
    std::vector<double> milliseconds;  // sorted
    int failures = 0;
};

// The nearest-rank percentile of sorted values (0 when there are none).
double percentile(const std::vector<double>& sorted, double fraction);

// Runs the sessions (the connect, and with TLS the handshake, timed apart from the steps);
// prints the figures to `out`, each failing session's first failure to
// `err`; one case per session into `cases`. Returns 0 when every session ran its script, else
// the exit status of the first session (by number) that did not.
int runParallel(const ParallelRequest& request, std::ostream& out, std::ostream& err,
                std::vector<CaseReport>& cases, std::ostream* transcript);

}  // namespace qn::tools

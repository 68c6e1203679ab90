#pragma once
// quillnet-session: one of the two programs, headless, against a live host, driven by a script.
//
//   quillnet-session vt|5250 --host H [--port P] [--settings F] [--timeout S]
//       [--tls] [--ca-file F] [--insecure] [--junit F] [--transcript F]
//       [--device-name PATTERN] [--serve | --parallel N [--ramp S] | SCRIPT]
//
// The connection's options come from connections.ini in the settings folder, as in the
// programs; --tls asks for TLS (the host text's "tls:" prefix), --ca-file adds a trusted CA and
// --insecure turns the certificate checks off.
//
// vt also takes --emulation vt100|classic (vt100 unless given): the rules the emulator follows.
// The program's own connection, telnet layer, emulator or interpreter, field editor, key map
// and decode handling run as in the program, with a scripted reader library for the scan and
// rfid steps and without a display. The script (SCRIPT, else standard input) is in the step
// language of tools/quillnet-replay/script_steps.h. It connects only to H: the settings
// document's host is never used. The port is P, else the document's, else 23.
//
// --serve takes the steps one JSON line at a time on standard input and answers each on
// standard output (session_extras.h); --parallel runs N sessions from one event loop
// (session_parallel.h).
//
// Standard output carries what dump steps print. Standard error carries the program's
// connection messages with their exact texts, one a line ("Server Closed!", "Can not establish
// connection", ...), and, when a step fails, what failed and the screen as it stood.

#include <chrono>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace qn::tools {

inline constexpr int kSessionDone = 0;            // every step ran
inline constexpr int kSessionBadInput = 2;        // command line, script or settings document
inline constexpr int kSessionWaitTimedOut = 3;    // a wait did not see its text in time
inline constexpr int kSessionCheckFailed = 4;     // expect, cursor or field found otherwise
inline constexpr int kSessionNoConnection = 5;    // the connect failed, or a step came after
                                                  // the script's own disconnect
inline constexpr int kSessionHostClosed = 6;      // "Server Closed!" before the script ended
inline constexpr int kSessionConnectionLost = 7;  // the connection failed under the script, or
                                                  // its TLS handshake or certificate did
inline constexpr int kSessionTimedOut = 8;        // the global --timeout ran out

// The handheld every session runs as (its model and name), single or parallel.
inline constexpr std::string_view kSessionRegistry =
    "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\nName=QNSESSION\n";

inline constexpr std::chrono::seconds kDefaultSessionTimeout{60};
inline constexpr std::chrono::seconds kDefaultWaitTimeout{10};

struct SessionToolIo {
    std::istream& script;  // read when no SCRIPT file is named
    std::ostream& out;
    std::ostream& err;
    // The command-line program: when the global time-out runs out while the program itself
    // blocks (a connect or a send that does not return), the process ends with status 8.
    bool exitOnStall = false;
};

// Runs one command line (without the program name); returns the exit status.
int runSessionTool(const std::vector<std::string>& args, SessionToolIo io);

}  // namespace qn::tools

#pragma once
// A real telnet server for one connection: the system's telnetd (inetutils), started on the
// connection that a listener of the test's own accepted on 127.0.0.1, with a shell in place of
// login. Stopped (and waited for) when the object goes.

#include <sys/types.h>

#include <chrono>
#include <cstdint>

namespace qn::test {

class RealTelnetServer {
  public:
    static constexpr const char* kTelnetd = "/usr/sbin/telnetd";
    // Whether the server program is installed (scripts/setup installs it).
    static bool available();

    // Listens on a free port of 127.0.0.1 only.
    RealTelnetServer();
    ~RealTelnetServer();
    RealTelnetServer(const RealTelnetServer&) = delete;
    RealTelnetServer& operator=(const RealTelnetServer&) = delete;

    std::uint16_t port() const { return port_; }
    // Accepts one connection and starts the server on it. False on time-out or when the
    // server could not start.
    bool serveOne(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // True once the server has ended by itself (the shell logged out), within the time-out.
    bool waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(5));

  private:
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    pid_t server_ = -1;
};

}  // namespace qn::test

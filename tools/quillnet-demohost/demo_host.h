#pragma once
// A small telnet host for trying the VT program and for end-to-end tests: it negotiates like a
// real server, signs the user on and serves a warehouse picking screen. It listens on the
// loopback address only.

#include <cstdint>
#include <string>
#include <vector>

namespace qn::tools {

struct DemoHostOptions {
    std::uint16_t port = 0;  // 0: a free port
    bool once = false;       // end after the first session
};

class DemoHost {
  public:
    explicit DemoHost(const DemoHostOptions& options);
    ~DemoHost();
    DemoHost(const DemoHost&) = delete;
    DemoHost& operator=(const DemoHost&) = delete;

    // False when the socket could not be bound.
    bool listening() const { return listenFd_ >= 0; }
    std::uint16_t port() const { return port_; }
    // Serves sessions one after another (one only with once).
    void run();
    // Ends run() from another thread: no further session is accepted.
    void stop();

  private:
    class Session;
    DemoHostOptions options_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace qn::tools

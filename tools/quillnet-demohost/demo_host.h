#pragma once
// A small telnet host for trying the programs and for end-to-end tests: it negotiates like a
// real server, signs the user on and serves a warehouse picking screen, as a VT host or as a
// 5250 host. It listens on the loopback address only.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace qn::tools {

enum class DemoProtocol : std::uint8_t { Vt, Tn5250 };

struct DemoHostOptions {
    std::uint16_t port = 0;  // 0: a free port
    bool once = false;       // end after the first session
    // Sessions served at the same time, each on its own thread (load tests); 1 serves them one
    // after another.
    int sessions = 1;
    DemoProtocol protocol = DemoProtocol::Vt;
    // 5250: every record the station sends (IAC EOR taken off, doubled 0xFF undone), on the
    // host's thread; for tests that check the exact bytes.
    std::function<void(const std::vector<std::uint8_t>&)> inboundRecord;
    // TLS with this certificate and key (PEM) when both are set.
    std::string tlsCert;
    std::string tlsKey;
};

class TlsFront;

class DemoHost {
  public:
    explicit DemoHost(const DemoHostOptions& options);
    ~DemoHost();
    DemoHost(const DemoHost&) = delete;
    DemoHost& operator=(const DemoHost&) = delete;

    // False when the socket could not be bound, or the TLS certificate not used.
    bool listening() const { return listenFd_ >= 0 && tlsError_.empty(); }
    // Why the TLS certificate or key could not be used; empty otherwise.
    const std::string& tlsError() const { return tlsError_; }
    std::uint16_t port() const { return port_; }
    // Serves sessions one after another (one only with once).
    void run();
    // Ends run() from another thread: no further session is accepted, and the session being
    // served is cut off.
    void stop();

  private:
    class Session;
    void serve(int client);
    void runConcurrent();
    DemoHostOptions options_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::mutex sessionMutex_;  // the session descriptor is only shut while it is open
    int sessionFd_ = -1;
    std::set<int> sessionFds_;  // concurrent sessions being served
    std::condition_variable slotFree_;
    std::atomic<bool> stopping_{false};
    std::unique_ptr<TlsFront> tls_;
    std::string tlsError_;
};

}  // namespace qn::tools

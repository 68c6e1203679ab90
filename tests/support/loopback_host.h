#pragma once
// A scripted host for connection tests: listens on 127.0.0.1 on a free port, accepts one
// client, sends what the test tells it and collects everything the client sends.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace qn::test {

class LoopbackHost {
  public:
    LoopbackHost();
    ~LoopbackHost();
    LoopbackHost(const LoopbackHost&) = delete;
    LoopbackHost& operator=(const LoopbackHost&) = delete;

    std::uint16_t port() const { return port_; }

    // Waits for the client's connection; false on time-out.
    bool waitForClient(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    void send(std::span<const std::uint8_t> bytes);
    void send(std::string_view text);
    // Closes the client's connection from the host side.
    void closeClient();
    // Aborts it instead: the client's receive fails with a reset rather than reading an end.
    void resetClient();

    // Waits until at least n bytes have arrived from the client; returns what has arrived.
    std::vector<std::uint8_t> waitForBytes(
        std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::vector<std::uint8_t> received() const;
    // True once the client closed its side.
    bool waitForClientClose(std::chrono::milliseconds timeout = std::chrono::seconds(5));

  protected:
    // The accepted client's socket, -1 before the client came.
    int clientSocket() const;

  private:
    void serve();

    int listenFd_ = -1;
    int clientFd_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint8_t> received_;
    bool clientClosed_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound, then released).
std::uint16_t unusedLoopbackPort();

}  // namespace qn::test

#pragma once
// A loopback host that misbehaves on purpose, for the transports' fault tests: besides the
// reset of every loopback host, it trickles its output a byte at a time, or sends without end
// (an endless sub-negotiation, a flood) on a thread of its own while the test goes on.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <thread>
#include <vector>

#include "tests/support/loopback_host.h"

namespace qn::test {

class FaultHost final : public LoopbackHost {
  public:
    // Fills the buffer with the next piece of an endless output.
    using Generator = std::function<void(std::vector<std::uint8_t>& next)>;

    FaultHost() = default;
    ~FaultHost();

    // Sends the bytes one at a time, each in its own segment.
    void trickle(std::span<const std::uint8_t> bytes, std::chrono::microseconds gap);
    // Sends what the generator makes until stopStream, until the client goes away or until
    // limit bytes went out.
    void startStream(Generator generator, std::size_t limit = SIZE_MAX);
    // Stops the stream and returns how many bytes it sent.
    std::size_t stopStream();
    std::size_t streamed() const { return streamed_.load(); }
    // True once the stream ended by itself (the client closed, or the limit was reached).
    bool streamEnded() const { return streamEnded_.load(); }

  private:
    std::thread streamer_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> streamEnded_{false};
    std::atomic<std::size_t> streamed_{0};
};

// Endless outputs for startStream: one byte over and over, or pseudo-random bytes from a seed
// (the same flood on every run).
FaultHost::Generator repeatedBytes(std::uint8_t byte);
FaultHost::Generator randomBytes(std::uint32_t seed);

// The bytes this process holds from operator new at the moment, over all threads: the
// measure of "memory stays flat" while a host floods the connection.
std::int64_t liveHeapBytes();

}  // namespace qn::test

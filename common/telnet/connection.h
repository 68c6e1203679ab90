#pragma once
// The one TCP connection of a session: host text rules, the blocking socket, and the read
// thread's receive loop. The protocol above it (telnet filter, emulator) is each program's own.

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/telnet/telnet.h"
#include "platform/clock.h"

namespace qn::telnet {

class HostResolver {
  public:
    virtual ~HostResolver() = default;
    // The first IPv4 address of a host name, or nullopt when it does not resolve.
    virtual std::optional<in_addr> resolveName(const std::string& name) = 0;
};

class SystemResolver final : public HostResolver {
  public:
    std::optional<in_addr> resolveName(const std::string& name) override;
};

enum class HostError { None, NameNotResolved, InvalidAddress };

struct HostLookup {
    sockaddr_in address{};
    HostError error = HostError::None;
};

// A host text whose first character is a digit is a dotted IPv4 address and is never looked
// up by name; any other text is a host name. The port is in host order.
HostLookup resolveHost(std::string_view hostText, std::uint16_t port, HostResolver& resolver);

enum class ReceiveStatus {
    Data,         // bytes arrived
    Closed,       // the host closed the connection
    Failed,       // a receive error
    Interrupted,  // our own disconnect ended the receive
};

struct ReceiveResult {
    ReceiveStatus status = ReceiveStatus::Failed;
    std::size_t size = 0;
};

// A blocking TCP socket shared by the UI thread (sends, disconnect) and the read thread
// (receives, sends). The descriptor is closed when the last owner lets go, so a disconnect on
// one thread never leaves the other using a reused descriptor.
class Socket : public ByteSender {
  public:
    static std::shared_ptr<Socket> create();
    ~Socket() override;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool connect(const sockaddr_in& address);
    // One blocking send of all the bytes; errors are not reported (the receive finds them).
    void sendBytes(std::span<const std::uint8_t> bytes) override;
    ReceiveResult receive(std::span<std::uint8_t> buffer);
    // Our own disconnect: wakes a blocked receive, which then reports Interrupted.
    void shutdownLocal();
    bool closedLocally() const { return closedLocally_.load(); }

  private:
    explicit Socket(int fd) : fd_(fd) {}
    const int fd_;
    std::mutex sendMutex_;  // a send is whole: two threads never interleave their bytes
    std::atomic<bool> closedLocally_{false};
};

// What the read thread does around each receive; the program provides it.
class ReadLoopClient {
  public:
    virtual ~ReadLoopClient() = default;
    // One received chunk, in order.
    virtual void received(std::span<const std::uint8_t> bytes) = 0;
    // After each chunk: repaint request, automatic sign-on.
    virtual void afterChunk() = 0;
    // The loop has ended; the client shows its message and tears the connection down.
    virtual void ended(ReceiveStatus why) = 0;
};

inline constexpr std::size_t kReceiveChunk = 1024;

// Receives up to 1024 bytes at a time until the connection ends, pausing after each pass.
void runReadLoop(Socket& socket, ReadLoopClient& client, platform::Clock& clock,
                 std::chrono::milliseconds pauseAfterPass);

}  // namespace qn::telnet

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
#include <vector>

#include "common/telnet/connection_options.h"
#include "common/telnet/telnet.h"
#include "common/telnet/tls.h"
#include "platform/clock.h"

namespace qn::telnet {

// One address to connect to, IPv4 or IPv6, with the port.
struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;

    static Endpoint fromIpv4(const sockaddr_in& address);
    static Endpoint fromIpv6(const sockaddr_in6& address);
    int family() const { return address.ss_family; }
    std::uint16_t port() const;
    // The address in text ("127.0.0.1", "::1"), for messages and the certificate check.
    std::string text() const;
};

class HostResolver {
  public:
    virtual ~HostResolver() = default;
    // The first IPv4 address of a host name, or nullopt when it does not resolve.
    virtual std::optional<in_addr> resolveName(const std::string& name) = 0;
    // Every address of a host name, in the order to try them. The default is the one address
    // of resolveName.
    virtual std::vector<Endpoint> resolveAll(const std::string& name, std::uint16_t port);
};

// getaddrinfo: IPv6 and IPv4 addresses in the system's preferred order.
class SystemResolver final : public HostResolver {
  public:
    std::optional<in_addr> resolveName(const std::string& name) override;
    std::vector<Endpoint> resolveAll(const std::string& name, std::uint16_t port) override;
};

enum class HostError { None, NameNotResolved, InvalidAddress };

struct HostLookup {
    std::vector<Endpoint> addresses;
    HostError error = HostError::None;
};

// A host text with a colon is an IPv6 address (brackets allowed); one whose first character is
// a digit is a dotted IPv4 address. Neither is ever looked up by name; any other text is a
// host name. The port is in host order.
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

enum class ConnectResult { Connected, SocketFailed, Failed, TimedOut, Cancelled };

// A TCP socket shared by the UI thread (sends, disconnect) and the read thread (receives,
// sends). The descriptor is closed when the last owner lets go, so a disconnect on one thread
// never leaves the other using a reused descriptor.
//
// With TLS, the transformer sits between the socket and its callers under one lock: the read
// thread receives ciphertext without it and decrypts under it; a send encrypts under it and
// sends with only the send lock, which keeps the records in the order they were made.
class Socket : public ByteSender {
  public:
    static std::shared_ptr<Socket> create();
    ~Socket() override;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // A blocking IPv4 connect without a time-out.
    bool connect(const sockaddr_in& address);
    // Each address in order until one connects, all within the time-out; shutdownLocal from
    // another thread cancels it.
    ConnectResult connect(std::span<const Endpoint> addresses, std::chrono::milliseconds timeout);
    // TCP keep-alive probes, so a silently dead peer ends the receive with an error.
    void setKeepAlive(const KeepAlive& keepalive);
    // The TLS handshake, bounded by the deadline; nothing is sent in clear on this socket from
    // here on. False with the reason in error ("" when cancelled).
    bool startTls(std::unique_ptr<TlsClient> tls, std::chrono::steady_clock::time_point deadline,
                  std::string& error);
    // From before the connect of a TLS connection: sends are dropped until the handshake is
    // done, so nothing goes out in clear.
    void requireTls() { mode_.store(Mode::TlsPending); }
    bool usesTls() const { return mode_.load() != Mode::Plain; }
    // Why a TLS connection ended ("" when it closed cleanly or is plain).
    std::string tlsError() const;

    // One blocking send of all the bytes; errors are not reported (the receive finds them).
    void sendBytes(std::span<const std::uint8_t> bytes) override;
    ReceiveResult receive(std::span<std::uint8_t> buffer);
    // Our own disconnect: wakes a blocked receive, which then reports Interrupted, and ends a
    // connect or handshake in progress.
    void shutdownLocal();
    bool closedLocally() const { return closedLocally_.load(); }

  private:
    Socket() = default;
    int fd() const { return fd_.load(); }
    void sendRaw(std::span<const std::uint8_t> bytes);
    // Sends what the transformer has queued, in order; takes the send lock.
    void flushTls();
    ReceiveResult receivePlain(std::span<std::uint8_t> buffer);
    ReceiveResult receiveTls(std::span<std::uint8_t> buffer);

    std::atomic<int> fd_{-1};
    std::mutex fdMutex_;    // a descriptor is replaced or shut down whole
    std::mutex sendMutex_;  // a send is whole: two threads never interleave their bytes
    std::atomic<bool> closedLocally_{false};

    enum class Mode { Plain, TlsPending, Tls };
    std::atomic<Mode> mode_{Mode::Plain};
    std::unique_ptr<TlsClient> tls_;  // set once, before mode_ becomes Tls
    mutable std::mutex tlsMutex_;     // the transformer, its output queue and the plaintext
    std::vector<std::uint8_t> tlsOut_;
    std::vector<std::uint8_t> plain_;
    std::size_t plainRead_ = 0;
    std::vector<std::uint8_t> cipherIn_;  // read thread only
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

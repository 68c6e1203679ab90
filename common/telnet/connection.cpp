#include "common/telnet/connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace qn::telnet {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Connect and handshake waits are cut into slices, so a disconnect or a cancel is seen soon.
constexpr std::chrono::milliseconds kWaitSlice{50};
// Ciphertext taken in by one receive.
constexpr std::size_t kCipherChunk = 16 * 1024;

bool setBlocking(int fd, bool blocking) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    return fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

// Waits for the events until the deadline, in slices; 1 ready, 0 timed out, -1 error or stop.
int waitFor(int fd, short events, SteadyClock::time_point deadline, const std::atomic<bool>& stop) {
    while (!stop.load()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) return 0;
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(std::min(left, kWaitSlice).count()));
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) return -1;
        if (rc > 0) return 1;
    }
    return -1;
}

}  // namespace

Endpoint Endpoint::fromIpv4(const sockaddr_in& address) {
    Endpoint endpoint;
    std::memcpy(&endpoint.address, &address, sizeof address);
    endpoint.length = sizeof address;
    return endpoint;
}

Endpoint Endpoint::fromIpv6(const sockaddr_in6& address) {
    Endpoint endpoint;
    std::memcpy(&endpoint.address, &address, sizeof address);
    endpoint.length = sizeof address;
    return endpoint;
}

std::uint16_t Endpoint::port() const {
    if (family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

std::string Endpoint::text() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (family() == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text,
                  sizeof text);
    } else {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text,
                  sizeof text);
    }
    return text;
}

std::vector<Endpoint> HostResolver::resolveAll(const std::string& name, std::uint16_t port) {
    const auto address = resolveName(name);
    if (!address) return {};
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    v4.sin_addr = *address;
    return {Endpoint::fromIpv4(v4)};
}

std::optional<in_addr> SystemResolver::resolveName(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
        return std::nullopt;
    }
    in_addr address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr;
    freeaddrinfo(result);
    return address;
}

std::vector<Endpoint> SystemResolver::resolveAll(const std::string& name, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* result = nullptr;
    if (name.empty() || getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0) return {};
    std::vector<Endpoint> endpoints;
    // A name with many addresses is tried in the first few only: each may take a time-out.
    constexpr std::size_t kMaxAddresses = 8;
    for (addrinfo* a = result; a != nullptr && endpoints.size() < kMaxAddresses; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in v4 = *reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            v4.sin_port = htons(port);
            endpoints.push_back(Endpoint::fromIpv4(v4));
        } else if (a->ai_family == AF_INET6 && a->ai_addrlen >= sizeof(sockaddr_in6)) {
            sockaddr_in6 v6 = *reinterpret_cast<const sockaddr_in6*>(a->ai_addr);
            v6.sin6_port = htons(port);
            endpoints.push_back(Endpoint::fromIpv6(v6));
        }
    }
    freeaddrinfo(result);
    return endpoints;
}

HostLookup resolveHost(std::string_view hostText, std::uint16_t port, HostResolver& resolver) {
    HostLookup lookup;
    std::string text(hostText.substr(0, hostText.find('\0')));
    if (text.find(':') != std::string::npos) {
        if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
            text = text.substr(1, text.size() - 2);
        }
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        if (inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) != 1) {
            lookup.error = HostError::InvalidAddress;
        } else {
            lookup.addresses.push_back(Endpoint::fromIpv6(v6));
        }
        return lookup;
    }
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        lookup.addresses = resolver.resolveAll(text, port);
        if (lookup.addresses.empty()) lookup.error = HostError::NameNotResolved;
        return lookup;
    }
    // inet_addr's rules: dotted parts in decimal, octal or hex; the broadcast address cannot be
    // told from a failure and is refused as well.
    in_addr_t address = inet_addr(text.c_str());
    if (address == INADDR_NONE) {
        lookup.error = HostError::InvalidAddress;
        return lookup;
    }
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    v4.sin_addr.s_addr = address;
    lookup.addresses.push_back(Endpoint::fromIpv4(v4));
    return lookup;
}

std::shared_ptr<Socket> Socket::create() {
    return std::shared_ptr<Socket>(new Socket());
}

Socket::~Socket() {
    if (fd() >= 0) ::close(fd());
}

bool Socket::connect(const sockaddr_in& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return false;
    {
        std::lock_guard lock(fdMutex_);
        if (fd_.load() >= 0) ::close(fd_.load());
        fd_.store(fd);
    }
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

ConnectResult Socket::connect(std::span<const Endpoint> addresses,
                              std::chrono::milliseconds timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    ConnectResult result = ConnectResult::Failed;
    for (const Endpoint& endpoint : addresses) {
        const int fd =
            ::socket(endpoint.family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
        if (fd < 0) {
            result = ConnectResult::SocketFailed;
            continue;
        }
        {
            std::lock_guard lock(fdMutex_);
            if (fd_.load() >= 0) ::close(fd_.load());
            fd_.store(fd);
            if (closedLocally()) return ConnectResult::Cancelled;
        }
        int rc =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length);
        if (rc != 0 && (errno == EINPROGRESS || errno == EINTR)) {
            const int ready = waitFor(fd, POLLOUT, deadline, closedLocally_);
            if (closedLocally()) return ConnectResult::Cancelled;
            if (ready == 0) return ConnectResult::TimedOut;
            int error = 0;
            socklen_t length = sizeof error;
            rc = (ready == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
                  error == 0)
                     ? 0
                     : -1;
        }
        if (rc == 0 && setBlocking(fd, true)) return ConnectResult::Connected;
        result = ConnectResult::Failed;
        if (SteadyClock::now() >= deadline) return ConnectResult::TimedOut;
    }
    return result;
}

void Socket::setKeepAlive(const KeepAlive& keepalive) {
    const int fd = this->fd();
    const int on = keepalive.on ? 1 : 0;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    if (!keepalive.on) return;
    const int idle = static_cast<int>(keepalive.idle.count());
    const int interval = static_cast<int>(keepalive.interval.count());
    const int probes = keepalive.probes;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    // Sent data that is never acknowledged ends the connection in the same time.
    const unsigned int userTimeout = static_cast<unsigned int>((idle + interval * probes) * 1000);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

bool Socket::startTls(std::unique_ptr<TlsClient> tls, SteadyClock::time_point deadline,
                      std::string& error) {
    const int fd = this->fd();
    if (fd < 0 || !setBlocking(fd, false)) {
        error = "TLS handshake failed: no connection";
        return false;
    }
    std::vector<std::uint8_t> out;
    std::array<std::uint8_t, kCipherChunk> in;
    auto fail = [&](std::string why) {
        error = closedLocally() ? std::string() : std::move(why);
        return false;
    };
    while (true) {
        const TlsClient::Step step = tls->handshake();
        out.clear();
        tls->takeOutput(out);
        for (std::size_t sent = 0; sent < out.size();) {
            const ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (waitFor(fd, POLLOUT, deadline, closedLocally_) == 1) continue;
                return fail("TLS handshake timed out");
            }
            return fail("TLS handshake failed: the connection was lost");
        }
        if (step == TlsClient::Step::Failed) return fail(tls->error());
        if (step == TlsClient::Step::Done) break;
        const int ready = waitFor(fd, POLLIN, deadline, closedLocally_);
        if (ready == 0) return fail("TLS handshake timed out");
        if (ready < 0) return fail("TLS handshake failed: the connection was lost");
        const ssize_t n = ::recv(fd, in.data(), in.size(), 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n == 0) return fail("TLS handshake failed: the host closed the connection");
        if (n < 0) return fail("TLS handshake failed: the connection was lost");
        tls->feed({in.data(), static_cast<std::size_t>(n)});
    }
    if (!setBlocking(fd, true)) return fail("TLS handshake failed: no connection");
    std::lock_guard lock(tlsMutex_);
    tls_ = std::move(tls);
    cipherIn_.resize(kCipherChunk);
    mode_.store(Mode::Tls);
    return true;
}

std::string Socket::tlsError() const {
    std::lock_guard lock(tlsMutex_);
    return tls_ ? tls_->error() : std::string();
}

void Socket::sendRaw(std::span<const std::uint8_t> bytes) {
    const int fd = this->fd();
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void Socket::flushTls() {
    std::lock_guard send(sendMutex_);
    std::vector<std::uint8_t> out;
    {
        std::lock_guard lock(tlsMutex_);
        out.swap(tlsOut_);
    }
    sendRaw(out);
}

void Socket::sendBytes(std::span<const std::uint8_t> bytes) {
    std::lock_guard send(sendMutex_);
    const Mode mode = mode_.load();
    if (mode == Mode::Plain) {
        sendRaw(bytes);
        return;
    }
    if (mode == Mode::TlsPending) return;
    std::vector<std::uint8_t> out;
    {
        std::lock_guard lock(tlsMutex_);
        if (!tls_->write(bytes)) return;
        tls_->takeOutput(tlsOut_);
        out.swap(tlsOut_);
    }
    sendRaw(out);
}

ReceiveResult Socket::receive(std::span<std::uint8_t> buffer) {
    switch (mode_.load()) {
        case Mode::Plain:
            return receivePlain(buffer);
        case Mode::Tls:
            return receiveTls(buffer);
        case Mode::TlsPending:
            break;
    }
    return {ReceiveStatus::Failed, 0};
}

ReceiveResult Socket::receivePlain(std::span<std::uint8_t> buffer) {
    while (true) {
        ssize_t n = ::recv(fd(), buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR && !closedLocally()) continue;
        if (closedLocally()) return {ReceiveStatus::Interrupted, 0};
        if (n < 0) return {ReceiveStatus::Failed, 0};
        if (n == 0) return {ReceiveStatus::Closed, 0};
        return {ReceiveStatus::Data, static_cast<std::size_t>(n)};
    }
}

ReceiveResult Socket::receiveTls(std::span<std::uint8_t> buffer) {
    std::size_t fed = 0;  // ciphertext from the last receive, decrypted below
    while (true) {
        TlsClient::ReadStatus status;
        bool output;
        std::size_t n = 0;
        {
            std::lock_guard lock(tlsMutex_);
            if (plainRead_ == plain_.size()) {
                plain_.clear();
                plainRead_ = 0;
            }
            tls_->feed({cipherIn_.data(), fed});
            // The handshake's last flight may have carried the host's first bytes already.
            status = tls_->read(plain_);
            tls_->takeOutput(tlsOut_);
            output = !tlsOut_.empty();
            n = std::min(buffer.size(), plain_.size() - plainRead_);
            std::copy_n(plain_.begin() + static_cast<std::ptrdiff_t>(plainRead_), n,
                        buffer.begin());
            plainRead_ += n;
        }
        // Answers the layer owes the host (a key update) go out in order with the sends.
        if (output) flushTls();
        if (n > 0) return {ReceiveStatus::Data, n};
        if (closedLocally()) return {ReceiveStatus::Interrupted, 0};
        if (status == TlsClient::ReadStatus::Closed) return {ReceiveStatus::Closed, 0};
        if (status == TlsClient::ReadStatus::Failed) return {ReceiveStatus::Failed, 0};
        const ReceiveResult raw = receivePlain(cipherIn_);
        if (raw.status != ReceiveStatus::Data) return raw;
        fed = raw.size;
    }
}

void Socket::shutdownLocal() {
    std::lock_guard lock(fdMutex_);
    closedLocally_.store(true);
    if (fd_.load() >= 0) ::shutdown(fd_.load(), SHUT_RDWR);
}

void runReadLoop(Socket& socket, ReadLoopClient& client, platform::Clock& clock,
                 std::chrono::milliseconds pauseAfterPass) {
    std::array<std::uint8_t, kReceiveChunk> buffer;
    while (true) {
        buffer.fill(0);
        ReceiveResult result = socket.receive(buffer);
        if (result.status != ReceiveStatus::Data) {
            client.ended(result.status);
            return;
        }
        client.received(std::span<const std::uint8_t>(buffer.data(), result.size));
        client.afterChunk();
        if (pauseAfterPass.count() > 0) clock.sleepFor(pauseAfterPass);
        if (socket.closedLocally()) {
            client.ended(ReceiveStatus::Interrupted);
            return;
        }
    }
}

}  // namespace qn::telnet

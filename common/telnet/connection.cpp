#include "common/telnet/connection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace qn::telnet {

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

HostLookup resolveHost(std::string_view hostText, std::uint16_t port, HostResolver& resolver) {
    HostLookup lookup;
    lookup.address.sin_family = AF_INET;
    lookup.address.sin_port = htons(port);
    std::string text(hostText.substr(0, hostText.find('\0')));
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        auto address = resolver.resolveName(text);
        if (!address) {
            lookup.error = HostError::NameNotResolved;
        } else {
            lookup.address.sin_addr = *address;
        }
        return lookup;
    }
    // inet_addr's rules: dotted parts in decimal, octal or hex; the broadcast address cannot be
    // told from a failure and is refused as well.
    in_addr_t address = inet_addr(text.c_str());
    if (address == INADDR_NONE) {
        lookup.error = HostError::InvalidAddress;
    } else {
        lookup.address.sin_addr.s_addr = address;
    }
    return lookup;
}

std::shared_ptr<Socket> Socket::create() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return nullptr;
    return std::shared_ptr<Socket>(new Socket(fd));
}

Socket::~Socket() {
    ::close(fd_);
}

bool Socket::connect(const sockaddr_in& address) {
    int rc;
    do {
        rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void Socket::sendBytes(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(sendMutex_);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

ReceiveResult Socket::receive(std::span<std::uint8_t> buffer) {
    while (true) {
        ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR && !closedLocally()) continue;
        if (closedLocally()) return {ReceiveStatus::Interrupted, 0};
        if (n < 0) return {ReceiveStatus::Failed, 0};
        if (n == 0) return {ReceiveStatus::Closed, 0};
        return {ReceiveStatus::Data, static_cast<std::size_t>(n)};
    }
}

void Socket::shutdownLocal() {
    closedLocally_.store(true);
    ::shutdown(fd_, SHUT_RDWR);
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

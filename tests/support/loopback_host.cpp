#include "tests/support/loopback_host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace qn::test {

namespace {
sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int boundSocket(std::uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = loopback(0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("bind");
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}
}  // namespace

LoopbackHost::LoopbackHost() {
    listenFd_ = boundSocket(port_);
    ::listen(listenFd_, 1);
    thread_ = std::thread([this] { serve(); });
}

LoopbackHost::~LoopbackHost() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ::shutdown(listenFd_, SHUT_RDWR);
    {
        std::lock_guard lock(mutex_);
        if (clientFd_ >= 0) ::shutdown(clientFd_, SHUT_RDWR);
    }
    if (thread_.joinable()) thread_.join();
    if (clientFd_ >= 0) ::close(clientFd_);
    ::close(listenFd_);
}

void LoopbackHost::serve() {
    // Poll so that the destructor's shutdown always ends the accept.
    pollfd waitAccept{listenFd_, POLLIN, 0};
    while (true) {
        int rc = ::poll(&waitAccept, 1, 50);
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        if (rc > 0) break;
    }
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    {
        std::lock_guard lock(mutex_);
        clientFd_ = fd;
    }
    changed_.notify_all();
    std::uint8_t buffer[4096];
    while (true) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        std::lock_guard lock(mutex_);
        if (n <= 0) {
            clientClosed_ = true;
            changed_.notify_all();
            return;
        }
        received_.insert(received_.end(), buffer, buffer + n);
        changed_.notify_all();
    }
}

bool LoopbackHost::waitForClient(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return clientFd_ >= 0; });
}

void LoopbackHost::send(std::span<const std::uint8_t> bytes) {
    int fd;
    {
        std::lock_guard lock(mutex_);
        fd = clientFd_;
    }
    if (fd < 0) throw std::runtime_error("no client");
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void LoopbackHost::send(std::string_view text) {
    send(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void LoopbackHost::closeClient() {
    std::lock_guard lock(mutex_);
    if (clientFd_ >= 0) ::shutdown(clientFd_, SHUT_WR);
}

void LoopbackHost::resetClient() {
    int fd;
    {
        std::lock_guard lock(mutex_);
        fd = clientFd_;
    }
    if (fd < 0) return;
    // Wakes the receiving thread without telling the client anything, then closes with a zero
    // linger time, which sends the reset.
    ::shutdown(fd, SHUT_RD);
    if (thread_.joinable()) thread_.join();
    linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    std::lock_guard lock(mutex_);
    ::close(clientFd_);
    clientFd_ = -1;
    clientClosed_ = true;
    changed_.notify_all();
}

std::vector<std::uint8_t> LoopbackHost::waitForBytes(std::size_t n,
                                                     std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return received_.size() >= n || clientClosed_; });
    return received_;
}

int LoopbackHost::clientSocket() const {
    std::lock_guard lock(mutex_);
    return clientFd_;
}

std::vector<std::uint8_t> LoopbackHost::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

bool LoopbackHost::waitForClientClose(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return clientClosed_; });
}

std::uint16_t unusedLoopbackPort() {
    std::uint16_t port = 0;
    int fd = boundSocket(port);
    ::close(fd);
    return port;
}

}  // namespace qn::test

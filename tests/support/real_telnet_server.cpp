#include "tests/support/real_telnet_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qn::test {

bool RealTelnetServer::available() {
    return ::access(kTelnetd, X_OK) == 0;
}

RealTelnetServer::RealTelnetServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 1) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("bind");
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

RealTelnetServer::~RealTelnetServer() {
    if (server_ > 0 && !waitForExit(std::chrono::milliseconds(0))) {
        ::kill(server_, SIGTERM);
        if (!waitForExit(std::chrono::seconds(2))) {
            ::kill(server_, SIGKILL);
            ::waitpid(server_, nullptr, 0);
        }
    }
    ::close(listenFd_);
}

bool RealTelnetServer::serveOne(std::chrono::milliseconds timeout) {
    pollfd waitAccept{listenFd_, POLLIN, 0};
    if (::poll(&waitAccept, 1, static_cast<int>(timeout.count())) <= 0) return false;
    const int connection = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return false;

    // As inetd would start it: the connection on its standard input, output and error.
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, connection, 0);
    posix_spawn_file_actions_adddup2(&files, connection, 1);
    posix_spawn_file_actions_adddup2(&files, connection, 2);
    // No host banner; the shell instead of login.
    std::vector<std::string> args{"telnetd", "--no-hostinfo", "--exec-login=/bin/sh"};
    std::vector<std::string> environment{"PATH=/usr/bin:/bin", "HOME=/tmp"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, kTelnetd, &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    ::close(connection);
    if (rc != 0) return false;
    server_ = pid;
    return true;
}

bool RealTelnetServer::waitForExit(std::chrono::milliseconds timeout) {
    if (server_ <= 0) return true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (::waitpid(server_, nullptr, WNOHANG) == server_) {
            server_ = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace qn::test

#include "tools/quillnet-demohost/demo_host.h"

#include "tools/quillnet-demohost/demo_link.h"
#include "tools/quillnet-demohost/tls_front.h"

#include <poll.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <list>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

#include "tools/quillnet-demohost/demo_host_5250.h"

namespace qn::tools {

namespace {

constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                       kSe = 240;
constexpr std::uint8_t kEcho = 1, kSga = 3, kTtype = 24, kNaws = 31;
// A typed line longer than this is cut; the host keeps reading up to the line end.
constexpr std::size_t kLineMax = 40;
// A subnegotiation longer than this is dropped.
constexpr std::size_t kSubMax = 64;

}  // namespace

class DemoHost::Session {
  public:
    explicit Session(int fd) : link_(fd) {}

    void serve() {
        send({kIac, kDo, kTtype, kIac, kDo, kNaws, kIac, kWill, kEcho, kIac, kWill, kSga, kIac, kDo,
              kSga});
        send("\033[H\033[2J\r\nQuillNet demo host\r\n\r\nlogin: ");
        auto user = readLine(true);
        if (!user) return;
        send("\r\nPassword: ");
        if (!readLine(false)) return;
        user_ = user->empty() ? "guest" : *user;
        picking();
    }

    std::string terminalType() const { return terminalType_; }

  private:
    void send(std::string_view text) { link_.send(text); }
    void send(std::initializer_list<std::uint8_t> bytes) {
        send(std::string_view(reinterpret_cast<const char*>(std::data(bytes)), bytes.size()));
    }

    // One data byte, the telnet commands in between answered; nothing at the end.
    std::optional<std::uint8_t> readByte() {
        for (;;) {
            auto b = rawByte();
            if (!b) return std::nullopt;
            if (*b != kIac) return b;
            auto command = rawByte();
            if (!command) return std::nullopt;
            if (*command == kIac) return kIac;
            if (*command == kSb) {
                if (!subnegotiation()) return std::nullopt;
                continue;
            }
            if (*command >= kWill && *command <= kDont) {
                auto option = rawByte();
                if (!option) return std::nullopt;
                // The terminal type is asked for once the client agrees to tell it.
                if (*command == kWill && *option == kTtype) send({kIac, kSb, kTtype, 1, kIac, kSe});
            }
        }
    }

    bool subnegotiation() {
        std::string body;
        for (;;) {
            auto b = rawByte();
            if (!b) return false;
            if (*b == kIac) {
                auto next = rawByte();
                if (!next) return false;
                if (*next == kSe) break;
                b = next;
            }
            if (body.size() < kSubMax) body.push_back(static_cast<char>(*b));
        }
        if (body.size() >= 2 && static_cast<std::uint8_t>(body[0]) == kTtype && body[1] == 0)
            terminalType_ = body.substr(2);
        return true;
    }

    std::optional<std::uint8_t> rawByte() { return link_.rawByte(); }

    // A line up to CR or LF (a LF or NUL right after a CR is skipped), echoed when asked.
    std::optional<std::string> readLine(bool echo) {
        std::string line;
        for (;;) {
            auto b = readByte();
            if (!b) return std::nullopt;
            if (skipAfterCr_ && (*b == '\n' || *b == 0)) {
                skipAfterCr_ = false;
                continue;
            }
            skipAfterCr_ = false;
            if (*b == '\r' || *b == '\n') {
                skipAfterCr_ = *b == '\r';
                return line;
            }
            if (*b == 0x08 || *b == 0x7F) {
                if (!line.empty()) {
                    line.pop_back();
                    if (echo) send("\b \b");
                }
                continue;
            }
            if (*b < 0x20 || *b > 0x7E) continue;
            if (line.size() >= kLineMax) continue;
            line.push_back(static_cast<char>(*b));
            if (echo) send(std::string_view(reinterpret_cast<const char*>(&*b), 1));
        }
    }

    void at(int row, int col, std::string_view text) {
        send("\033[" + std::to_string(row) + ";" + std::to_string(col) + "H");
        send(text);
    }

    void drawScreen() {
        send("\033[H\033[2J");
        at(1, 1, "\033[7m QUILLNET WAREHOUSE    PICK \033[0m");
        at(2, 1, "User: " + user_);
        // A box in the line-drawing set: G1 is the special graphics, SO and SI switch to it
        // and back.
        send("\033)0");
        at(3, 1, "\016lqqqqqqqqqqqqqqqqqqqqqqqqqk\017");
        at(4, 1, "\016x\017 Order 10042   Aisle 7   \016x\017");
        at(5, 1, "\016x\017 Picked " + std::to_string(picked_) + " line(s)");
        at(5, 27, "\016x\017");
        at(6, 1, "\016mqqqqqqqqqqqqqqqqqqqqqqqqqj\017");
        if (!lastPick_.empty()) at(10, 1, lastPick_);
        at(12, 1, "F1=Help  F3=Exit");
    }

    void picking() {
        for (;;) {
            drawScreen();
            at(8, 1, "Scan item: ");
            send("\033[99h");  // trigger on while the prompt waits for a scan
            auto item = readLine(true);
            send("\033[99l");
            if (!item) return;
            if (*item == "exit" || *item == "EXIT") {
                send("\r\n\r\nBye.\r\n");
                return;
            }
            if (item->empty()) continue;
            at(9, 1, "\033[KItem " + *item + " OK");
            at(10, 1, "\033[KQuantity: ");
            auto quantity = readLine(true);
            if (!quantity) return;
            ++picked_;
            lastPick_ =
                "Picked " + (quantity->empty() ? std::string("1") : *quantity) + " x " + *item;
            at(11, 1, "\033[K" + lastPick_);
        }
    }

    DemoLink link_;
    bool skipAfterCr_ = false;
    std::string terminalType_;
    std::string user_;
    int picked_ = 0;
    std::string lastPick_;
};

DemoHost::DemoHost(const DemoHostOptions& options) : options_(options) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, 128) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        return;
    }
    listenFd_ = fd;
    port_ = ntohs(address.sin_port);
    if (!options.tlsCert.empty() || !options.tlsKey.empty()) {
        tls_ = TlsFront::create(options.tlsCert, options.tlsKey, tlsError_);
    }
}

DemoHost::~DemoHost() {
    tls_.reset();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void DemoHost::stop() {
    stopping_ = true;
    if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
    std::lock_guard lock(sessionMutex_);
    if (sessionFd_ >= 0) ::shutdown(sessionFd_, SHUT_RDWR);
    for (const int fd : sessionFds_)
        ::shutdown(fd, SHUT_RDWR);
    slotFree_.notify_all();
}

namespace {

// The host ends a session as a server does: its side is shut first, then what the client still
// sends is read until it closes too (for at most a moment), so the client sees an orderly close
// and not a reset.
void closeSession(int fd) {
    ::shutdown(fd, SHUT_WR);
    char discard[256];
    for (int rounds = 0; rounds < 64; ++rounds) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 1000) <= 0) break;
        if (::recv(fd, discard, sizeof discard, 0) <= 0) break;
    }
    ::close(fd);
}

}  // namespace

void DemoHost::serve(int client) {
    if (options_.protocol == DemoProtocol::Tn5250) {
        serveTn5250Session(client, options_.inboundRecord);
    } else {
        Session session(client);
        session.serve();
    }
}

void DemoHost::runConcurrent() {
    struct Served {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<Served> served;
    auto reap = [&served](bool all) {
        for (auto it = served.begin(); it != served.end();) {
            if (!all && !it->done->load()) {
                ++it;
                continue;
            }
            it->thread.join();
            it = served.erase(it);
        }
    };
    for (;;) {
        {
            std::unique_lock lock(sessionMutex_);
            slotFree_.wait(lock, [this] {
                return stopping_ || static_cast<int>(sessionFds_.size()) < options_.sessions;
            });
            if (stopping_) break;
        }
        reap(false);
        const int accepted = ::accept(listenFd_, nullptr, nullptr);
        if (accepted < 0) {
            if (errno == EINTR) continue;
            break;
        }
        // Over TLS the session speaks plain telnet to its own relay.
        std::thread relay;
        const int client = tls_ ? tls_->wrap(accepted, relay) : accepted;
        if (client < 0) continue;
        {
            std::lock_guard lock(sessionMutex_);
            sessionFds_.insert(client);
            if (stopping_) ::shutdown(client, SHUT_RDWR);
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        served.push_back({std::thread([this, client, done, relay = std::move(relay)]() mutable {
                              serve(client);
                              {
                                  std::lock_guard lock(sessionMutex_);
                                  sessionFds_.erase(client);
                              }
                              slotFree_.notify_all();
                              closeSession(client);
                              if (relay.joinable()) relay.join();
                              *done = true;
                          }),
                          done});
    }
    reap(true);
}

void DemoHost::run() {
    if (options_.sessions > 1) return runConcurrent();
    for (;;) {
        int client = ::accept(listenFd_, nullptr, nullptr);
        if (client < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (tls_) {
            client = tls_->wrap(client);
            if (client < 0) continue;
        }
        {
            std::lock_guard lock(sessionMutex_);
            sessionFd_ = client;
            if (stopping_) ::shutdown(client, SHUT_RDWR);
        }
        serve(client);
        {
            std::lock_guard lock(sessionMutex_);
            sessionFd_ = -1;
        }
        closeSession(client);
        if (tls_) tls_->join();
        if (options_.once || stopping_) return;
    }
}

}  // namespace qn::tools

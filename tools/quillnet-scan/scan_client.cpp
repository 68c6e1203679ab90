#include "tools/quillnet-scan/scan_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ini.h"

namespace qn::scan {

namespace {

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

ClientResult failed(ClientResult::Outcome outcome, std::string error) {
    ClientResult result;
    result.outcome = outcome;
    result.error = std::move(error);
    return result;
}

}  // namespace

std::optional<std::string> decodeHex(std::string_view text) {
    std::string bytes;
    int high = -1;
    for (char c : text) {
        if (c == ':' || c == ' ' || c == '\t') {
            if (high >= 0) return std::nullopt;  // a separator inside a byte
            continue;
        }
        int value = platform::hexDigit(c);
        if (value < 0) return std::nullopt;
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<char>(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return bytes;
}

ClientResult sendScan(const std::string& socketPath, const ScanRequest& request,
                      std::chrono::milliseconds timeout) {
    using Outcome = ClientResult::Outcome;
    std::vector<std::uint8_t> bytes = encodeRequest(request);
    if (bytes.empty()) return failed(Outcome::Failed, "the decode is empty or too long");

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
        return failed(Outcome::NoReader,
                      "no reader listening on " + socketPath + " (not a usable socket path)");
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    Fd sock{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    if (sock.fd < 0) return failed(Outcome::Failed, std::string("socket: ") + std::strerror(errno));
    if (::connect(sock.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return failed(Outcome::NoReader,
                      "no reader listening on " + socketPath + " (" + std::strerror(errno) + ")");
    }

    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t count = ::send(sock.fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0)
            return failed(Outcome::Failed, std::string("send: ") + std::strerror(errno));
        sent += static_cast<std::size_t>(count);
    }

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::uint8_t> received;
    while (true) {
        ReplyParse parsed = parseReply(received);
        if (parsed.status == ParseStatus::Invalid) {
            return failed(Outcome::Failed, "bad reply from the reader: " + parsed.error);
        }
        if (parsed.status == ParseStatus::Complete) {
            ClientResult result;
            result.outcome = Outcome::Replied;
            result.reply = std::move(parsed.reply);
            return result;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return failed(Outcome::Failed, "no reply from the reader in time");
        pollfd fd{sock.fd, POLLIN, 0};
        int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        std::uint8_t chunk[512];
        const std::size_t wanted = parsed.size != 0 ? parsed.size : kReplyHeaderSize;
        ssize_t count = ::recv(sock.fd, chunk, std::min(sizeof chunk, wanted - received.size()), 0);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return failed(Outcome::Failed, "the reader closed without a reply");
        received.insert(received.end(), chunk, chunk + count);
    }
}

}  // namespace qn::scan

#pragma once
// One demo session's side of the socket: buffered reads a byte at a time and whole sends. Once
// the peer has gone, reads give nothing and sends are dropped.

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qn::tools {

class DemoLink {
  public:
    explicit DemoLink(int fd) : fd_(fd) {}

    bool closed() const { return closed_; }

    std::optional<std::uint8_t> rawByte() {
        if (closed_) return std::nullopt;
        if (pos_ == length_) {
            const ssize_t n = ::recv(fd_, buffer_, sizeof buffer_, 0);
            if (n <= 0) {
                closed_ = true;
                return std::nullopt;
            }
            pos_ = 0;
            length_ = static_cast<std::size_t>(n);
        }
        return buffer_[pos_++];
    }

    void send(std::span<const std::uint8_t> bytes) {
        std::size_t done = 0;
        while (done < bytes.size() && !closed_) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                closed_ = true;
                return;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    void send(std::string_view text) {
        send(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }

  private:
    int fd_;
    std::uint8_t buffer_[1024];
    std::size_t pos_ = 0;
    std::size_t length_ = 0;
    bool closed_ = false;
};

}  // namespace qn::tools

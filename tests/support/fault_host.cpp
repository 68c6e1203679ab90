#include "tests/support/fault_host.h"

#include <malloc.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <new>

namespace qn::test {

FaultHost::~FaultHost() {
    stopStream();
}

void FaultHost::trickle(std::span<const std::uint8_t> bytes, std::chrono::microseconds gap) {
    for (std::uint8_t byte : bytes) {
        send(std::span(&byte, 1));
        std::this_thread::sleep_for(gap);
    }
}

void FaultHost::startStream(Generator generator, std::size_t limit) {
    stopStream();
    stopping_ = false;
    streamEnded_ = false;
    streamed_ = 0;
    const int fd = clientSocket();
    streamer_ = std::thread([this, fd, limit, generator = std::move(generator)] {
        std::vector<std::uint8_t> piece;
        std::size_t offset = 0;
        while (!stopping_.load() && streamed_.load() < limit) {
            if (offset == piece.size()) {
                piece.clear();
                generator(piece);
                offset = 0;
                if (piece.empty()) break;
            }
            // Never blocks for long: a client that stopped reading cannot hold up the stop.
            pollfd writable{fd, POLLOUT, 0};
            if (::poll(&writable, 1, 20) <= 0) continue;
            if ((writable.revents & (POLLERR | POLLHUP)) != 0) break;
            const std::size_t n = std::min(piece.size() - offset, limit - streamed_.load());
            const ssize_t sent = ::send(fd, piece.data() + offset, n, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (sent <= 0) break;
            offset += static_cast<std::size_t>(sent);
            streamed_ += static_cast<std::size_t>(sent);
        }
        streamEnded_ = !stopping_.load();
    });
}

std::size_t FaultHost::stopStream() {
    stopping_ = true;
    if (streamer_.joinable()) streamer_.join();
    return streamed_.load();
}

FaultHost::Generator repeatedBytes(std::uint8_t byte) {
    return [byte](std::vector<std::uint8_t>& out) { out.assign(64 * 1024, byte); };
}

FaultHost::Generator randomBytes(std::uint32_t seed) {
    return [state = seed](std::vector<std::uint8_t>& out) mutable {
        out.resize(64 * 1024);
        for (auto& b : out) {
            state = state * 1664525u + 1013904223u;
            b = static_cast<std::uint8_t>(state >> 24);
        }
    };
}

namespace {
std::atomic<std::int64_t> gLiveHeap{0};

void* countedNew(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    gLiveHeap.fetch_add(static_cast<std::int64_t>(malloc_usable_size(p)),
                        std::memory_order_relaxed);
    return p;
}

void countedDelete(void* p) noexcept {
    if (p == nullptr) return;
    gLiveHeap.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)),
                        std::memory_order_relaxed);
    std::free(p);
}
}  // namespace

std::int64_t liveHeapBytes() {
    return gLiveHeap.load();
}

}  // namespace qn::test

// Counted for the whole test program, every form that pairs with free; the aligned forms keep
// their own pairing.
void* operator new(std::size_t size) {
    return qn::test::countedNew(size);
}
void* operator new[](std::size_t size) {
    return qn::test::countedNew(size);
}
void operator delete(void* p) noexcept {
    qn::test::countedDelete(p);
}
void operator delete[](void* p) noexcept {
    qn::test::countedDelete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    qn::test::countedDelete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    qn::test::countedDelete(p);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return qn::test::countedNew(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    qn::test::countedDelete(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    qn::test::countedDelete(p);
}

#include "common/telnet/connection_slot.h"

#include <algorithm>
#include <iterator>
#include <system_error>

namespace qn::telnet {

ConnectionSlot::~ConnectionSlot() {
    shutdownAndJoin();
}

void ConnectionSlot::shutdownAndJoin() {
    std::vector<Reader> readers;
    {
        std::lock_guard lock(mutex_);
        if (current_) current_->shutdownLocal();
        current_.reset();
        readers.swap(readers_);
    }
    for (auto& reader : readers) {
        if (reader.thread.joinable()) reader.thread.join();
    }
}

void ConnectionSlot::install(std::shared_ptr<Socket> socket) {
    std::lock_guard lock(mutex_);
    current_ = std::move(socket);
}

std::shared_ptr<Socket> ConnectionSlot::current() const {
    std::lock_guard lock(mutex_);
    return current_;
}

bool ConnectionSlot::close(const std::shared_ptr<Socket>& ifCurrent) {
    std::lock_guard lock(mutex_);
    if (ifCurrent && current_ != ifCurrent) return false;
    if (current_) current_->shutdownLocal();
    current_.reset();
    return true;
}

bool ConnectionSlot::replace(const std::shared_ptr<Socket>& expected,
                             std::shared_ptr<Socket> fresh) {
    std::lock_guard lock(mutex_);
    if (current_ != expected) return false;
    current_ = std::move(fresh);
    return true;
}

bool ConnectionSlot::startReader(std::function<void()> body) {
    joinFinished();
    try {
        std::lock_guard lock(mutex_);
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([body = std::move(body), done] {
            body();
            done->store(true);
        });
        readers_.push_back({std::move(thread), std::move(done)});
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void ConnectionSlot::joinFinished() {
    std::vector<Reader> finished;
    {
        std::lock_guard lock(mutex_);
        auto ended = std::stable_partition(readers_.begin(), readers_.end(),
                                           [](const Reader& r) { return !r.done->load(); });
        std::move(ended, readers_.end(), std::back_inserter(finished));
        readers_.erase(ended, readers_.end());
    }
    // These have left their loop; joining only waits for their last return.
    for (auto& reader : finished)
        reader.thread.join();
}

}  // namespace qn::telnet

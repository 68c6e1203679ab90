#include "platform/message_queue.h"

#include <map>
#include <string>

namespace qn::platform {

MessageId registerWindowMessage(std::string_view name) {
    static std::mutex mutex;
    static std::map<std::string, MessageId, std::less<>> ids;
    std::lock_guard lock(mutex);
    auto it = ids.find(name);
    if (it != ids.end()) return it->second;
    MessageId id = 0xC000 + static_cast<MessageId>(ids.size());
    ids.emplace(std::string(name), id);
    return id;
}

void BlockingMessageQueue::post(MessageId id, std::uintptr_t wParam) {
    {
        std::lock_guard lock(mutex_);
        messages_.push_back({id, wParam});
    }
    ready_.notify_all();
}

std::optional<Message> BlockingMessageQueue::tryTake() {
    std::lock_guard lock(mutex_);
    if (messages_.empty()) return std::nullopt;
    Message m = messages_.front();
    messages_.pop_front();
    return m;
}

std::optional<Message> BlockingMessageQueue::waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [this] { return !messages_.empty(); })) {
        return std::nullopt;
    }
    Message m = messages_.front();
    messages_.pop_front();
    return m;
}

}  // namespace qn::platform

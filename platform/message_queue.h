#pragma once
// The UI thread's message queue. Posting never blocks; the read thread and the reader library
// post from their own threads.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>

namespace qn::platform {

using MessageId = std::uint32_t;

// Registered message names map to stable ids from 0xC000 up, one id per name for the process.
MessageId registerWindowMessage(std::string_view name);

struct Message {
    MessageId id = 0;
    std::uintptr_t wParam = 0;
    bool operator==(const Message&) const = default;
};

class MessageQueue {
  public:
    virtual ~MessageQueue() = default;
    virtual void post(MessageId id, std::uintptr_t wParam) = 0;
};

// A plain thread-safe queue: the test stand-in for the UI event loop.
class BlockingMessageQueue final : public MessageQueue {
  public:
    void post(MessageId id, std::uintptr_t wParam) override;
    std::optional<Message> tryTake();
    std::optional<Message> waitFor(std::chrono::milliseconds timeout);

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Message> messages_;
};

}  // namespace qn::platform

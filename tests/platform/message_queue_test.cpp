#include "platform/message_queue.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace qn::platform {
namespace {

TEST(RegisterWindowMessage, OneIdPerName) {
    MessageId a = registerWindowMessage("WM_DECODEDATA");
    MessageId b = registerWindowMessage("QN_TEST_OTHER");
    EXPECT_GE(a, 0xC000u);
    EXPECT_NE(a, b);
    EXPECT_EQ(registerWindowMessage("WM_DECODEDATA"), a);
}

TEST(BlockingMessageQueue, PostsFromManyThreadsArriveInOrderPerThread) {
    BlockingMessageQueue queue;
    constexpr int kThreads = 4, kEach = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&queue, t] {
            for (int i = 0; i < kEach; ++i)
                queue.post(static_cast<MessageId>(t), static_cast<std::uintptr_t>(i));
        });
    }
    std::vector<std::uintptr_t> next(kThreads, 0);
    for (int received = 0; received < kThreads * kEach; ++received) {
        auto m = queue.waitFor(std::chrono::seconds(5));
        ASSERT_TRUE(m.has_value());
        EXPECT_EQ(m->wParam, next[m->id]++);
    }
    for (auto& t : threads)
        t.join();
    EXPECT_FALSE(queue.tryTake().has_value());
    EXPECT_FALSE(queue.waitFor(std::chrono::milliseconds(1)).has_value());
}

}  // namespace
}  // namespace qn::platform

#include "platform/async/serial_queue.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using yux::platform::SerialQueue;

TEST(SerialQueue, RunsWorkInSubmissionOrderOnOneThread) {
    std::vector<int> order;
    std::thread::id first;
    bool oneThread = true;
    {
        SerialQueue queue("Yux.test");
        for (int i = 0; i < 100; ++i) {
            queue.async([&, i] {
                if (i == 0) first = std::this_thread::get_id();
                oneThread = oneThread && std::this_thread::get_id() == first;
                order.push_back(i);
            });
        }
        queue.sync([] {});
    }
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
    EXPECT_TRUE(oneThread);
    EXPECT_NE(first, std::this_thread::get_id());
}

TEST(SerialQueue, AnExceptionFromQueuedWorkIsReportedAndTheQueueGoesOn) {
    std::mutex lock;
    std::vector<std::string> reports;
    std::vector<int> ran;
    {
        SerialQueue queue("Yux.test", [&](const std::string& label, const std::string& what) {
            std::lock_guard guard(lock);
            reports.push_back(label + ": " + what);
        });
        queue.async([] { throw std::runtime_error("disk gone"); });
        queue.asyncAfter(1ms, [] { throw 42; });
        queue.async([&] { ran.push_back(1); });
        queue.asyncAfter(2ms, [&] { ran.push_back(2); });
        queue.sync([] {});
    }
    EXPECT_EQ(reports, (std::vector<std::string>{"Yux.test: disk gone", "Yux.test: an exception of unknown type"}));
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(SerialQueue, SyncReturnsValuesAndPassesExceptionsOn) {
    SerialQueue queue("Yux.test");
    EXPECT_EQ(queue.sync([] { return 42; }), 42);
    EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
}

TEST(SerialQueue, SyncFromItsOwnThreadIsRefused) {
    SerialQueue queue("Yux.test");
    bool refused = false;
    queue.sync([&] {
        EXPECT_TRUE(queue.isCurrent());
        try {
            queue.sync([] {});
        } catch (const std::logic_error&) {
            refused = true;
        }
    });
    EXPECT_TRUE(refused);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, DelayedWorkRunsAfterItsDelayAndAfterEarlierDueWork) {
    SerialQueue queue("Yux.test");
    std::mutex mutex;
    std::vector<std::string> order;
    std::promise<void> delayedRan;
    auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration delayedAt{};
    queue.asyncAfter(30ms, [&] {
        std::lock_guard lock(mutex);
        delayedAt = std::chrono::steady_clock::now() - start;
        order.push_back("delayed");
        delayedRan.set_value();
    });
    queue.async([&] {
        std::lock_guard lock(mutex);
        order.push_back("now");
    });
    // Only work queued before the delayed work fell due must come first: a busy machine may
    // pause this thread between the two calls.
    const bool queuedBeforeDue = std::chrono::steady_clock::now() - start < 30ms;
    ASSERT_EQ(delayedRan.get_future().wait_for(1min), std::future_status::ready);
    queue.sync([] {});
    std::lock_guard lock(mutex);
    ASSERT_EQ(order.size(), 2u);
    if (queuedBeforeDue) EXPECT_EQ(order, (std::vector<std::string>{"now", "delayed"}));
    EXPECT_GE(delayedAt, 30ms);
}

// Work queued while the queue waits for its earliest item can move the items in memory: the
// wait must not read the earliest one's time from where it was. Rounds, so that some move comes
// while the queue's thread waits.
TEST(SerialQueue, WorkQueuedWhileItWaitsForDelayedWorkRunsEarliestFirst) {
    for (int round = 0; round < 100; ++round) {
        std::vector<int> order;  // touched on the queue's thread only
        {
            SerialQueue queue("Yux.test");
            for (int i = 0; i < 1000; ++i) {
                queue.asyncAfter(1h + std::chrono::milliseconds(i), [&order, i] { order.push_back(i); });
            }
        }
        // Destroyed, it runs its delayed work at once.
        ASSERT_EQ(order.size(), 1000u);
        ASSERT_TRUE(std::is_sorted(order.begin(), order.end())) << round;
    }
}

TEST(SerialQueue, PendingWorkStillRunsWhenTheQueueIsDestroyed) {
    std::atomic<int> ran{0};
    {
        SerialQueue queue("Yux.test");
        queue.async([&] { std::this_thread::sleep_for(20ms); ++ran; });
        queue.asyncAfter(10s, [&] { ++ran; });
        queue.async([&] { ++ran; });
    }
    EXPECT_EQ(ran.load(), 3);
}

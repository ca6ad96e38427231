#include <gtest/gtest.h>

#include <QCoroTask>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/async/cancel_token.hpp"
#include "platform/async/locked.hpp"
#include "platform/async/main_thread.hpp"
#include "platform/async/run_on.hpp"
#include "platform/async/serial_queue.hpp"
#include "platform/async/shared_task.hpp"
#include "platform/async/sleep.hpp"
#include "platform/async/wait_for.hpp"

using namespace std::chrono_literals;
using namespace yux::platform;

namespace {

// A serialised object: its state is touched only on the main thread, between awaits.
class Counter {
public:
    QCoro::Task<void> addTwice(std::string name, SerialQueue& queue) {
        trace.push_back(name + ":begin");
        int seen = value;
        co_await runOn(queue, [] { std::this_thread::sleep_for(5ms); });
        trace.push_back(name + ":resumed");
        value = seen + 1;
        value += 1;
        trace.push_back(name + ":end");
    }
    int value = 0;
    std::vector<std::string> trace;
};

QCoro::Task<std::thread::id> threadAfterRunOn(SerialQueue& queue, std::thread::id* workThread) {
    co_await runOn(queue, [workThread] { *workThread = std::this_thread::get_id(); });
    co_return std::this_thread::get_id();
}

}  // namespace

TEST(CoroutineKit, OperationsOfOneObjectInterleaveOnlyAtAwait) {
    SerialQueue queue("Yux.test");
    Counter counter;
    auto first = counter.addTwice("a", queue);
    auto second = counter.addTwice("b", queue);
    // Both ran up to their first await before either resumed.
    EXPECT_EQ(counter.trace, (std::vector<std::string>{"a:begin", "b:begin"}));
    waitForTask(first);
    waitForTask(second);
    // Each resumed part ran whole: no "resumed" of one between "resumed" and "end" of the other.
    ASSERT_EQ(counter.trace.size(), 6u);
    for (std::size_t i = 2; i < 6; i += 2) {
        EXPECT_EQ(counter.trace[i].substr(1), ":resumed");
        EXPECT_EQ(counter.trace[i + 1].substr(1), ":end");
        EXPECT_EQ(counter.trace[i][0], counter.trace[i + 1][0]);
    }
    // Both read value 0 before awaiting, so the lost update is visible: state is not locked,
    // it is only safe between awaits.
    EXPECT_EQ(counter.value, 2);
}

TEST(CoroutineKit, RunOnRunsOnTheQueueAndResumesOnTheMainThread) {
    SerialQueue queue("Yux.test");
    std::thread::id workThread;
    auto resumedOn = waitForTask(threadAfterRunOn(queue, &workThread));
    EXPECT_EQ(resumedOn, std::this_thread::get_id());
    EXPECT_NE(workThread, std::this_thread::get_id());
}

TEST(CoroutineKit, RunOnPassesResultsAndExceptions) {
    SerialQueue queue("Yux.test");
    auto value = waitForTask([&]() -> QCoro::Task<int> { co_return co_await runOn(queue, [] { return 7; }); }());
    EXPECT_EQ(value, 7);
    auto failing = [&]() -> QCoro::Task<int> {
        co_return co_await runOn(queue, []() -> int { throw std::runtime_error("disk full"); });
    };
    EXPECT_THROW(waitForTask(failing()), std::runtime_error);
}

TEST(CoroutineKit, SleepEndsAfterItsDuration) {
    auto start = std::chrono::steady_clock::now();
    waitForTask(sleepFor(20ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 19ms);
}

TEST(CoroutineKit, CancelledSleepEndsAtOnceWithCancelledError) {
    CancelToken token;
    QTimer::singleShot(10ms, [token]() mutable { token.cancel(); });
    auto start = std::chrono::steady_clock::now();
    // A minute is only a hang's; the sleep would outlast it.
    EXPECT_THROW(waitForTask(sleepFor(120s, token)), CancelledError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);

    CancelToken already;
    already.cancel();
    EXPECT_THROW(waitForTask(sleepFor(10s, already)), CancelledError);
}

TEST(CoroutineKit, CancelFromAnotherThreadWakesTheSleeper) {
    CancelToken token;
    std::thread canceller([token]() mutable {
        std::this_thread::sleep_for(10ms);
        token.cancel();
    });
    EXPECT_THROW(waitForTask(sleepFor(10s, token)), CancelledError);
    canceller.join();
}

TEST(CoroutineKit, CancelCallbacksRunOnceAndNotAfterTheirRegistrationIsGone) {
    CancelToken token;
    int kept = 0;
    int dropped = 0;
    auto keep = token.onCancel([&] { ++kept; });
    {
        auto gone = token.onCancel([&] { ++dropped; });
    }
    token.cancel();
    token.cancel();
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(dropped, 0);
    int late = 0;
    auto lateRegistration = token.onCancel([&] { ++late; });
    EXPECT_EQ(late, 1);
}

TEST(CoroutineKit, SharedTaskGivesEveryAwaiterTheOneResult) {
    int runs = 0;
    auto work = [&]() -> QCoro::Task<int> {
        ++runs;
        co_await sleepFor(5ms);
        co_return 5;
    };
    SharedTask<int> shared(work());
    auto a = shared.get();
    auto b = shared.get();
    EXPECT_EQ(waitForTask(a), 5);
    EXPECT_EQ(waitForTask(b), 5);
    EXPECT_EQ(waitForTask(shared.get()), 5);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(shared.isDone());

    // A result that can be moved from reaches every awaiter whole too.
    SharedTask<std::string> text([]() -> QCoro::Task<std::string> {
        co_await sleepFor(1ms);
        co_return std::string(100, 't');
    }());
    auto first = text.get();
    auto second = text.get();
    EXPECT_EQ(waitForTask(first), std::string(100, 't'));
    EXPECT_EQ(waitForTask(second), std::string(100, 't'));
    EXPECT_EQ(waitForTask(text.get()), std::string(100, 't'));

    SharedTask<int> failing([]() -> QCoro::Task<int> {
        co_await sleepFor(1ms);
        throw std::runtime_error("no");
    }());
    EXPECT_THROW(waitForTask(failing.get()), std::runtime_error);
    EXPECT_THROW(waitForTask(failing.get()), std::runtime_error);
}

TEST(CoroutineKit, SharedWorkWithoutAResultWakesEveryAwaiterOnce) {
    int runs = 0;
    auto work = [&]() -> QCoro::Task<void> {
        ++runs;
        co_await sleepFor(5ms);
    };
    SharedTask<void> shared(work());
    auto a = shared.get();
    auto b = shared.get();
    EXPECT_FALSE(shared.isDone());
    waitForTask(a);
    waitForTask(b);
    waitForTask(shared.get());
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(shared.isDone());

    SharedTask<void> failing([]() -> QCoro::Task<void> {
        co_await sleepFor(1ms);
        throw std::runtime_error("no");
    }());
    EXPECT_THROW(waitForTask(failing.get()), std::runtime_error);
    EXPECT_THROW(waitForTask(failing.get()), std::runtime_error);
}

TEST(CoroutineKit, GuardedPostIsDroppedWhenTheReceiverIsGone) {
    int ran = 0;
    auto* alive = new QObject;
    auto* gone = new QObject;
    postGuarded(alive, [&] { ++ran; });
    postGuarded(gone, [&] { ran += 100; });
    delete gone;
    waitForTask(sleepFor(5ms));
    EXPECT_EQ(ran, 1);
    delete alive;
}

TEST(CoroutineKit, LockedStateIsReachedOnlyThroughItsLock) {
    Locked<std::vector<int>> shared;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) shared.with([&](auto& v) { v.push_back(i); });
        });
    }
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(shared.with([](const auto& v) { return v.size(); }), 4000u);
}

#include "platform/async/detached_tasks.hpp"

#include <gtest/gtest.h>

#include <coroutine>
#include <stdexcept>
#include <string>
#include <vector>

namespace yux::platform {
namespace {

// Suspends a coroutine until the test lets it go on.
struct Gate {
    struct Wait {
        Gate* gate;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { gate->waiting = handle; }
        void await_resume() const noexcept {}
    };
    Wait wait() { return Wait{this}; }
    void open() { std::exchange(waiting, {}).resume(); }
    std::coroutine_handle<> waiting;
};

TEST(DetachedTasks, KeepsATaskUntilItEndsAndReportsAFailure) {
    std::vector<std::string> failures;
    Gate first;
    Gate second;
    bool finished = false;
    {
        DetachedTasks tasks([&](const std::string& failure) { failures.push_back(failure); });
        tasks.start([](Gate& gate, bool& done) -> QCoro::Task<void> {
            co_await gate.wait();
            done = true;
        }(first, finished));
        tasks.start([](Gate& gate) -> QCoro::Task<void> {
            co_await gate.wait();
            throw std::runtime_error("The sound server does not answer.");
        }(second));
        tasks.start([]() -> QCoro::Task<void> { co_return; }());  // ends at once: nothing to keep
        EXPECT_EQ(tasks.running(), 2u);

        second.open();
        EXPECT_EQ(tasks.running(), 1u);
        EXPECT_EQ(failures, std::vector<std::string>{"The sound server does not answer."});
    }
    // The starter is gone; the work still ends.
    first.open();
    EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace yux::platform

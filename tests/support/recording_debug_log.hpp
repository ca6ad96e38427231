#pragma once

#include <atomic>
#include <coroutine>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "model/debug_log_boundary.hpp"
#include "platform/async/main_thread.hpp"

namespace yux::testing {

// A debug log that keeps its lines in memory. Told to suspend, each append lets the event loop
// run once after keeping its line, as the live log, which writes on its own queue, does.
class RecordingDebugLog : public DebugLogBoundary {
public:
    QCoro::Task<void> append(std::string message) override {
        std::function<void(const std::string&)> watch;
        {
            std::lock_guard guard(mutex_);
            lines_.push_back(message);
            watch = watch_;
        }
        if (watch) watch(message);
        if (suspends_) {
            NextTurn turn;  // named: g++ 12 destroys await temporaries too early
            co_await turn;
        }
    }
    void suspendAppends() { suspends_ = true; }
    // Called with every line as it is appended, on the appending thread.
    void watch(std::function<void(const std::string&)> watch) {
        std::lock_guard guard(mutex_);
        watch_ = std::move(watch);
    }
    std::vector<std::string> lines() const {
        std::lock_guard guard(mutex_);
        return lines_;
    }

private:
    struct NextTurn {
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { platform::postToMain([handle] { handle.resume(); }); }
        void await_resume() const noexcept {}
    };
    std::atomic<bool> suspends_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::function<void(const std::string&)> watch_;
};

}  // namespace yux::testing

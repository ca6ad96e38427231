#pragma once

#include <coroutine>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QCoroTask>

namespace yux::testing {

// Holds every await on it open until the test opens it, so a test can act while an operation
// waits at a chosen point. Opening resumes the waiters at once, in the order they came.
class AwaitGate {
public:
    QCoro::Task<void> pass() {
        auto state = state_;
        if (!state->open) {
            Waiter waiter{state};  // named: g++ 12 destroys await temporaries too early
            co_await waiter;
        }
    }
    void open() {
        state_->open = true;
        auto waiters = std::move(state_->waiters);
        state_->waiters.clear();
        for (auto waiter : waiters) waiter.resume();
    }
    bool isOpen() const { return state_->open; }
    std::size_t waiting() const { return state_->waiters.size(); }

private:
    struct State {
        bool open = false;
        std::vector<std::coroutine_handle<>> waiters;
    };
    struct Waiter {
        std::shared_ptr<State> state;
        bool await_ready() const noexcept { return state->open; }
        void await_suspend(std::coroutine_handle<> handle) { state->waiters.push_back(handle); }
        void await_resume() const noexcept {}
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Named gates for the operations of test doubles: an operation passes its name and waits only
// while the test holds a closed gate of that name.
class AwaitGates {
public:
    // Closes a new gate for the name; the next operations of that name wait on it.
    AwaitGate& hold(const std::string& name) {
        gates_[name] = std::make_shared<AwaitGate>();
        return *gates_[name];
    }
    AwaitGate& operator[](const std::string& name) { return *gates_.at(name); }
    QCoro::Task<void> pass(std::string name) {
        auto found = gates_.find(name);
        if (found == gates_.end()) co_return;
        auto gate = found->second;  // kept while waiting, even if the test holds a new one
        co_await gate->pass();
    }
    // Opens the named gate, if there is one.
    void open(const std::string& name) {
        auto found = gates_.find(name);
        if (found != gates_.end()) found->second->open();
    }
    bool isWaiting(const std::string& name) const {
        auto found = gates_.find(name);
        return found != gates_.end() && found->second->waiting() > 0;
    }

private:
    std::map<std::string, std::shared_ptr<AwaitGate>> gates_;
};

}  // namespace yux::testing

#pragma once

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QCoroTask>

namespace yux::platform {

// One running task whose result several main-thread callers await. Every awaiter gets a copy
// of the result, or the same exception.
template <class T>
class SharedTask {
    struct State {
        std::optional<T> value;
        std::exception_ptr error;
        bool done = false;
        std::vector<std::coroutine_handle<>> waiters;
    };

public:
    explicit SharedTask(QCoro::Task<T> task) : state_(std::make_shared<State>()) {
        drive(state_, std::move(task));
    }

    bool isDone() const { return state_->done; }

    QCoro::Task<T> get() const {
        auto state = state_;
        if (!state->done) {
            Waiter waiter{state};  // named: g++ 12 destroys await temporaries too early
            co_await waiter;
        }
        if (state->error) {
            std::rethrow_exception(state->error);
        }
        // A copy: co_return of the stored lvalue would move it out of reach of the other awaiters.
        co_return T(*state->value);
    }

private:
    struct Waiter {
        std::shared_ptr<State> state;
        bool await_ready() const noexcept { return state->done; }
        void await_suspend(std::coroutine_handle<> handle) { state->waiters.push_back(handle); }
        void await_resume() const noexcept {}
    };

    static QCoro::Task<void> drive(std::shared_ptr<State> state, QCoro::Task<T> task) {
        try {
            state->value.emplace(co_await std::move(task));
        } catch (...) {
            state->error = std::current_exception();
        }
        state->done = true;
        auto waiters = std::move(state->waiters);
        for (auto waiter : waiters) {
            waiter.resume();
        }
    }

    std::shared_ptr<State> state_;
};

// The same for work without a result: every awaiter resumes when it ends, or gets its exception.
template <>
class SharedTask<void> {
    struct Nothing {};

public:
    explicit SharedTask(QCoro::Task<void> task) : inner_(run(std::move(task))) {}

    bool isDone() const { return inner_.isDone(); }
    QCoro::Task<void> get() const { return wait(inner_); }

private:
    static QCoro::Task<void> wait(SharedTask<Nothing> inner) { co_await inner.get(); }
    static QCoro::Task<Nothing> run(QCoro::Task<void> task) {
        co_await std::move(task);
        co_return Nothing{};
    }

    SharedTask<Nothing> inner_;
};

}  // namespace yux::platform

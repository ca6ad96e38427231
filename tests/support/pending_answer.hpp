#pragma once

#include <coroutine>
#include <functional>
#include <utility>

#include <QCoroTask>

namespace yux::testing {

// An asynchronous yes or no that stays on its way until the test gives it, for operations such
// as a permission request. Going away, it answers no, so no coroutine is left hanging.
class PendingAnswer {
public:
    PendingAnswer() = default;
    PendingAnswer(const PendingAnswer&) = delete;
    PendingAnswer& operator=(const PendingAnswer&) = delete;
    ~PendingAnswer() { answer(false); }

    // Each call counts and waits for the next answer.
    std::function<QCoro::Task<bool>()> operation() {
        return [this]() -> QCoro::Task<bool> {
            ++calls;
            co_return co_await Wait{this};
        };
    }
    void answer(bool value) {
        value_ = value;
        if (auto handle = std::exchange(waiting_, {})) handle.resume();
    }
    bool pending() const { return static_cast<bool>(waiting_); }

    int calls = 0;

private:
    struct Wait {
        PendingAnswer* owner;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { owner->waiting_ = handle; }
        bool await_resume() const noexcept { return owner->value_; }
    };
    std::coroutine_handle<> waiting_;
    bool value_ = false;
};

}  // namespace yux::testing

#pragma once

#include <coroutine>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include <QCoreApplication>
#include <QMetaObject>

namespace yux {

// An unbounded main-thread stream: values are kept until read, each read takes the oldest, and
// a read after finish() (with nothing left) yields nothing. Readers hold the shared state, so
// they are woken even when the writer is gone. Waiters resume from the event loop, never
// inside yield() or finish().
template <class T>
class AsyncChannel {
    struct State {
        std::deque<T> values;
        bool finished = false;
        std::deque<std::coroutine_handle<>> waiters;

        void wakeOne() {
            if (waiters.empty()) return;
            auto handle = waiters.front();
            waiters.pop_front();
            QMetaObject::invokeMethod(QCoreApplication::instance(), [handle] { handle.resume(); }, Qt::QueuedConnection);
        }
    };

public:
    AsyncChannel() : state_(std::make_shared<State>()) {}

    void yield(T value) {
        if (state_->finished) return;
        state_->values.push_back(std::move(value));
        state_->wakeOne();
    }
    void finish() {
        if (state_->finished) return;
        state_->finished = true;
        while (!state_->waiters.empty()) state_->wakeOne();
    }
    bool finished() const { return state_->finished; }

    struct Next {
        std::shared_ptr<State> state;
        bool await_ready() const { return !state->values.empty() || state->finished; }
        void await_suspend(std::coroutine_handle<> handle) { state->waiters.push_back(handle); }
        std::optional<T> await_resume() {
            if (state->values.empty()) return std::nullopt;
            T value = std::move(state->values.front());
            state->values.pop_front();
            // A value left over goes to the next waiter.
            if (!state->values.empty() || state->finished) state->wakeOne();
            return value;
        }
    };
    // Await the next value; nothing once finished and drained.
    Next next() const { return Next{state_}; }

private:
    std::shared_ptr<State> state_;
};

}  // namespace yux

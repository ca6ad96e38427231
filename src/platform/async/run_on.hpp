#pragma once

#include <coroutine>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include <QCoroTask>

#include "platform/async/main_thread.hpp"
#include "platform/async/serial_queue.hpp"

namespace yux::platform {

namespace detail {

template <class R>
struct ResultSlot {
    std::optional<R> value;
    R take() { return std::move(*value); }
    template <class F>
    void fill(F& work) { value.emplace(work()); }
};

template <>
struct ResultSlot<void> {
    void take() {}
    template <class F>
    void fill(F& work) { work(); }
};

template <class F>
struct RunOnAwaiter {
    using R = std::invoke_result_t<F&>;
    SerialQueue& queue;
    F work;
    ResultSlot<R> slot{};
    std::exception_ptr error{};

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) {
        queue.async([this, handle] {
            try {
                slot.fill(work);
            } catch (...) {
                error = std::current_exception();
            }
            postToMain([handle] { handle.resume(); });
        });
    }
    R await_resume() {
        if (error) {
            std::rethrow_exception(error);
        }
        return slot.take();
    }
};

}  // namespace detail

// Runs `work` on `queue` and resumes the awaiting coroutine on the main thread with its
// result (or its exception).
// The awaiter is a local of this coroutine, so it lives in a frame of its own for the whole wait.
template <class F>
auto runOn(SerialQueue& queue, F work) -> QCoro::Task<std::invoke_result_t<F&>> {
    detail::RunOnAwaiter<F> awaiter{queue, std::move(work)};
    co_return co_await awaiter;
}

}  // namespace yux::platform

#include "platform/async/sleep.hpp"

#include <QTimer>
#include <atomic>
#include <coroutine>
#include <memory>

#include "platform/async/main_thread.hpp"

namespace yux::platform {

namespace {

struct SleepState {
    std::coroutine_handle<> handle;
    std::atomic<bool> resumed{false};
    QTimer timer;

    void finish() {
        if (!resumed.exchange(true)) {
            timer.stop();
            handle.resume();
        }
    }
};

struct SleepAwaiter {
    std::chrono::milliseconds duration;
    CancelToken token;
    std::shared_ptr<SleepState> state = std::make_shared<SleepState>();
    std::shared_ptr<CancelRegistration> registration = std::make_shared<CancelRegistration>();

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) {
        state->handle = handle;
        state->timer.setSingleShot(true);
        state->timer.setTimerType(Qt::PreciseTimer);
        std::weak_ptr<SleepState> weak = state;
        QObject::connect(&state->timer, &QTimer::timeout, [weak] {
            if (auto s = weak.lock()) {
                s->finish();
            }
        });
        state->timer.start(duration);
        *registration = token.onCancel([weak] {
            postToMain([weak] {
                if (auto s = weak.lock()) {
                    s->finish();
                }
            });
        });
    }
    void await_resume() { registration->reset(); }
};

}  // namespace

QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, CancelToken token) {
    token.throwIfCancelled();
    // A named awaiter: g++ 12 destroys temporaries of an await expression too early.
    SleepAwaiter awaiter{duration, token};
    co_await awaiter;
    token.throwIfCancelled();
}

}  // namespace yux::platform

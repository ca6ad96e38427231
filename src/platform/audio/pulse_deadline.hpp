#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <string>

namespace yux::platform {

// Every wait on the sound server ends by a deadline. A server that stopped (SIGSTOP, hung)
// still takes connections on its socket and answers nothing, and the library gives up on an
// answer only after 30 s.
using PulseDeadline = std::chrono::steady_clock::time_point;

// With the loop locked: waits until `done()` holds or the deadline has passed, and tells which.
// A timer on the loop wakes the wait at the deadline, since a silent server signals nothing.
template <class Done>
bool waitLocked(pa_threaded_mainloop* loop, pa_context* context, Done done, PulseDeadline deadline) {
    if (done()) return true;
    const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    // The alarm's own flag ends the wait: the two clocks need not agree to the microsecond.
    struct Alarm {
        pa_threaded_mainloop* loop;
        bool rang = false;
    } alarm{loop};
    pa_time_event* event = pa_context_rttime_new(
        context, pa_rtclock_now() + static_cast<pa_usec_t>(left.count()),
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
            auto* alarm = static_cast<Alarm*>(data);
            alarm->rang = true;
            pa_threaded_mainloop_signal(alarm->loop, 0);
        },
        &alarm);
    if (event == nullptr) return done();
    while (!done() && !alarm.rang) pa_threaded_mainloop_wait(loop);
    pa_threaded_mainloop_get_api(loop)->time_free(event);
    return done();
}

// With the loop locked: waits until the server has done the operation, at most until the
// deadline. False when it did not answer in time; the operation is then given up, so its
// callback never runs (it may point to the caller's stack).
inline bool awaitOperationLocked(pa_threaded_mainloop* loop, pa_context* context, pa_operation* operation,
                                 PulseDeadline deadline) {
    if (operation == nullptr) return true;
    const bool answered = waitLocked(
        loop, context, [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, deadline);
    if (!answered) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return answered;
}

// The cause a user reads when the server let a deadline pass.
inline std::string noAnswerMessage(std::chrono::seconds limit) {
    return "The sound server did not answer within " + std::to_string(limit.count()) +
           (limit.count() == 1 ? " second." : " seconds.");
}

}  // namespace yux::platform

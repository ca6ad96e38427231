#pragma once

#include <functional>
#include <memory>
#include <utility>

namespace yux::platform {

// A scheduled timer; it stops when this handle goes, so an owner that drops its handle never
// hears from the timer again.
class ScheduledTimer {
public:
    explicit ScheduledTimer(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    ~ScheduledTimer() { stop(); }
    ScheduledTimer(const ScheduledTimer&) = delete;
    ScheduledTimer& operator=(const ScheduledTimer&) = delete;
    void stop() {
        if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
    }

private:
    std::function<void()> cancel_;
};

// Timers on the main thread's event loop. Live ones keep firing while a menu or a drag runs
// its own loop; the null source fires only when a test advances its clock. Copies share one
// clock. Main thread only.
class TimerSource {
public:
    struct Operations {
        std::function<std::unique_ptr<ScheduledTimer>(double seconds, bool repeating, std::function<void()> fire)>
            schedule;
    };

    static TimerSource create();
    static TimerSource create_null();
    explicit TimerSource(Operations operations) : operations_(std::move(operations)) {}

    // Fires every `seconds` until stopped.
    std::unique_ptr<ScheduledTimer> repeating(double seconds, std::function<void()> tick) const {
        return operations_.schedule(seconds, true, std::move(tick));
    }
    // Fires once, `seconds` from now.
    std::unique_ptr<ScheduledTimer> oneShot(double seconds, std::function<void()> fire) const {
        return operations_.schedule(seconds, false, std::move(fire));
    }

    // Null source only (the live one ignores these): moves the clock on, firing every timer
    // that falls due on the way, in time order (ties in the order they were scheduled).
    void advance(double seconds) const;
    // Null source only: how many timers are scheduled and not stopped.
    int scheduledCount() const;

private:
    struct NullClock;
    Operations operations_;
    std::shared_ptr<NullClock> clock_;
};

}  // namespace yux::platform

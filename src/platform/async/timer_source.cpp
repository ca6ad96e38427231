#include "platform/async/timer_source.hpp"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <vector>

namespace yux::platform {

struct TimerSource::NullClock {
    struct Entry {
        int id;
        double due;
        double period;  // 0: one-shot
        std::function<void()> fire;
    };
    double now = 0;
    int nextID = 0;
    std::vector<Entry> entries;
};

TimerSource TimerSource::create() {
    Operations operations;
    operations.schedule = [](double seconds, bool repeating, std::function<void()> fire) {
        QPointer<QTimer> timer = new QTimer();
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(!repeating);
        timer->setInterval(static_cast<int>(std::lround(std::max(seconds, 0.0) * 1000)));
        QObject::connect(timer, &QTimer::timeout, timer, std::move(fire));
        timer->start();
        // Later, not at once: the handle may be dropped from inside the timer's own tick.
        return std::make_unique<ScheduledTimer>([timer] {
            if (timer) {
                timer->stop();
                timer->deleteLater();
            }
        });
    };
    return TimerSource(std::move(operations));
}

TimerSource TimerSource::create_null() {
    auto clock = std::make_shared<NullClock>();
    Operations operations;
    operations.schedule = [weak = std::weak_ptr<NullClock>(clock)](double seconds, bool repeating,
                                                                    std::function<void()> fire) {
        auto clock = weak.lock();
        if (!clock) return std::make_unique<ScheduledTimer>([] {});
        int id = clock->nextID++;
        double period = repeating ? std::max(seconds, 1e-9) : 0;
        clock->entries.push_back({id, clock->now + seconds, period, std::move(fire)});
        return std::make_unique<ScheduledTimer>([weak, id] {
            if (auto clock = weak.lock()) std::erase_if(clock->entries, [id](const auto& entry) { return entry.id == id; });
        });
    };
    TimerSource source(std::move(operations));
    source.clock_ = clock;
    return source;
}

void TimerSource::advance(double seconds) const {
    if (!clock_) return;
    const double until = clock_->now + seconds;
    for (;;) {
        auto& entries = clock_->entries;
        auto next = std::min_element(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return a.due < b.due || (a.due == b.due && a.id < b.id);
        });
        if (next == entries.end() || next->due > until) break;
        clock_->now = next->due;
        // The tick may stop this timer or others, or schedule new ones: work on a copy.
        auto fire = next->fire;
        if (next->period > 0) next->due += next->period;
        else entries.erase(next);
        fire();
    }
    clock_->now = until;
}

int TimerSource::scheduledCount() const { return clock_ ? static_cast<int>(clock_->entries.size()) : 0; }

}  // namespace yux::platform

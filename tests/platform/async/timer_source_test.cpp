#include "platform/async/timer_source.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace yux::platform {
namespace {

TEST(TimerSource, TheNullFiresDueTimersInTimeOrderOnlyWhenAdvanced) {
    auto timers = TimerSource::create_null();
    std::vector<std::string> fired;
    auto poll = timers.repeating(1.0, [&] { fired.push_back("tick"); });
    auto once = timers.oneShot(1.5, [&] { fired.push_back("once"); });
    EXPECT_EQ(timers.scheduledCount(), 2);

    timers.advance(0.9);
    EXPECT_TRUE(fired.empty());
    timers.advance(2.1);  // to 3.0: ticks at 1, 2, 3 and the one-shot at 1.5
    EXPECT_EQ(fired, (std::vector<std::string>{"tick", "once", "tick", "tick"}));
    EXPECT_EQ(timers.scheduledCount(), 1);

    poll.reset();
    timers.advance(5);
    EXPECT_EQ(fired.size(), 4u);
    EXPECT_EQ(timers.scheduledCount(), 0);
}

TEST(TimerSource, ATickMayStopItselfAndScheduleAnother) {
    auto timers = TimerSource::create_null();
    int ticks = 0;
    int follow = 0;
    std::unique_ptr<ScheduledTimer> later;
    std::unique_ptr<ScheduledTimer> poll;
    poll = timers.repeating(1.0, [&] {
        ++ticks;
        poll.reset();
        later = timers.oneShot(0.5, [&] { ++follow; });
    });
    timers.advance(10);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(follow, 1);
}

TEST(TimerSource, LiveTimersFireOnTheEventLoopAndStopWithTheirHandle) {
    auto timers = TimerSource::create();
    int ticks = 0;
    // Due timers fire in the order of their times: a tick that outlived its stop would come
    // before this later one.
    bool quietSince = false;
    std::unique_ptr<ScheduledTimer> after;
    std::unique_ptr<ScheduledTimer> poll = timers.repeating(0.01, [&] {
        if (++ticks < 3) return;
        poll.reset();  // dropped from inside its own tick
        after = timers.oneShot(0.05, [&] { quietSince = true; });
    });
    bool once = false;
    auto single = timers.oneShot(0.05, [&] { once = true; });
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 60'000 && !(once && quietSince))  // a minute only for a hang
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(ticks, 3);
    EXPECT_TRUE(once);
    EXPECT_TRUE(quietSince);
}

}  // namespace
}  // namespace yux::platform

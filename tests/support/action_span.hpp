#pragma once

// Lengths that the program measured between two actions of a test, checked against what the
// test itself can vouch for. A busy machine delays both the actions and their effects, so a
// fixed tolerance around a sleep flakes; these bounds hold whatever the delays, and still
// catch a length that is really too short or too long.

#include <chrono>

#include <gtest/gtest.h>

namespace yux::testing {

using ActionClock = std::chrono::steady_clock;

// When the test sent an action, and when it first saw the action's effect.
struct TimedAction {
    ActionClock::time_point sent;
    ActionClock::time_point seen;
};

// The shortest and longest length, in seconds, the program may have measured.
struct ActionSpan {
    double shortest = 0;
    double longest = 0;
};

inline double secondsBetween(ActionClock::time_point from, ActionClock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// From the start seen to the stop sent, and from the start sent to the stop seen.
inline ActionSpan spanBetween(const TimedAction& start, const TimedAction& stop) {
    return {secondsBetween(start.seen, stop.sent), secondsBetween(start.sent, stop.seen)};
}

// Within the span widened by `margin` at both ends (a frame, a sound packet, a fragment).
inline void expectWithin(double seconds, const ActionSpan& span, double margin, const char* what) {
    EXPECT_GE(seconds, span.shortest - margin) << what << " is shorter than the test's actions allow";
    EXPECT_LE(seconds, span.longest + margin) << what << " is longer than the test's actions allow";
}

}  // namespace yux::testing

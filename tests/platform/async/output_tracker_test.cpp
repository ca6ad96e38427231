#include "platform/async/output_tracker.hpp"

#include <gtest/gtest.h>

#include <string>

using yux::platform::OutputListener;
using yux::platform::OutputTracker;

TEST(OutputTracker, SeesOnlyWhatHappensWhileItIsHeld) {
    OutputListener<std::string> listener;
    listener.record("before");
    auto tracker = listener.track();
    listener.record("one");
    listener.record("two");
    EXPECT_EQ(tracker.data(), (std::vector<std::string>{"one", "two"}));
    tracker.clear();
    listener.record("three");
    EXPECT_EQ(tracker.data(), (std::vector<std::string>{"three"}));
}

TEST(OutputTracker, SeveralTrackersEachSeeEverything) {
    OutputListener<int> listener;
    auto a = listener.track();
    {
        auto b = listener.track();
        listener.record(1);
        EXPECT_EQ(b.data(), (std::vector<int>{1}));
    }
    listener.record(2);
    EXPECT_EQ(a.data(), (std::vector<int>{1, 2}));
}

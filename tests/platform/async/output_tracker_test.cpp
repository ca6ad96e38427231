#include "platform/async/output_tracker.hpp"

#include <gtest/gtest.h>

#include <string>

using yux::platform::OutputListener;
using yux::platform::OutputTracker;

TEST(OutputTracker, SeesOnlyWhatHappensWhileItIsHeld) {
    OutputListener<std::string> listener;
    listener.emit("before");
    auto tracker = listener.track();
    listener.emit("one");
    listener.emit("two");
    EXPECT_EQ(tracker.data(), (std::vector<std::string>{"one", "two"}));
    tracker.clear();
    listener.emit("three");
    EXPECT_EQ(tracker.data(), (std::vector<std::string>{"three"}));
}

TEST(OutputTracker, SeveralTrackersEachSeeEverything) {
    OutputListener<int> listener;
    auto a = listener.track();
    {
        auto b = listener.track();
        listener.emit(1);
        EXPECT_EQ(b.data(), (std::vector<int>{1}));
    }
    listener.emit(2);
    EXPECT_EQ(a.data(), (std::vector<int>{1, 2}));
}

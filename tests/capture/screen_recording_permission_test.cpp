#include <gtest/gtest.h>

#include "capture/screen_recording_permission.hpp"

using namespace yux;

TEST(X11ScreenRecordingPermission, EveryRequestIsRecordedInCallOrderEvenWhenDenied) {
    auto denied = X11ScreenRecordingPermission::create_null(false, false);
    auto requests = denied.track_accessRequests();
    EXPECT_FALSE(denied.hasAccess());
    EXPECT_TRUE(requests->requests().empty());  // a check records nothing
    EXPECT_FALSE(denied.requestAccess());
    EXPECT_FALSE(denied.requestAccess());
    EXPECT_EQ(requests->requests(), (std::vector<ScreenRecordingAccessRequest>{{false}, {false}}));

    int answers = 0;
    X11ScreenRecordingPermission flipping([] { return true; }, [&answers] { return ++answers == 2; });
    flipping.requestAccess();
    flipping.requestAccess();
    EXPECT_EQ(flipping.track_accessRequests()->requests(),
              (std::vector<ScreenRecordingAccessRequest>{{false}, {true}}));
}

TEST(X11ScreenRecordingPermission, NoDisplayMeansNoAccess) {
    const char* saved = std::getenv("DISPLAY");
    std::string previous = saved != nullptr ? saved : "";
    unsetenv("DISPLAY");
    EXPECT_FALSE(X11ScreenRecordingPermission::x11DisplayUsable());
    if (saved != nullptr) setenv("DISPLAY", previous.c_str(), 1);
}

TEST(PulsePlaybackAudioCapability, LiveIsSupportedNullAnswersAsScripted) {
    EXPECT_TRUE(PulsePlaybackAudioCapability::create().isSupported());
    EXPECT_FALSE(PulsePlaybackAudioCapability::create_null(false).isSupported());
}

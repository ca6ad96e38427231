#include <gtest/gtest.h>

#include "capture/screen_recording_permission.hpp"

#include <map>

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

TEST(X11ScreenRecordingPermission, OnlyAnX11SessionWithSharedMemoryHasAccessNeverXWayland) {
    std::map<std::string, std::string> variables{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}};
    auto environment = [&](const char* name) -> std::optional<std::string> {
        auto found = variables.find(name);
        if (found == variables.end()) return std::nullopt;
        return found->second;
    };
    std::optional<X11DisplayFacts> facts = X11DisplayFacts{true, false};
    int probes = 0;
    auto display = [&] {
        ++probes;
        return facts;
    };
    auto access = [&] { return X11ScreenRecordingPermission::screenAccessAvailable(environment, display); };

    EXPECT_TRUE(access());
    variables.erase("XDG_SESSION_TYPE");  // a bare X server started by hand
    EXPECT_TRUE(access());
    facts = X11DisplayFacts{true, true};  // XWayland: only X clients would show
    EXPECT_FALSE(access());
    facts = X11DisplayFacts{false, false};  // no shared memory to hand over pictures
    EXPECT_FALSE(access());
    facts.reset();  // no X server answers
    EXPECT_FALSE(access());

    facts = X11DisplayFacts{true, false};
    variables["XDG_SESSION_TYPE"] = "wayland";  // a Wayland session, whatever its X server says
    probes = 0;
    EXPECT_FALSE(access());
    variables["XDG_SESSION_TYPE"] = "x11";
    variables.erase("DISPLAY");
    EXPECT_FALSE(access());
    EXPECT_EQ(probes, 0);  // neither asks the display
}

TEST(PulsePlaybackAudioCapability, LiveIsSupportedNullAnswersAsScripted) {
    EXPECT_TRUE(PulsePlaybackAudioCapability::create().isSupported());
    EXPECT_FALSE(PulsePlaybackAudioCapability::create_null(false).isSupported());
}

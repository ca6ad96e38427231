#include <gtest/gtest.h>

#include "capture/capture_stream_configuration.hpp"
#include "model/app_error.hpp"
#include "platform/audio/pulse_record_stream.hpp"
#include "support/media_time_printer.hpp"

using namespace yux;
using platform::PointRect;
using platform::ShareableDisplay;

namespace {

ShareableDisplay display(std::uint32_t id, PointRect frame, int width, int height) {
    return {id, width, height, frame, {static_cast<int>(frame.x), static_cast<int>(frame.y), width, height}};
}

platform::ShareableContent twoDisplays() {
    platform::ShareableContent content;
    content.displays = {display(412, {0, 0, 1920, 1080}, 1920, 1080), display(87, {1920, 0, 1280, 1024}, 1280, 1024)};
    content.mainDisplayID = 87;
    content.applications = {{300, "Gedit", "Text Editor"}, {42, "yux", "yux"}, {301, "Gedit", "Text Editor"}};
    return content;
}

CaptureTarget areaOn(std::string displayID, CaptureRect rect) {
    return CaptureTarget::area({DisplayID{std::move(displayID)}, rect});
}

}  // namespace

TEST(StartAttributes, AreaHasFiveKeysWithExactNumberTexts) {
    struct Row {
        CaptureRect rect;
        std::string text;
    };
    // Plain decimals that read back exactly, each with a fractional part, however large.
    for (const auto& row : {Row{{0, 25.5, 1280, 720}, "0.0,25.5,1280.0,720.0"},
                            Row{{100000, -3, 0.1, 1.0 / 3.0}, "100000.0,-3.0,0.1,0.3333333333333333"}}) {
        auto attributes = startAttributes(areaOn("412", row.rect), "/tmp/Yux/Scratch/A.mov");
        EXPECT_EQ(attributes, (std::map<std::string, std::string>{{"target_file", "/tmp/Yux/Scratch/A.mov"},
                                                                  {"capture_target", "area"},
                                                                  {"rect", row.text},
                                                                  {"quality", "full_fidelity"},
                                                                  {"shows_cursor", "true"}}));
    }
}

TEST(StartAttributes, FullDisplayAndApplicationHaveFourKeys) {
    auto full = startAttributes(CaptureTarget::fullMainDisplay(), "f.mov");
    EXPECT_EQ(full, (std::map<std::string, std::string>{{"target_file", "f.mov"},
                                                        {"capture_target", "fullMainDisplay"},
                                                        {"quality", "full_fidelity"},
                                                        {"shows_cursor", "true"}}));
    auto app = startAttributes(CaptureTarget::application("Gedit", DisplayID{"412"}), "a.mov");
    EXPECT_EQ(app, (std::map<std::string, std::string>{{"target_file", "a.mov"},
                                                       {"capture_target", "application"},
                                                       {"application", "Gedit"},
                                                       {"display", "412"}}));
}

TEST(ResolveDisplay, MatchesTheDecimalNumberAndTheMainDisplayForFullTargets) {
    auto content = twoDisplays();
    EXPECT_EQ(resolveDisplay(content, areaOn("412", {1, 1, 10, 10})).displayID, 412u);
    EXPECT_EQ(resolveDisplay(content, CaptureTarget::fullMainDisplay()).displayID, 87u);
    EXPECT_EQ(resolveDisplay(content, CaptureTarget::application("Gedit", DisplayID{"87"})).displayID, 87u);
    // Not a number match: leading zeros name no display.
    EXPECT_THROW(resolveDisplay(content, areaOn("0412", {1, 1, 10, 10})), AppError);
    try {
        resolveDisplay(content, areaOn("9", {1, 1, 10, 10}));
        FAIL();
    } catch (const AppError& error) {
        EXPECT_EQ(error, AppError::screenSelectionFailed("The selected display is no longer available"));
    }
    content.displays.clear();
    EXPECT_THROW(resolveDisplay(content, CaptureTarget::fullMainDisplay()), AppError);
}

TEST(ContentFilter, AreaAndFullDisplayLeaveOutThisProcessApplicationKeepsOnlyTheFirstMatch) {
    auto content = twoDisplays();
    const auto& screen = content.displays[0];
    auto area = contentFilter(content, areaOn("412", {0, 0, 10, 10}), screen, 42);
    EXPECT_EQ(area.mode, platform::ContentFilter::Mode::excludingApplications);
    ASSERT_EQ(area.applications.size(), 1u);
    EXPECT_EQ(area.applications[0].processID, 42);
    EXPECT_EQ(area.display, screen);

    auto app = contentFilter(content, CaptureTarget::application("Gedit", DisplayID{"412"}), screen, 42);
    EXPECT_EQ(app.mode, platform::ContentFilter::Mode::includingApplications);
    ASSERT_EQ(app.applications.size(), 1u);
    EXPECT_EQ(app.applications[0].processID, 300);

    try {
        contentFilter(content, CaptureTarget::application("Firefox", DisplayID{"412"}), screen, 42);
        FAIL();
    } catch (const AppError& error) {
        EXPECT_EQ(error, AppError::screenSelectionFailed("Selected application is no longer running"));
    }
}

TEST(ApplyTarget, AreaSizesAreScaledRoundedEvenAndAtLeastTwo) {
    auto screen = display(1, {0, 0, 1920, 1080}, 1920, 1080);
    platform::StreamConfiguration configuration;
    applyTarget(areaOn("1", {10, 20, 641.3, 479.6}), configuration, screen);
    EXPECT_EQ(configuration.width, 640);
    EXPECT_EQ(configuration.height, 480);
    EXPECT_EQ(configuration.sourceRect, (PointRect{10, 20, 641.3, 479.6}));

    applyTarget(areaOn("1", {5, 5, 1, 1}), configuration, screen);
    EXPECT_EQ(configuration.width, 2);
    EXPECT_EQ(configuration.height, 2);

    // Twice as many pixels as points; 100.25 points become 200.5 pixels, rounded away to 201, then 200.
    auto dense = display(2, {1920, 0, 960, 540}, 1920, 1080);
    applyTarget(areaOn("2", {2000, 100, 100.25, 50}), configuration, dense);
    EXPECT_EQ(configuration.width, 200);
    EXPECT_EQ(configuration.height, 100);
    EXPECT_EQ(configuration.sourceRect, (PointRect{80, 100, 100.25, 50}));
}

TEST(ApplyTarget, AreaIsLimitedToItsDisplayAndFailsWithoutOverlap) {
    auto screen = display(1, {0, 0, 1920, 1080}, 1920, 1080);
    platform::StreamConfiguration configuration;
    applyTarget(areaOn("1", {1800, -20, 400, 120}), configuration, screen);
    EXPECT_EQ(configuration.sourceRect, (PointRect{1800, 0, 120, 100}));
    EXPECT_EQ(configuration.width, 120);
    EXPECT_EQ(configuration.height, 100);
    EXPECT_THROW(applyTarget(areaOn("1", {1920, 0, 100, 100}), configuration, screen), AppError);
    EXPECT_THROW(applyTarget(areaOn("1", {-300, -300, 100, 100}), configuration, screen), AppError);
}

TEST(ApplyTarget, AreaPastTheLeftEdgeKeepsOnlyWhatLiesOnItsDisplay) {
    auto screen = display(1, {0, 0, 1920, 1080}, 1920, 1080);
    platform::StreamConfiguration configuration;
    applyTarget(areaOn("1", {-51, 10, 200, 100}), configuration, screen);
    EXPECT_EQ(configuration.sourceRect, (PointRect{0, 10, 149, 100}));
    EXPECT_EQ(configuration.width, 148);
    EXPECT_EQ(configuration.height, 100);

    // A display right of another, twice as many pixels as points: the part over the
    // neighbour is dropped, and the source rectangle starts at this display's own origin.
    auto right = display(2, {1920, 0, 1280, 1024}, 2560, 2048);
    applyTarget(areaOn("2", {1800, 100, 400, 300}), configuration, right);
    EXPECT_EQ(configuration.sourceRect, (PointRect{0, 100, 280, 300}));
    EXPECT_EQ(configuration.width, 560);
    EXPECT_EQ(configuration.height, 600);
    // Wholly on the neighbour, ending exactly at this display's left edge: nothing to record.
    EXPECT_THROW(applyTarget(areaOn("2", {1620, 100, 300, 300}), configuration, right), AppError);
}

TEST(ApplyTarget, ZeroFrameUsesOneAsDivisor) {
    auto broken = display(3, {0, 0, 0, 0}, 800, 600);
    platform::StreamConfiguration configuration;
    applyTarget(areaOn("3", {0, 0, 2, 3}), configuration, broken);
    EXPECT_EQ(configuration.width, 1600);
    EXPECT_EQ(configuration.height, 1800);
}

TEST(ApplyTarget, WholeDisplayTakesItsPixelsEvenAndWithoutSourceRect) {
    platform::StreamConfiguration configuration;
    configuration.sourceRect = PointRect{1, 1, 1, 1};
    applyTarget(CaptureTarget::fullMainDisplay(), configuration, display(1, {0, 0, 1365, 767}, 1365, 767));
    EXPECT_EQ(configuration.width, 1364);
    EXPECT_EQ(configuration.height, 766);
    EXPECT_FALSE(configuration.sourceRect);
    applyTarget(CaptureTarget::application("X", DisplayID{"1"}), configuration, display(1, {0, 0, 1, 0}, 1, 0));
    EXPECT_EQ(configuration.width, 2);
    EXPECT_EQ(configuration.height, 2);
}

TEST(StreamConfiguration, MicrophoneOnlyOnTheNativeRoute) {
    auto screen = display(1, {0, 0, 1920, 1080}, 1920, 1080);
    auto native = streamConfiguration(CaptureTarget::fullMainDisplay(), MicrophoneRoute::from("alsa_input.usb-mic"), screen);
    EXPECT_TRUE(native.capturesAudio);
    EXPECT_TRUE(native.captureMicrophone);
    EXPECT_EQ(native.microphoneCaptureDeviceID, "alsa_input.usb-mic");
    EXPECT_TRUE(native.showsCursor);
    EXPECT_FALSE(native.excludesCurrentProcessAudio);
    EXPECT_EQ(native.queueDepth, 6);
    EXPECT_EQ(native.minimumFrameInterval, platform::MediaTime::zero());
    EXPECT_EQ(native.width, 1920);

    auto usb = streamConfiguration(CaptureTarget::fullMainDisplay(), MicrophoneRoute::from("yux-usb:00008101"), screen);
    EXPECT_FALSE(usb.captureMicrophone);
    EXPECT_TRUE(usb.microphoneCaptureDeviceID.empty());
    EXPECT_FALSE(streamConfiguration(CaptureTarget::fullMainDisplay(), MicrophoneRoute::from(std::nullopt), screen)
                     .captureMicrophone);

    EXPECT_EQ(MicrophoneRoute::from(std::nullopt).logValue(), "off");
    EXPECT_EQ(MicrophoneRoute::from("yux-usb:1").logValue(), "usb");
    EXPECT_EQ(MicrophoneRoute::from("yux-usb").logValue(), "native");
}

TEST(RecordedRegion, SourceRectMovedToTheDisplayElseTheDisplayFrame) {
    auto second = display(2, {1920, 0, 1280, 1024}, 1280, 1024);
    platform::StreamConfiguration configuration;
    EXPECT_EQ(recordedRegion(configuration, second), second.frame);
    configuration.sourceRect = PointRect{10, 20, 300, 200};
    EXPECT_EQ(recordedRegion(configuration, second), (PointRect{1930, 20, 300, 200}));
}

TEST(StreamStartError, MissingSoundSourcesBecomeTheirAppErrors) {
    using platform::AudioSourceChoice;
    auto translated = [](std::exception_ptr error) -> std::optional<AppError> {
        try {
            rethrowStreamStartError(error);
        } catch (const AppError& appError) {
            return appError;
        } catch (...) {
        }
        return std::nullopt;
    };
    EXPECT_EQ(translated(std::make_exception_ptr(platform::AudioSourceUnavailable(
                  AudioSourceChoice::Kind::systemPlayback, "no monitor"))),
              AppError::systemPlaybackAudioUnavailable());
    EXPECT_EQ(translated(std::make_exception_ptr(
                  platform::AudioSourceUnavailable(AudioSourceChoice::Kind::namedSource, "no source \"mic\""))),
              AppError::microphoneFailed("no source \"mic\""));
    const std::string silent = "The sound server did not answer within 3 seconds.";
    EXPECT_EQ(translated(std::make_exception_ptr(
                  platform::AudioSourceFailed(AudioSourceChoice::Kind::systemPlayback, silent))),
              AppError::systemPlaybackAudioFailed(silent));
    EXPECT_EQ(translated(std::make_exception_ptr(
                  platform::AudioSourceFailed(AudioSourceChoice::Kind::namedSource, silent))),
              AppError::microphoneFailed(silent));
    EXPECT_EQ(translated(std::make_exception_ptr(std::runtime_error("X gone"))), std::nullopt);
}

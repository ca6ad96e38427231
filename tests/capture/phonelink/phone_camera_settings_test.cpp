#include "capture/phonelink/phone_camera_settings.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>

using namespace yux;

TEST(PhoneCameraSettings, FreshModelIsFrontAutoFullHdPortrait) {
    PhoneCameraSettings settings;
    EXPECT_EQ(settings.lens(), PhoneLens::front);
    EXPECT_EQ(settings.orientation(), PhoneOrientation::automatic);
    EXPECT_EQ(settings.resolution(), 1080);
    EXPECT_EQ(settings.fps(), 30);
    EXPECT_FALSE(settings.mirror());
    EXPECT_TRUE(settings.portrait());
    EXPECT_EQ(settings.dimensions(), (PhoneCameraSettings::Dimensions{1080, 1920}));
    EXPECT_EQ(settings.framing(), PhoneFraming{});
}

TEST(PhoneCameraSettings, FormatChangesOnlyToOfferedValuesAndNotWhileRecording) {
    PhoneCameraSettings settings;
    settings.setFormat(1440, 30);
    settings.setFormat(1080, 25);
    EXPECT_EQ(settings, PhoneCameraSettings{});
    settings.setFormat(2160, 60);
    EXPECT_EQ(settings.dimensions(), (PhoneCameraSettings::Dimensions{2160, 3840}));
    settings.setRecording(true);
    settings.setFormat(720, 24);
    settings.setOrientation(PhoneOrientation::landscape);
    EXPECT_EQ(settings.resolution(), 2160);
    EXPECT_EQ(settings.orientation(), PhoneOrientation::automatic);
}

TEST(PhoneCameraSettings, AutomaticOrientationFollowsTheDeviceAfterTheRecording) {
    PhoneCameraSettings settings;
    settings.rotate(false);
    EXPECT_FALSE(settings.portrait());
    EXPECT_EQ(settings.dimensions(), (PhoneCameraSettings::Dimensions{1920, 1080}));
    settings.setRecording(true);
    settings.rotate(true);
    EXPECT_FALSE(settings.portrait());
    settings.setRecording(false);
    EXPECT_TRUE(settings.portrait());

    settings.setOrientation(PhoneOrientation::landscape);
    settings.rotate(true);
    EXPECT_FALSE(settings.portrait());
}

TEST(PhoneCameraSettings, FramingIsLimitedPerLens) {
    PhoneCameraSettings settings;
    settings.frame(10, 0.5, 0.5);
    EXPECT_EQ(settings.framing().zoom, 3);
    settings.frame(0.2, -1, 2);
    EXPECT_EQ(settings.framing(), (PhoneFraming{1, 0, 1}));
    settings.select(PhoneLens::back);
    EXPECT_EQ(settings.framing(), PhoneFraming{});
    settings.frame(10, 0.3, 0.4);
    EXPECT_EQ(settings.framing().zoom, 6);
    settings.frame(0.2, 0.3, 0.4);
    EXPECT_EQ(settings.framing().zoom, 0.5);
    settings.frame(std::numeric_limits<double>::quiet_NaN(), 0.1, 0.1);
    settings.frame(2, std::numeric_limits<double>::infinity(), 0.1);
    EXPECT_EQ(settings.framing(), (PhoneFraming{0.5, 0.3, 0.4}));
    settings.select(PhoneLens::front);
    EXPECT_EQ(settings.framing(), (PhoneFraming{1, 0, 1}));
    settings.resetFraming();
    EXPECT_EQ(settings.framing(), PhoneFraming{});
}

TEST(PhoneCameraSettings, CropKeepsTheOutputAspectInsideTheSensor) {
    PhoneCameraSettings settings;
    settings.setOrientation(PhoneOrientation::landscape);
    EXPECT_EQ(settings.crop({1920, 1080}), (PhoneCameraSettings::Rect{0, 0, 1920, 1080}));
    settings.setOrientation(PhoneOrientation::portrait);
    EXPECT_EQ(settings.crop({1920, 1080}), (PhoneCameraSettings::Rect{656.25, 0, 607.5, 1080}));

    // A zoomed framing pushed to a corner stays inside the picture; zoom below 1 crops nothing extra.
    settings.setOrientation(PhoneOrientation::landscape);
    settings.frame(2, 1, 0);
    EXPECT_EQ(settings.crop({1920, 1080}), (PhoneCameraSettings::Rect{960, 0, 960, 540}));
    settings.select(PhoneLens::back);
    settings.frame(0.5, 0.5, 0.5);
    EXPECT_EQ(settings.crop({1920, 1080}), (PhoneCameraSettings::Rect{0, 0, 1920, 1080}));
}

TEST(PhoneCameraSettings, EnumerationsEncodeAsBareText) {
    EXPECT_EQ(nlohmann::json(PhoneOrientation::automatic), "auto");
    EXPECT_EQ(nlohmann::json(PhoneLens::back), "back");
    EXPECT_EQ(nlohmann::json("landscape").get<PhoneOrientation>(), PhoneOrientation::landscape);
    EXPECT_THROW(nlohmann::json("Auto").get<PhoneOrientation>(), std::invalid_argument);
    // Values that are no text fail the same way as unknown text, not with the JSON library's error.
    EXPECT_THROW(nlohmann::json(1).get<PhoneLens>(), std::invalid_argument);
    EXPECT_THROW(nlohmann::json(nullptr).get<PhoneOrientation>(), std::invalid_argument);
    EXPECT_THROW(nlohmann::json::array({"back"}).get<PhoneLens>(), std::invalid_argument);
}

#include "model/capture_input_preferences.hpp"

#include <gtest/gtest.h>

using namespace yux;
using json::DecodingError;
using json::Json;

namespace {
CameraPlacement placementFrom(const char* text) { return json::decodeText<CameraPlacement>(text); }
CaptureInputPreferences preferencesFrom(const char* text) { return json::decodeText<CaptureInputPreferences>(text); }
}  // namespace

TEST(CaptureInputChoices, RawValuesAndOrder) {
    EXPECT_EQ(textOf(kAllCaptureInputKinds[0]), "microphone");
    EXPECT_EQ(captureInputKindFromText("camera"), CaptureInputKind::camera);
    EXPECT_EQ(captureInputKindFromText("Camera"), std::nullopt);
    EXPECT_EQ(valueOf(CaptureRatio::free), std::nullopt);
    EXPECT_EQ(valueOf(CaptureRatio::portrait), 0.5625);
    EXPECT_DOUBLE_EQ(*valueOf(CaptureRatio::landscape), 16.0 / 9.0);
    EXPECT_EQ(captureRatioFromText("4:3"), CaptureRatio::classic);
    EXPECT_EQ(cameraShapeFromText("rounded"), CameraShape::rounded);
    EXPECT_EQ(cameraAnchorFromText("centre"), CameraPlacement::Anchor::centre);
    EXPECT_EQ(cameraAnchorFromText("center"), std::nullopt);
}

TEST(CameraPlacementCoding, EmptyObjectGivesTheDefaultsAndEncodesTenKeys) {
    auto placement = placementFrom("{}");
    EXPECT_EQ(placement, CameraPlacement{});
    EXPECT_EQ(placement.mirrored, std::nullopt);
    EXPECT_FALSE(placement.isMirrored());
    EXPECT_EQ(placement.aspect, 1.7777777777777777);
    Json encoded = json::encode(placement);
    EXPECT_EQ(encoded.size(), 10u);
    EXPECT_FALSE(encoded.contains("mirrored"));
    EXPECT_EQ(encoded["horizontal"], "end");
    EXPECT_EQ(encoded["shape"], "circle");
}

TEST(CameraPlacementCoding, RoundTripsEveryField) {
    CameraPlacement placement;
    placement.horizontal = CameraPlacement::Anchor::start;
    placement.vertical = CameraPlacement::Anchor::centre;
    placement.gapX = 12.5;
    placement.gapY = -4;
    placement.sizeShare = 0.2;
    placement.shape = CameraShape::rectangle;
    placement.aspect = 4.0 / 3.0;
    placement.mirrored = false;
    placement.zoom = 2.25;
    placement.centreX = 0.1;
    placement.centreY = 0.9;
    Json encoded = json::encode(placement);
    EXPECT_EQ(encoded["mirrored"], false);
    EXPECT_EQ(json::decodeText<CameraPlacement>(json::encodeText(encoded)), placement);
}

TEST(CameraPlacementCoding, NullKeysTakeDefaultsButWrongValuesFail) {
    EXPECT_EQ(placementFrom(R"({"zoom":null,"mirrored":null,"shape":null})"), CameraPlacement{});
    EXPECT_EQ(placementFrom(R"({"zoom":7})").zoom, 7);
    EXPECT_EQ(placementFrom(R"({"gapX":-1000,"unknown":[1]})").gapX, -1000);
    EXPECT_THROW(placementFrom(R"({"shape":"square"})"), DecodingError);
    EXPECT_THROW(placementFrom(R"({"horizontal":"left"})"), DecodingError);
    EXPECT_THROW(placementFrom(R"({"zoom":"2"})"), DecodingError);
    EXPECT_THROW(placementFrom(R"({"mirrored":1})"), DecodingError);
    EXPECT_THROW(placementFrom("[]"), DecodingError);
}

TEST(CaptureInputPreferencesCoding, RequiredKeysAndLenientCamera) {
    auto preferences =
        preferencesFrom(R"({"microphoneEnabled":true,"cameraEnabled":false,"ratio":"16:9","camera":{}})");
    CaptureInputPreferences expected;
    expected.microphoneEnabled = true;
    expected.ratio = CaptureRatio::landscape;
    EXPECT_EQ(preferences, expected);
    EXPECT_EQ(preferences.setupCompleted, std::nullopt);
    EXPECT_EQ(preferences.microphoneDeviceID, std::nullopt);

    EXPECT_THROW(preferencesFrom(R"({"microphoneEnabled":true,"cameraEnabled":false,"ratio":"16:9"})"),
                 DecodingError);
    EXPECT_THROW(preferencesFrom(R"({"cameraEnabled":false,"ratio":"Free","camera":{}})"), DecodingError);
    EXPECT_THROW(
        preferencesFrom(R"({"microphoneEnabled":true,"cameraEnabled":false,"ratio":"1:1","camera":{}})"),
        DecodingError);
    EXPECT_THROW(preferencesFrom(
                     R"({"microphoneEnabled":true,"cameraEnabled":false,"ratio":"Free","camera":{"shape":"oval"}})"),
                 DecodingError);
}

TEST(CaptureInputPreferencesCoding, DefaultsEncodeOnlyTheFourAlwaysWrittenKeys) {
    Json encoded = json::encode(CaptureInputPreferences{});
    Json expected = {{"microphoneEnabled", false},
                     {"cameraEnabled", false},
                     {"ratio", "Free"},
                     {"camera", json::encode(CameraPlacement{})}};
    EXPECT_EQ(encoded, expected);
}

TEST(CaptureInputPreferencesCoding, RoundTripsWithDevicesAndNullOptionals) {
    CaptureInputPreferences preferences;
    preferences.setupCompleted = true;
    preferences.microphoneEnabled = true;
    preferences.microphoneDeviceID = "alsa_input.usb-mic";
    preferences.cameraEnabled = true;
    preferences.cameraDeviceID = "yux-usb:00008110-ABC";
    preferences.ratio = CaptureRatio::classic;
    preferences.camera.mirrored = true;
    EXPECT_EQ(json::decodeText<CaptureInputPreferences>(json::encodeText(preferences)), preferences);

    auto withNulls = preferencesFrom(
        R"({"setupCompleted":null,"microphoneEnabled":false,"microphoneDeviceID":null,"cameraEnabled":true,)"
        R"("cameraDeviceID":null,"ratio":"9:16","camera":{}})");
    EXPECT_EQ(withNulls.setupCompleted, std::nullopt);
    EXPECT_TRUE(withNulls.cameraEnabled);
    EXPECT_EQ(withNulls.ratio, CaptureRatio::portrait);
}

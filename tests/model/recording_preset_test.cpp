#include <gtest/gtest.h>

#include <unordered_set>

#include "model/recording_preset.hpp"

namespace yux {
namespace {

using json::Json;
using Catalog = RecordingPresetCatalog;

Catalog builtInWith(void (*change)(std::vector<RecordingPreset>&)) {
    Catalog catalog = Catalog::builtIn();
    change(catalog.presets);
    return catalog;
}

TEST(RecordingPresetCatalogTest, BuiltInHoldsTheFourPresetsInOrder) {
    const auto& presets = Catalog::builtIn().presets;
    ASSERT_EQ(presets.size(), 4u);
    EXPECT_EQ(presets[0], (RecordingPreset{"best", "Best", 60, 1.0, 1.0, RecordingVideoCodec::hevc, 1.0}));
    EXPECT_EQ(presets[1], (RecordingPreset{"high", "High", 45, 0.78, 0.82, RecordingVideoCodec::hevc, 1.0}));
    EXPECT_EQ(presets[2], (RecordingPreset{"medium", "Medium", 30, 0.52, 0.55, RecordingVideoCodec::h264, 1.0}));
    EXPECT_EQ(presets[3], (RecordingPreset{"low", "Small", 20, 0.25, 0.25, RecordingVideoCodec::h264, 1.0}));
    EXPECT_EQ(&Catalog::builtIn(), &Catalog::builtIn());
    EXPECT_EQ(displayName(RecordingVideoCodec::h264), "H.264");
    EXPECT_EQ(displayName(RecordingVideoCodec::hevc), "HEVC (H.265)");
}

TEST(RecordingPresetCatalogTest, ValidatedReplacesACatalogWithOtherIdsWhole) {
    auto reordered = builtInWith([](auto& p) { std::swap(p[0], p[1]); p[2].frameRate = 17; });
    EXPECT_EQ(Catalog::validated(reordered), Catalog::builtIn());
    EXPECT_EQ(Catalog::validated(Catalog{}), Catalog::builtIn());
    EXPECT_EQ(Catalog::validated(builtInWith([](auto& p) { p.pop_back(); })), Catalog::builtIn());
    EXPECT_EQ(Catalog::validated(builtInWith([](auto& p) { p.push_back(p[0]); })), Catalog::builtIn());
    EXPECT_EQ(Catalog::validated(builtInWith([](auto& p) { p[3].id = "small"; })), Catalog::builtIn());
}

TEST(RecordingPresetCatalogTest, ValidatedHoldsValuesToTheirRangesAndFillsEmptyNames) {
    auto custom = builtInWith([](auto& p) {
        p[0].frameRate = 10;
        p[0].sharpness = -0.5;
        p[0].resolutionScale = 0.1;
        p[1].frameRate = 90;
        p[1].motionDetail = 3;
        p[1].resolutionScale = 2;
        p[2].name = "Mine";
        p[2].codec = RecordingVideoCodec::hevc;
        p[3].name = "";
    });
    const auto presets = Catalog::validated(custom).presets;
    EXPECT_EQ(presets[0].frameRate, 15);
    EXPECT_EQ(presets[0].sharpness, 0);
    EXPECT_EQ(presets[0].resolutionScale, 0.25);
    EXPECT_EQ(presets[1].frameRate, 60);
    EXPECT_EQ(presets[1].motionDetail, 1);
    EXPECT_EQ(presets[1].resolutionScale, 1);
    EXPECT_EQ(presets[2].name, "Mine");
    EXPECT_EQ(presets[2].codec, RecordingVideoCodec::hevc);
    EXPECT_EQ(presets[3].name, "Small");
}

TEST(RecordingPresetCatalogTest, ValidatedTurnsNotANumberIntoTheLowerBound) {
    auto custom = builtInWith([](auto& p) {
        p[0].frameRate = std::numeric_limits<double>::quiet_NaN();
        p[0].resolutionScale = std::numeric_limits<double>::quiet_NaN();
    });
    const auto presets = Catalog::validated(custom).presets;
    EXPECT_EQ(presets[0].frameRate, 15);
    EXPECT_EQ(presets[0].resolutionScale, 0.25);
}

TEST(RecordingPresetCatalogTest, LooksUpTheFirstPresetAndFallsBackToHigh) {
    Catalog twice{{{"a", "First", 30, 0, 0, RecordingVideoCodec::h264, 1}, {"a", "Second", 30, 0, 0, RecordingVideoCodec::h264, 1}}};
    EXPECT_EQ(twice.preset("a")->name, "First");
    EXPECT_EQ(twice.preset("b"), std::nullopt);
    EXPECT_EQ((std::unordered_set<RecordingPresetID>{"low", std::string("low"), "high"}.size()), 2u);
    EXPECT_EQ(Catalog::validSelectedPresetID("low", Catalog::builtIn()), RecordingPresetID("low"));
    EXPECT_EQ(Catalog::validSelectedPresetID("ultra", Catalog::builtIn()), RecordingPresetID("high"));
}

TEST(RecordingPresetJsonTest, EncodesEveryFieldAsSortedCompactTextAndDecodesThePresetAndCatalogBack) {
    auto medium = *Catalog::builtIn().preset("medium");
    EXPECT_EQ(json::encode(medium), Json::parse(R"({"id":"medium","name":"Medium","frameRate":30,"sharpness":0.52,
        "motionDetail":0.55,"codec":"h264","resolutionScale":1})"));
    EXPECT_EQ(json::encodeText(medium),
              R"({"codec":"h264","frameRate":30,"id":"medium","motionDetail":0.55,"name":"Medium","resolutionScale":1,"sharpness":0.52})");
    EXPECT_EQ(json::decodeText<RecordingPreset>(
                  R"({"id":"medium","name":"Medium","frameRate":30,"sharpness":0.52,"motionDetail":0.55,"codec":"h264","resolutionScale":1})"),
              medium);
    EXPECT_EQ(json::decodeText<RecordingPresetCatalog>(json::encodeText(Catalog::builtIn())), Catalog::builtIn());
}

TEST(RecordingPresetJsonTest, OlderPresetsWithoutCodecOrScaleTakeTheirDefaults) {
    auto best = json::decodeText<RecordingPreset>(
        R"({"id":"best","name":"Best","frameRate":60,"sharpness":1,"motionDetail":1,"resolutionScale":null,"extra":4})");
    EXPECT_EQ(best.codec, RecordingVideoCodec::hevc);
    EXPECT_EQ(best.resolutionScale, 1.0);
    auto high = json::decodeText<RecordingPreset>(R"({"id":"high","name":"H","frameRate":45,"sharpness":1,"motionDetail":1})");
    EXPECT_EQ(high.codec, RecordingVideoCodec::hevc);
    auto other = json::decodeText<RecordingPreset>(
        R"({"id":"custom","name":"C","frameRate":700,"sharpness":-4,"motionDetail":1,"codec":null})");
    EXPECT_EQ(other.codec, RecordingVideoCodec::h264);
    EXPECT_EQ(other.frameRate, 700);  // ranges are the catalog's job
}

TEST(RecordingPresetJsonTest, RefusesUnknownCodecsMissingKeysAndWrongTypes) {
    EXPECT_THROW(json::decodeText<RecordingPreset>(
                     R"({"id":"low","name":"S","frameRate":20,"sharpness":1,"motionDetail":1,"codec":"vp9"})"),
                 json::DecodingError);
    EXPECT_THROW(json::decodeText<RecordingPreset>(R"({"id":"low","name":"S","frameRate":20,"sharpness":1})"),
                 json::DecodingError);
    EXPECT_THROW(json::decodeText<RecordingPreset>(
                     R"({"id":"low","name":"S","frameRate":"20","sharpness":1,"motionDetail":1})"),
                 json::DecodingError);
    EXPECT_THROW(json::decodeText<RecordingPreset>(
                     R"({"id":"low","name":"S","frameRate":20,"sharpness":1,"motionDetail":1,"resolutionScale":"1"})"),
                 json::DecodingError);
    EXPECT_THROW(json::decodeText<RecordingPresetCatalog>(R"({})"), json::DecodingError);
}

TEST(RecordingCaptureDiagnosticsJsonTest, RoundTripsAndRequiresEveryKey) {
    RecordingCaptureDiagnostics diagnostics{RecordingCaptureConfig::fullFidelity(), 120.5};
    auto encoded = json::encode(diagnostics);
    EXPECT_EQ(encoded, Json::parse(R"({"config":{"frameRate":0,"sharpness":1,"motionDetail":1,"showsCursor":true},
        "actualMegabytesPerMinute":120.5})"));
    EXPECT_EQ(json::decode<RecordingCaptureDiagnostics>(encoded), diagnostics);
    EXPECT_THROW(json::decodeText<RecordingCaptureDiagnostics>(R"({"config":{"frameRate":0,"sharpness":1,"motionDetail":1},
        "actualMegabytesPerMinute":1})"),
                 json::DecodingError);
    EXPECT_THROW(json::decodeText<RecordingCaptureConfig>(
                     R"({"frameRate":29.97,"sharpness":1,"motionDetail":1,"showsCursor":true})"),
                 json::DecodingError);
    EXPECT_THROW(json::decodeText<RecordingCaptureDiagnostics>(
                     R"({"config":{"frameRate":0,"sharpness":1,"motionDetail":1,"showsCursor":true}})"),
                 json::DecodingError);
}

}  // namespace
}  // namespace yux

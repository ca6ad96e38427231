#include <gtest/gtest.h>

#include <limits>

#include "model/recording_encoding_policy.hpp"

namespace yux {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

RecordingPreset builtIn(const char* id) { return *RecordingPresetCatalog::builtIn().preset(id); }

RecordingPreset custom(double sharpness, double motion, double scale, RecordingVideoCodec codec) {
    return {"custom", "Custom", 30, sharpness, motion, codec, scale};
}

TEST(RecordingEncodingPolicyTest, BitRatesOfTheBuiltInPresets) {
    RecordingEncodingPolicy policy;
    EXPECT_EQ(policy.targetVideoBitsPerSecond(builtIn("best")), 2'600'000);
    EXPECT_EQ(policy.targetVideoBitsPerSecond(builtIn("high")), 2'234'635);
    EXPECT_EQ(policy.targetVideoBitsPerSecond(builtIn("medium")), 2'658'625);
    EXPECT_EQ(policy.targetVideoBitsPerSecond(builtIn("low")), 1'810'000);
}

TEST(RecordingEncodingPolicyTest, FloorComesBeforeTheHevcFactor) {
    RecordingEncodingPolicy policy;
    EXPECT_EQ(policy.targetVideoBitsPerSecond(custom(0, 0, 0.25, RecordingVideoCodec::h264)), 100'000);
    EXPECT_EQ(policy.targetVideoBitsPerSecond(custom(0, 0, 0.25, RecordingVideoCodec::hevc)), 65'000);
}

TEST(RecordingEncodingPolicyTest, NonFiniteOrHugePresetsGiveAnInRangeRate) {
    RecordingEncodingPolicy policy;
    EXPECT_EQ(policy.targetVideoBitsPerSecond(custom(kNaN, 0, 1, RecordingVideoCodec::h264)), 100'000);
    EXPECT_EQ(policy.targetVideoBitsPerSecond(custom(kInfinity, 0, 1, RecordingVideoCodec::h264)), kInt64Max);
    EXPECT_EQ(policy.targetVideoBitsPerSecond(custom(1, 1, 1e200, RecordingVideoCodec::h264)), kInt64Max);
    EXPECT_GT(policy.targetVideoBitsPerSecond(custom(1, 1, 1e200, RecordingVideoCodec::hevc)), 0);
}

TEST(RecordingOutputGeometryTest, ScalesRoundsAndMakesEven) {
    auto half = RecordingOutputGeometry::scaled(1920, 1080, AffineTransform::identity(), 0.5);
    EXPECT_EQ(half.width, 960);
    EXPECT_EQ(half.height, 540);
    EXPECT_EQ(half.transform, AffineTransform::scale(0.5, 0.5));

    auto odd = RecordingOutputGeometry::scaled(1366, 768, AffineTransform::identity(), 0.75);
    EXPECT_EQ(odd.width, 1024);
    EXPECT_EQ(odd.height, 576);

    auto tiny = RecordingOutputGeometry::scaled(5, 3, AffineTransform::identity(), 0.1);
    EXPECT_EQ(tiny.width, 2);
    EXPECT_EQ(tiny.height, 2);
    EXPECT_EQ(tiny.transform, AffineTransform::scale(0.25, 0.25));  // the clamped scale, not 2/5

    auto one = RecordingOutputGeometry::scaled(1, 1, AffineTransform::identity(), 4);
    EXPECT_EQ(one.width, 2);
    EXPECT_EQ(one.height, 2);
}

TEST(RecordingOutputGeometryTest, QuarterTurnSwapsTheSidesAndMovesTheFrameIntoView) {
    const AffineTransform quarterTurn{0, 1, -1, 0, 0, 0};
    auto geometry = RecordingOutputGeometry::scaled(1080, 1920, quarterTurn, 1);
    EXPECT_EQ(geometry.width, 1920);
    EXPECT_EQ(geometry.height, 1080);
    // Every source corner lands inside the output.
    for (Point corner : {Point{0, 0}, Point{1080, 0}, Point{0, 1920}, Point{1080, 1920}}) {
        Point p = geometry.transform.apply(corner);
        EXPECT_GE(p.x, 0);
        EXPECT_LE(p.x, 1920);
        EXPECT_GE(p.y, 0);
        EXPECT_LE(p.y, 1080);
    }
}

TEST(RecordingOutputGeometryTest, NonFiniteInputsGiveTheSmallestGeometry) {
    const RecordingOutputGeometry smallest{2, 2, AffineTransform::identity()};
    EXPECT_EQ(RecordingOutputGeometry::scaled(1920, 1080, AffineTransform::identity(), kNaN), smallest);
    EXPECT_EQ(RecordingOutputGeometry::scaled(1920, 1080, AffineTransform{kNaN, 0, 0, 1, 0, 0}, 1), smallest);
    EXPECT_EQ(RecordingOutputGeometry::scaled(1920, 1080, AffineTransform{1, 0, 0, 1, kInfinity, 0}, 1), smallest);
    // Infinite scales are only out of range: they clamp like any other.
    EXPECT_EQ(RecordingOutputGeometry::scaled(1920, 1080, AffineTransform::identity(), kInfinity).width, 1920);
    EXPECT_EQ(RecordingOutputGeometry::scaled(1920, 1080, AffineTransform::identity(), -kInfinity).width, 480);
}

TEST(RecordingOutputGeometryTest, HugeSizesAreHeldAtTheLargestEvenInt) {
    auto huge = RecordingOutputGeometry::scaled(1000, 1000, AffineTransform::scale(1e300, 1), 1);
    EXPECT_EQ(huge.width, std::numeric_limits<int>::max() - 1);
    EXPECT_EQ(huge.height, 1000);
    auto negative = RecordingOutputGeometry::scaled(-1920, -1080, AffineTransform::identity(), 1);
    EXPECT_EQ(negative.width, 1920);
    EXPECT_EQ(negative.height, 1080);
}

TEST(RecordingPresetEstimatePolicyTest, MeasuresMegabytesPerMinute) {
    RecordingPresetEstimatePolicy policy;
    EXPECT_EQ(policy.actualMegabytesPerMinute(120'000'000, 60), 120);
    EXPECT_EQ(policy.actualMegabytesPerMinute(120'000'000, -1), 0);
    EXPECT_EQ(policy.actualMegabytesPerMinute(120'000'000, 0), 0);
    EXPECT_EQ(policy.actualMegabytesPerMinute(120'000'000, kNaN), 0);
    EXPECT_EQ(policy.actualMegabytesPerMinute(120'000'000, kInfinity), 0);
}

TEST(RecordingPresetEstimatePolicyTest, EstimatesTheSmallerOfRateAndShare) {
    RecordingPresetEstimatePolicy policy;
    EXPECT_EQ(policy.selectedEstimate(120'000'000, 60, 30, builtIn("high")),
              (RecordingSizeEstimate{14'175'810, "Selected: estimated up to 15 MB"}));
    EXPECT_EQ(policy.selectedEstimate(50'000'000, 600, 10, builtIn("low")),
              (RecordingSizeEstimate{1'333'334, "Selected: estimated up to 2 MB"}));
    // A single byte still reads as a whole megabyte.
    EXPECT_EQ(policy.selectedEstimate(1, 1000, 0.5, builtIn("low")).displayText, "Selected: estimated up to 1 MB");
}

TEST(RecordingPresetEstimatePolicyTest, NothingSelectedOrUnusableDurationsEstimateZero) {
    RecordingPresetEstimatePolicy policy;
    const RecordingSizeEstimate zero{0, "Selected: estimated up to 0 MB"};
    for (const char* id : {"best", "low"}) {
        EXPECT_EQ(policy.selectedEstimate(120'000'000, 60, 0, builtIn(id)), zero);
    }
    EXPECT_EQ(policy.selectedEstimate(120'000'000, 0, 30, builtIn("high")), zero);
    EXPECT_EQ(policy.selectedEstimate(120'000'000, kNaN, 30, builtIn("high")), zero);
    EXPECT_EQ(policy.selectedEstimate(120'000'000, 60, kNaN, builtIn("high")), zero);
    EXPECT_EQ(policy.selectedEstimate(120'000'000, 60, kInfinity, builtIn("high")), zero);
    EXPECT_EQ(policy.selectedEstimate(-5, 60, 30, builtIn("high")), zero);
}

TEST(RecordingPresetEstimatePolicyTest, EstimatesBeyondTheIntegerRangeAreHeldAtItsEnd) {
    RecordingPresetEstimatePolicy policy;
    auto preset = custom(1, 1, 1e150, RecordingVideoCodec::h264);
    auto estimate = policy.selectedEstimate(kInt64Max, 1, 1e300, preset);
    EXPECT_EQ(estimate.bytes, kInt64Max);
    EXPECT_EQ(estimate.displayText, "Selected: estimated up to 9223372036855 MB");
}

}  // namespace
}  // namespace yux

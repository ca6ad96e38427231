#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "model/recording_crop.hpp"

namespace yux {
namespace {

using Ratio = RecordingCrop::Ratio;
using Field = RecordingCrop::Field;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr Size kHD{1920, 1080};

TEST(RecordingCropTest, NewCropIsTheWholeFrame) {
    RecordingCrop crop;
    EXPECT_FALSE(crop.isCropped());
    EXPECT_EQ(crop.ratio(), Ratio::free);
    EXPECT_EQ(crop.pixels(kHD), (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(crop.pixels({3, 3}), (Rect{0, 0, 2, 2}));
}

TEST(RecordingCropTest, RatioNamesAndAspects) {
    const char* names[] = {"Free", "16:9", "4:3", "1:1", "9:16"};
    for (std::size_t i = 0; i < std::size(RecordingCrop::allRatios); ++i) {
        EXPECT_EQ(RecordingCrop::rawValue(RecordingCrop::allRatios[i]), names[i]);
        EXPECT_EQ(RecordingCrop::ratioFromRawValue(names[i]), RecordingCrop::allRatios[i]);
    }
    EXPECT_EQ(RecordingCrop::aspect(Ratio::free), std::nullopt);
    EXPECT_EQ(RecordingCrop::aspect(Ratio::wide), 1.7777777777777777);
    EXPECT_EQ(RecordingCrop::aspect(Ratio::portrait), 0.5625);
    EXPECT_EQ(RecordingCrop::fieldFromRawValue("W"), Field::width);
    EXPECT_EQ(RecordingCrop::rawValue(Field::y), "Y");
}

TEST(RecordingCropTest, SquareRatioOnTheWholeFrameCentresHorizontally) {
    RecordingCrop crop;
    crop.setRatio(Ratio::square, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{420, 0, 1080, 1080}));
    EXPECT_TRUE(crop.isCropped());
    EXPECT_EQ(crop.maximum(Field::width, kHD), 1080);
    EXPECT_EQ(crop.maximum(Field::height, kHD), 1080);
    EXPECT_EQ(crop.maximum(Field::x, kHD), 840);
    crop.reset();
    EXPECT_EQ(crop, RecordingCrop());
}

TEST(RecordingCropTest, TypedFieldsKeepTheCentreAndStayInside) {
    RecordingCrop crop;
    crop.set(Field::width, 1001, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{460, 0, 1000, 1080}));
    crop.set(Field::x, 5000, kHD);
    EXPECT_EQ(crop.pixels(kHD).x, 920);
    crop.set(Field::x, -3, kHD);
    EXPECT_EQ(crop.pixels(kHD).x, 0);
    // Growing around the centre at the left edge is pushed back inside.
    crop.set(Field::width, 1500, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{0, 0, 1500, 1080}));
    crop.set(Field::height, 1, kHD);
    EXPECT_EQ(crop.pixels(kHD).height, 2);
}

TEST(RecordingCropTest, RatioHoldsWhenTypingEitherSide) {
    RecordingCrop crop;
    crop.setRatio(Ratio::wide, kHD);
    crop.set(Field::height, 450, kHD);
    EXPECT_EQ(crop.pixels(kHD).width, 800);
    EXPECT_EQ(crop.pixels(kHD).height, 450);
    crop.setRatio(Ratio::portrait, kHD);
    const Rect p = crop.pixels(kHD);
    EXPECT_EQ(p.height, 1076);  // the width narrows first so the height fits
    EXPECT_EQ(p.width, 606);
}

TEST(RecordingCropTest, SetIgnoresUnusableInput) {
    RecordingCrop crop;
    crop.set(Field::width, 1000, {1, 100});
    crop.set(Field::width, kNaN, kHD);
    crop.set(Field::x, kInfinity, kHD);
    crop.set(Field::width, 1000, {kInfinity, 1080});
    EXPECT_EQ(crop, RecordingCrop());
    // The ratio is stored even when the frame is too small to fit the crop to it.
    crop.setRatio(Ratio::square, {1, 1});
    EXPECT_EQ(crop.ratio(), Ratio::square);
    EXPECT_FALSE(crop.isCropped());
}

TEST(RecordingCropTest, MoveAndResizeIgnoreUnusableFramesAndPoints) {
    RecordingCrop crop;
    crop.set(Field::width, 1000, kHD);
    const RecordingCrop before = crop;
    crop.move({10, 10}, {0, 0});
    crop.move({kNaN, 10}, kHD);
    crop.move({10, -kInfinity}, kHD);
    crop.resize({100, 100}, {10, 10}, {0, 1080});
    crop.resize({kNaN, 100}, {10, 10}, kHD);
    crop.resize({100, 100}, {kInfinity, 10}, kHD);
    crop.resize({100, 100}, {10, 10}, {kNaN, kNaN});
    EXPECT_EQ(crop, before);
    EXPECT_EQ(crop.pixels({kNaN, 1080}), Rect{});
}

TEST(RecordingCropTest, MoveClampsTheOriginIntoTheFrame) {
    RecordingCrop crop;
    crop.set(Field::width, 1000, kHD);
    crop.set(Field::height, 500, kHD);
    crop.move({100, 200}, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{100, 200, 1000, 500}));
    crop.move({1900, -50}, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{920, 0, 1000, 500}));
}

TEST(RecordingCropTest, ResizeNeverShrinksBelowATenthAndKeepsTheOppositeCorner) {
    RecordingCrop crop;
    crop.resize({960, 540}, {960, 540}, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{960, 540, 192, 108}));

    // Dragging up and left of the opposite corner, past the frame.
    crop.resize({-300, -300}, {1000, 600}, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{0, 0, 1000, 600}));

    // With a ratio the corner that moved further decides, within the room on both axes.
    crop.setRatio(Ratio::square, kHD);
    crop.resize({1900, 700}, {1000, 600}, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{1000, 600, 480, 480}));
}

// The wide ratio tells width × aspect from width ÷ aspect apart, which the square one cannot.
TEST(RecordingCropTest, AWideCornerDragKeepsSixteenByNineWhicheverAxisDecides) {
    RecordingCrop crop;
    crop.setRatio(Ratio::wide, kHD);

    // The corner moved further down than across: the height decides, the width follows.
    crop.resize({400, 450}, {0, 0}, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{0, 0, 800, 450}));

    // The corner moved further across: the width decides, the height follows.
    crop.resize({960, 90}, {0, 0}, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{0, 0, 960, 540}));

    // Near the bottom edge the room down limits the width to that room times the aspect.
    crop.resize({1900, 1000}, {0, 900}, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{0, 900, 320, 180}));

    // Dragging up and left from the far corner keeps that corner fixed.
    crop.resize({1600, 900}, {1920, 1080}, kHD);
    EXPECT_EQ(crop.pixels(kHD), (Rect{1600, 900, 320, 180}));
}

// Whatever the user does, the export gets an even, whole-pixel rectangle of at least 2 × 2
// inside the frame.
TEST(RecordingCropTest, EveryRatioGivesEvenPixelRectanglesInsideTheFrame) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> anywhere(-500, 2500);
    const Size frames[] = {{1920, 1080}, {1366, 768}, {1081, 1921}, {3, 3}, {2, 2}, {641, 479}};
    for (Ratio ratio : RecordingCrop::allRatios) {
        for (Size frame : frames) {
            RecordingCrop crop;
            crop.setRatio(ratio, frame);
            for (int step = 0; step < 300; ++step) {
                switch (step % 5) {
                    case 0: crop.set(RecordingCrop::allFields[step / 5 % 4], anywhere(random), frame); break;
                    case 1: crop.move({anywhere(random), anywhere(random)}, frame); break;
                    case 2: crop.resize({anywhere(random), anywhere(random)}, {anywhere(random), anywhere(random)}, frame); break;
                    case 3: crop.setRatio(RecordingCrop::allRatios[step / 5 % 5], frame); crop.setRatio(ratio, frame); break;
                    case 4: crop.set(Field::x, crop.maximum(Field::x, frame), frame); break;
                }
                const Rect r = crop.rect();
                ASSERT_TRUE(r.x >= 0 && r.y >= 0 && r.x + r.width <= 1 + 1e-12 && r.y + r.height <= 1 + 1e-12)
                    << "step " << step;
                const Rect p = crop.pixels(frame);
                SCOPED_TRACE(testing::Message() << "ratio " << RecordingCrop::rawValue(ratio) << " frame "
                                                << frame.width << "x" << frame.height << " step " << step);
                ASSERT_EQ(std::fmod(p.width, 2), 0);
                ASSERT_EQ(std::fmod(p.height, 2), 0);
                ASSERT_GE(p.width, 2);
                ASSERT_GE(p.height, 2);
                ASSERT_EQ(p.x, std::floor(p.x));
                ASSERT_EQ(p.y, std::floor(p.y));
                ASSERT_GE(p.x, 0);
                ASSERT_GE(p.y, 0);
                ASSERT_LE(p.x + p.width, frame.width);
                ASSERT_LE(p.y + p.height, frame.height);
            }
        }
    }
}

}  // namespace
}  // namespace yux

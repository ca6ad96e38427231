#include <gtest/gtest.h>

#include <limits>

#include "model/camera_overlay_geometry.hpp"

namespace yux {
namespace {

using Anchor = CameraPlacement::Anchor;

constexpr Rect kArea{0, 0, 1920, 1080};
const CameraOverlayGeometry geometry;

void expectNear(const Rect& actual, const Rect& expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-9);
    EXPECT_NEAR(actual.y, expected.y, 1e-9);
    EXPECT_NEAR(actual.width, expected.width, 1e-9);
    EXPECT_NEAR(actual.height, expected.height, 1e-9);
}

CameraPlacement shaped(CameraShape shape, double aspect) {
    CameraPlacement placement;
    placement.shape = shape;
    placement.aspect = aspect;
    return placement;
}

TEST(CameraOverlayGeometryTest, DefaultBubbleSitsInTheEndCorner) {
    expectNear(geometry.frame(CameraPlacement(), kArea), {1499.2, 659.2, 388.8, 388.8});
    // The same arithmetic holds in an area away from the origin.
    expectNear(geometry.frame(CameraPlacement(), {100, -50, 1920, 1080}), {1599.2, 609.2, 388.8, 388.8});
}

TEST(CameraOverlayGeometryTest, EmptyAreasGiveTheZeroBubbleAndKeepThePlacement) {
    CameraPlacement placement;
    placement.gapX = 7;
    EXPECT_EQ(geometry.frame(placement, {0, 0, 0, 500}), Rect{});
    EXPECT_EQ(geometry.frame(placement, {0, 0, 500, -1}), Rect{});
    EXPECT_EQ(geometry.placement({10, 10, 100, 100}, {0, 0, 500, 0}, placement, true), placement);
}

TEST(CameraOverlayGeometryTest, SideAndAspectAreHeldToTheirBounds) {
    EXPECT_EQ(geometry.frame(CameraPlacement(), {0, 0, 50, 40}).width, 40);
    EXPECT_EQ(geometry.frame(CameraPlacement(), {0, 0, 50, 40}).height, 40);

    CameraPlacement tiny;
    tiny.sizeShare = 0.01;
    EXPECT_EQ(geometry.frame(tiny, kArea).width, 60);

    const Rect thin = geometry.frame(shaped(CameraShape::rectangle, 0.01), kArea);
    EXPECT_NEAR(thin.width / thin.height, 0.1, 1e-12);
    const Rect circle = geometry.frame(shaped(CameraShape::circle, 0.01), kArea);
    EXPECT_EQ(circle.width, circle.height);
    const Rect rounded = geometry.frame(shaped(CameraShape::rounded, 2), kArea);
    EXPECT_EQ(rounded.width, 2 * rounded.height);
}

TEST(CameraOverlayGeometryTest, CropFillsTheBubbleAndFollowsTheCentre) {
    const Rect square{0, 0, 300, 300};
    expectNear(geometry.crop(CameraPlacement(), square, 16.0 / 9.0), {0.21875, 0, 0.5625, 1});

    CameraPlacement corner;
    corner.zoom = 2;
    corner.centreX = 0;
    corner.centreY = 0;
    expectNear(geometry.crop(corner, square, 1), {0, 0, 0.5, 0.5});
    corner.centreX = 1;
    corner.centreY = 1;
    expectNear(geometry.crop(corner, square, 1), {0.5, 0.5, 0.5, 0.5});

    // A picture narrower than the bubble is cut top and bottom.
    expectNear(geometry.crop(CameraPlacement(), {0, 0, 400, 200}, 1), {0, 0.25, 1, 0.5});
    // A bubble less than a point tall counts as one point tall.
    expectNear(geometry.crop(CameraPlacement(), {0, 0, 2, 0.5}, 1), {0, 0.25, 1, 0.5});
}

TEST(CameraOverlayGeometryTest, ZoomIsHeldBetweenOneAndFour) {
    const Rect bubble{0, 0, 300, 300};
    CameraPlacement low, high, one, four, notANumber;
    low.zoom = 0.5;
    high.zoom = 7;
    four.zoom = 4;
    notANumber.zoom = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(geometry.crop(low, bubble, 1.5), geometry.crop(one, bubble, 1.5));
    EXPECT_EQ(geometry.crop(high, bubble, 1.5), geometry.crop(four, bubble, 1.5));
    EXPECT_EQ(geometry.crop(notANumber, bubble, 1.5), geometry.crop(one, bubble, 1.5));
    EXPECT_EQ(geometry.zoomed(one, 7, {0.5, 0.5}, bubble, 1.5).zoom, 4);
    EXPECT_EQ(geometry.zoomed(one, 0.2, {0.5, 0.5}, bubble, 1.5).zoom, 1);
    EXPECT_EQ(geometry.zoomed(one, std::numeric_limits<double>::quiet_NaN(), {0.5, 0.5}, bubble, 1.5).zoom, 1);
}

TEST(CameraOverlayGeometryTest, ZoomKeepsThePictureUnderThePointer) {
    const Rect bubble{0, 0, 300, 300};
    const Point pointer{0.3, 0.6};
    CameraPlacement start;
    start.zoom = 1.5;
    const Rect before = geometry.crop(start, bubble, 1);
    const CameraPlacement after = geometry.zoomed(start, 3, pointer, bubble, 1);
    const Rect zoomedCrop = geometry.crop(after, bubble, 1);
    EXPECT_NEAR(before.x + before.width * pointer.x, zoomedCrop.x + zoomedCrop.width * pointer.x, 1e-12);
    EXPECT_NEAR(before.y + before.height * pointer.y, zoomedCrop.y + zoomedCrop.height * pointer.y, 1e-12);

    // Zooming out at the edge stores the centre the clamped crop really has.
    const CameraPlacement out = geometry.zoomed(after, 1, {0, 0}, bubble, 1);
    EXPECT_EQ(out.centreX, 0.5);
    EXPECT_EQ(out.centreY, 0.5);
}

TEST(CameraOverlayGeometryTest, PlacementOfAMovedBubbleDrawsItWhereItWasLeft) {
    const Rect moves[] = {{100, 80, 300, 300}, {800, 400, 300, 300}, {1500, 700, 300, 300}, {10, 860, 200, 200}};
    for (const Rect& moved : moves) {
        const CameraPlacement p = geometry.placement(moved, kArea, CameraPlacement(), true);
        expectNear(geometry.frame(p, kArea), moved);
    }
    const CameraPlacement left = geometry.placement({100, 80, 300, 300}, kArea, CameraPlacement(), true);
    EXPECT_EQ(left.horizontal, Anchor::start);
    EXPECT_EQ(left.vertical, Anchor::start);
    EXPECT_EQ(left.gapX, 100);
    const CameraPlacement middle = geometry.placement({800, 400, 300, 300}, kArea, CameraPlacement(), true);
    EXPECT_EQ(middle.horizontal, Anchor::centre);
    EXPECT_EQ(middle.gapX, -10);
    // Without re-anchoring the old anchors stay and the gaps follow them.
    const CameraPlacement kept = geometry.placement({100, 80, 300, 300}, kArea, CameraPlacement(), false);
    EXPECT_EQ(kept.horizontal, Anchor::end);
    EXPECT_EQ(kept.gapX, 1520);
    EXPECT_NEAR(kept.sizeShare, 300.0 / 1080.0, 1e-12);
}

TEST(CameraOverlayGeometryTest, OnlyARectangleTakesTheResizedAspect) {
    const Rect wide{100, 100, 400, 200};
    EXPECT_EQ(geometry.placement(wide, kArea, shaped(CameraShape::rounded, 1.5), false).aspect, 1.5);
    EXPECT_EQ(geometry.placement(wide, kArea, shaped(CameraShape::rectangle, 1.5), false).aspect, 2);
    EXPECT_EQ(geometry.placement({100, 100, 40, 0.5}, kArea, shaped(CameraShape::rectangle, 1.5), false).aspect, 40);
}

TEST(CameraOverlayGeometryTest, SnapsWithinReachOfTheMarginsAndCentre) {
    const CameraOverlayGeometry::Snap near = geometry.snapped({21, 300, 200, 200}, kArea);
    EXPECT_EQ(near.frame.x, 16);
    EXPECT_EQ(near.x, 16);
    EXPECT_EQ(near.y, std::nullopt);
    EXPECT_EQ(geometry.snapped({24, 300, 200, 200}, kArea).x, std::nullopt);

    const CameraOverlayGeometry::Snap centre = geometry.snapped({863, 1080 - 16 - 200 + 3, 200, 200}, kArea);
    EXPECT_EQ(centre.frame, (Rect{860, 864, 200, 200}));
    EXPECT_EQ(centre.x, 960);
    EXPECT_EQ(centre.y, 1064);

    // A bubble dragged past the edge is clamped first, then snapped to the margin.
    const CameraOverlayGeometry::Snap outside = geometry.snapped({1800, -40, 200, 200}, kArea);
    EXPECT_EQ(outside.frame, (Rect{1720, 0, 200, 200}));
    EXPECT_EQ(outside.x, std::nullopt);
    const CameraOverlayGeometry::Snap inside = geometry.snapped({1700, 10, 200, 200}, kArea);
    EXPECT_EQ(inside.frame, (Rect{1704, 16, 200, 200}));
    EXPECT_EQ(inside.x, 1904);
    EXPECT_EQ(inside.y, 16);
}

TEST(CameraOverlayGeometryTest, ToolStripGoesAboveUnlessOnlyBelowFits) {
    const Size strip{200, 40};
    EXPECT_EQ(geometry.toolbarFrame(strip, {500, 500, 300, 300}, kArea), (Rect{550, 442, 200, 40}));
    EXPECT_EQ(geometry.toolbarFrame(strip, {500, 20, 300, 300}, kArea), (Rect{550, 338, 200, 40}));
    // Neither side fits: it stays on the start side, outside the area.
    EXPECT_EQ(geometry.toolbarFrame(strip, {500, 20, 300, 300}, {0, 0, 1920, 360}), (Rect{550, -38, 200, 40}));
    // Held inside the area across.
    EXPECT_EQ(geometry.toolbarFrame(strip, {1850, 500, 60, 60}, kArea).x, 1720);
}

TEST(CameraOverlayGeometryTest, ClampedMovesAndShrinksIntoTheArea) {
    EXPECT_EQ(geometry.clamped({-10, 1000, 300, 300}, kArea), (Rect{0, 780, 300, 300}));
    EXPECT_EQ(geometry.clamped({5, 5, 3000, 50}, kArea), (Rect{0, 5, 1920, 50}));
}

}  // namespace
}  // namespace yux

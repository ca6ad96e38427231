#include <gtest/gtest.h>

#include "selection/screen_selection_geometry.hpp"

using namespace yux;

namespace {

using Edges = ScreenSelectionGeometry::ResizeEdges;
using DragMode = ScreenSelectionGeometry::DragMode;

const ScreenSelectionGeometry kGeometry{8, 24};
constexpr Rect kDisplay{0, 0, 1920, 1080};

void expectRect(const Rect& actual, const Rect& expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-6);
    EXPECT_NEAR(actual.y, expected.y, 1e-6);
    EXPECT_NEAR(actual.width, expected.width, 1e-6);
    EXPECT_NEAR(actual.height, expected.height, 1e-6);
}

}  // namespace

TEST(Rect, ContainmentIntersectionAndUnion) {
    const Rect r{10, 10, 100, 50};
    EXPECT_TRUE(r.contains(Point{10, 10}));
    EXPECT_FALSE(r.contains(Point{110, 20}));  // the max-x edge is outside
    EXPECT_FALSE(r.contains(Point{20, 60}));   // so is the max-y edge
    EXPECT_TRUE(r.contains(r));
    EXPECT_TRUE(r.contains(Rect{10, 10, 100, 10}));
    EXPECT_FALSE(r.contains(Rect{9, 10, 10, 10}));
    EXPECT_EQ(r.intersected({60, 40, 100, 100}), (Rect{60, 40, 50, 20}));
    EXPECT_TRUE(r.intersected({110, 10, 10, 10}).isEmpty());  // touching edges share nothing
    EXPECT_FALSE(r.intersects({110, 10, 10, 10}));
    EXPECT_EQ(r.united({200, 0, 10, 10}), (Rect{10, 0, 200, 60}));
    EXPECT_EQ((Rect{50, 50, -20, -10}).standardized(), (Rect{30, 40, 20, 10}));
}

TEST(ScreenSelectionGeometry, HitModes) {
    const Rect rect{100, 100, 200, 100};
    EXPECT_EQ(kGeometry.mode({5, 5}, std::nullopt), DragMode::create());
    EXPECT_EQ(kGeometry.mode({105, 150}, rect), DragMode::resize(Edges::left));
    EXPECT_EQ(kGeometry.mode({300, 205}, rect), DragMode::resize(Edges::right | Edges::top));
    EXPECT_EQ(kGeometry.mode({200, 150}, rect), DragMode::move());
    EXPECT_EQ(kGeometry.mode({50, 150}, rect), DragMode::create());
    // Level with the edge line far beyond the rectangle still grabs it.
    EXPECT_EQ(kGeometry.mode({500, 196}, rect), DragMode::resize(Edges::top));
    // A narrow rectangle: both side edges within reach.
    const auto narrow = kGeometry.mode({105, 150}, Rect{100, 100, 10, 100});
    EXPECT_EQ(narrow, DragMode::resize(Edges::left | Edges::right));
}

TEST(ScreenSelectionGeometry, CreateKeepsMinimumSizeAndRatioArea) {
    expectRect(kGeometry.updatedRect(DragMode::create(), {}, {10, 10}, {12, 40}, kDisplay, CaptureRatio::free),
               {10, 10, 24, 30});
    expectRect(kGeometry.updatedRect(DragMode::create(), {}, {100, 100}, {260, 190}, kDisplay, CaptureRatio::landscape),
               {100, 100, 160, 90});
    // A tall drag becomes wide, same area, same centre.
    expectRect(kGeometry.updatedRect(DragMode::create(), {}, {100, 100}, {190, 260}, kDisplay, CaptureRatio::landscape),
               {65, 135, 160, 90});
}

TEST(ScreenSelectionGeometry, ResizeStopsAtMinimumAndRatioResizeKeepsOppositeCorner) {
    const Rect start{100, 100, 200, 100};
    expectRect(kGeometry.updatedRect(DragMode::resize(Edges::right), start, {300, 150}, {20, 150}, kDisplay,
                                     CaptureRatio::free),
               {100, 100, 24, 100});
    // Portrait from the left edge: max-x and min-y stay, height from the new width.
    expectRect(kGeometry.updatedRect(DragMode::resize(Edges::left), start, {100, 150}, {200, 150}, kDisplay,
                                     CaptureRatio::portrait),
               {200, 100, 100, 100 * 16.0 / 9.0});
    // Too tall for the display: both shrink by the same factor.
    const Rect shrunk = kGeometry.updatedRect(DragMode::resize(Edges::left), {1000, 100, 200, 100}, {1000, 150},
                                              {0, 150}, kDisplay, CaptureRatio::portrait);
    EXPECT_NEAR(shrunk.height, 980, 1e-6);
    EXPECT_NEAR(shrunk.width / shrunk.height, 9.0 / 16.0, 1e-9);
    EXPECT_NEAR(shrunk.maxX(), 1200, 1e-6);
    EXPECT_NEAR(shrunk.minY(), 100, 1e-6);
}

TEST(ScreenSelectionGeometry, MoveStaysInsideTheDisplay) {
    const Rect start{100, 100, 200, 100};
    expectRect(kGeometry.updatedRect(DragMode::move(), start, {150, 150}, {5000, -300}, kDisplay, CaptureRatio::free),
               {1720, 0, 200, 100});
    expectRect(kGeometry.updatedRect(DragMode::move(), start, {150, 150}, {160, 170}, kDisplay, CaptureRatio::classic),
               {110, 120, 200, 100});
}

TEST(ScreenSelectionGeometry, Reshape) {
    expectRect(kGeometry.reshaped({1800, 1000, 400, 400}, CaptureRatio::free, kDisplay, false), {1800, 1000, 120, 80});
    expectRect(kGeometry.reshaped({0, 0, 10, 10}, CaptureRatio::portrait, kDisplay, true), {656.25, 0, 607.5, 1080});
}

TEST(OverlayTrayLayout, Placement) {
    // No area: inside the whole display, 66 above the safe area's bottom.
    const Rect whole = OverlayTrayLayout::placement(std::nullopt, kDisplay, {400, 40}, 24);
    expectRect(whole, {760, 1068 - 66 - 40, 400, 40});
    // An area at the bottom: above it, 13 points away.
    const Rect above = OverlayTrayLayout::placement(Rect{500, 700, 400, 380}, kDisplay, {400, 40}, 24);
    expectRect(above, {500, 700 - 13 - 40, 400, 40});
    // Room below: below it.
    const Rect below = OverlayTrayLayout::placement(Rect{500, 100, 400, 300}, kDisplay, {400, 40}, 24);
    expectRect(below, {500, 413, 400, 40});
    // Results are local to a display that is not at the origin.
    const Rect local = OverlayTrayLayout::placement(Rect{2420, 100, 400, 300}, {1920, 0, 1920, 1080}, {400, 40}, 24);
    expectRect(local, {500, 413, 400, 40});
}

TEST(OverlayTrayLayout, ControlSizeRules) {
    const Rect d{0, 0, 1000, 800};
    // 200 points free below: one row whatever the target's width.
    EXPECT_EQ(OverlayTrayLayout::controlSize(640, d, Rect{400, 0, 100, 600}, 24), (Size{640, 40}));
    // No target: the whole display.
    EXPECT_EQ(OverlayTrayLayout::controlSize(640, {0, 0, 1920, 1080}, std::nullopt, 24), (Size{640, 40}));
    // Only sideways room: best width 500 → two rows; 300 → three.
    EXPECT_EQ(OverlayTrayLayout::controlSize(640, d, Rect{0, 0, 475, 800}, 24), (Size{500, 76}));
    EXPECT_EQ(OverlayTrayLayout::controlSize(640, {0, 0, 400, 800}, Rect{0, 0, 320, 800}, 24), (Size{300, 108}));
    // Full display: the tray is narrower than the area by 20.
    EXPECT_EQ(OverlayTrayLayout::controlSize(400, d, d, 24), (Size{400, 40}));
    EXPECT_EQ(OverlayTrayLayout::controlSize(400, {0, 0, 380, 800}, Rect{0, 0, 380, 800}, 24), (Size{356, 108}));
    EXPECT_EQ(OverlayTrayLayout::controlSize(400, {0, 0, 400, 800}, Rect{0, 0, 400, 800}, 24), (Size{376, 76}));
    // Stopping (150): 76 when narrower, else 40.
    EXPECT_EQ(OverlayTrayLayout::controlSize(150, d, d, 24), (Size{150, 40}));
    EXPECT_EQ(OverlayTrayLayout::controlSize(150, {0, 0, 160, 800}, Rect{0, 0, 160, 800}, 24), (Size{136, 76}));
    // 65 points free below: one row of min(400, width − 24).
    EXPECT_EQ(OverlayTrayLayout::controlSize(400, {0, 0, 300, 800}, Rect{0, 0, 300, 735}, 24), (Size{276, 40}));
}

TEST(ElapsedTimeText, WholeSecondsAndMinutesPastAnHour) {
    EXPECT_EQ(elapsedTimeText(0.9), "00:00");
    EXPECT_EQ(elapsedTimeText(59.9), "00:59");
    EXPECT_EQ(elapsedTimeText(61), "01:01");
    EXPECT_EQ(elapsedTimeText(3725), "62:05");
    EXPECT_EQ(elapsedTimeText(-3), "00:00");
}

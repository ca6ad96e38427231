#include <gtest/gtest.h>

#include <cmath>

#include "editor/editor_timeline.hpp"
#include "editor/editor_timeline_canvas.hpp"

using namespace yux;
using G = EditorTimelineGeometry;
using L = EditorTimelineLayout;

TEST(EditorTimelineZoom, ScrollAndPinchStayWithinOneToTwenty) {
    EXPECT_DOUBLE_EQ(G::zoomAfterScroll(4, 100), 1);    // 4 × e^-1.5 ≈ 0.89
    EXPECT_DOUBLE_EQ(G::zoomAfterScroll(10, -100), 20);  // ≈ 44.8
    EXPECT_NEAR(G::zoomAfterScroll(2, -10), 2 * std::exp(0.15), 1e-12);  // one notch away zooms in
    EXPECT_DOUBLE_EQ(G::zoomAfterPinch(2, 0.5), 3);
    EXPECT_DOUBLE_EQ(G::zoomAfterPinch(2, -5), 1);
    EXPECT_DOUBLE_EQ(G::zoomAfterPinch(2, NAN), 1);
}

TEST(EditorTimelineZoom, MomentUnderThePointerStaysPut) {
    EXPECT_DOUBLE_EQ(G::scrollAfterZoom(300, 0, 800, 1600, 800), 300);
    // At zoom 1 every target clamps to 0.
    EXPECT_DOUBLE_EQ(G::scrollAfterZoom(300, 400, 1600, 800, 800), 0);
    // Never past the right end.
    EXPECT_DOUBLE_EQ(G::scrollAfterZoom(700, 900, 1600, 16000, 800), 15200);
    EXPECT_DOUBLE_EQ(G::contentWidth(0, 5), 1);
}

TEST(EditorTimelineZoom, FollowsThePlayheadIntoTheLastTenPoints) {
    EXPECT_EQ(G::scrollToFollow(900, 0, 800, 4000), 740);
    EXPECT_EQ(G::scrollToFollow(795, 0, 800, 4000), 635);
    EXPECT_EQ(G::scrollToFollow(785, 0, 800, 4000), std::nullopt);
    // Left of the visible part: back to a fifth from the left, never below 0.
    EXPECT_EQ(G::scrollToFollow(100, 2000, 800, 4000), 0);
    EXPECT_EQ(G::scrollToFollow(3990, 0, 800, 4000), 3200);
}

TEST(EditorTimelineLanes, ExpandedLanesStackWithGaps) {
    auto source = [](int id, RecordingSourceKind kind) { return RecordingSource{id, kind, nullptr}; };
    std::vector<RecordingSource> four{source(1, RecordingSourceKind::screen), source(2, RecordingSourceKind::camera),
                                      source(3, RecordingSourceKind::systemAudio),
                                      source(4, RecordingSourceKind::microphone)};
    auto lanes = L::lanes(four, true);
    ASSERT_EQ(lanes.size(), 4u);
    EXPECT_EQ(lanes[0].top, 18);
    EXPECT_EQ(lanes[1].top, 66);
    EXPECT_EQ(lanes[2].top, 114);
    EXPECT_EQ(lanes[3].top, 170);
    EXPECT_EQ(lanes[3].height, 52);
    auto combined = L::lanes(four, false);
    ASSERT_EQ(combined.size(), 1u);
    EXPECT_EQ(combined[0].height, 72);
}

static std::vector<std::string> labels(double duration, double width) {
    std::vector<std::string> result;
    for (const auto& tick : L::rulerTicks(duration, width)) result.push_back(tick.label);
    return result;
}

TEST(EditorTimelineRuler, StepsAndLabels) {
    EXPECT_EQ(labels(10, 700), (std::vector<std::string>{"0:00", "0:02", "0:04", "0:06", "0:08", "0:10"}));
    EXPECT_EQ(labels(125, 700),
              (std::vector<std::string>{"0:00", "0:20", "0:40", "1:00", "1:20", "1:40", "2:00"}));
    auto fine = labels(3, 1400);
    ASSERT_EQ(fine.size(), 16u);
    EXPECT_EQ(fine[1], "0:00.2");
    EXPECT_EQ(fine.back(), "0:03.0");
    EXPECT_TRUE(labels(0, 700) == std::vector<std::string>{"0:00"});
    EXPECT_TRUE(labels(10, 0).empty());
}

TEST(EditorTimelineRuler, SubSecondTicksNeverReadSixtySeconds) {
    // 0.2 s steps over a minute: the tick at 60 s is 300 × 0.2, which in floating point lies a
    // hair under 60 and must still read a whole minute.
    auto ticks = L::rulerTicks(61, 61 * 70 / 0.15);
    ASSERT_DOUBLE_EQ(L::rulerStep(61, 61 * 70 / 0.15), 0.2);
    for (const auto& tick : ticks) EXPECT_EQ(tick.label.find(":60"), std::string::npos) << tick.label;
    EXPECT_EQ(ticks[300].label, "1:00.0");
    EXPECT_EQ(ticks[299].label, "0:59.8");
}

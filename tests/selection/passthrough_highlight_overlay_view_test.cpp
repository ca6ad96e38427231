#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "selection/passthrough_highlight_overlay_view.hpp"
#include "selection/recording_view_test_support.hpp"

using namespace yux;
using yux::testing::areaModel;
using yux::testing::rendered;

TEST(PassthroughHighlightOverlayView, OutlineFadesWhileStoppingAndDimOnlyWithTranslucency) {
    auto model = areaModel({100, 100, 300, 200});
    PassthroughHighlightOverlayView translucent(model.get(), PassthroughHighlightOverlayMode::recording,
                                                OverlayPaintMode::translucent);
    // The line runs at x = 98 (2 outside the area); halfway down its left edge there is no bracket.
    const QImage recording = rendered(translucent);
    translucent.setMode(PassthroughHighlightOverlayMode::stopping);
    const QImage stopping = rendered(translucent);
    const QColor solid = recording.pixelColor(98, 200);
    const QColor faded = stopping.pixelColor(98, 200);
    EXPECT_EQ(solid.alpha(), 255);
    EXPECT_GT(solid.red(), 240);
    // 0.55 red over the 0.45 black halo over the 0.22 dim.
    const double halo = 0.45 + 0.22 * 0.55;
    EXPECT_NEAR(faded.alphaF(), 0.55 + (1 - 0.55) * halo, 0.02);
    EXPECT_NEAR(recording.pixelColor(10, 10).alphaF(), 0.22, 0.01);
    EXPECT_EQ(recording.pixelColor(200, 200).alpha(), 0);
    EXPECT_TRUE(translucent.mask().isEmpty());

    // Without translucency only the outline band is part of the window.
    PassthroughHighlightOverlayView opaque(model.get(), PassthroughHighlightOverlayMode::recording,
                                           OverlayPaintMode::opaque);
    EXPECT_TRUE(opaque.mask().contains(QPoint(98, 200)));
    EXPECT_FALSE(opaque.mask().contains(QPoint(200, 200)));
    EXPECT_FALSE(opaque.mask().contains(QPoint(10, 10)));
    EXPECT_EQ(rendered(opaque).pixelColor(10, 10).alpha(), 0);
}

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "selection/overlay_painting.hpp"

using namespace yux;

TEST(OverlayPainting, DisabledPillIsFaded) {
    const auto fillAlpha = [](bool enabled, bool pressed) {
        QImage image(120, 40, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintPill(painter, QRectF(0, 6, 120, 28),
                  PillButton{"", OverlayColours::record(), OverlayColours::recordInk(), pressed, enabled, false, {}});
        painter.end();
        return image.pixelColor(60, 8).alphaF();
    };
    EXPECT_NEAR(fillAlpha(true, false), 1.0, 0.01);
    EXPECT_NEAR(fillAlpha(false, false), 0.4, 0.01);
    EXPECT_NEAR(fillAlpha(true, true), 0.7, 0.01);
}

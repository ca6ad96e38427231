#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "selection/capture_target_outline.hpp"

using namespace yux;

namespace {

const Rect kDisplay{0, 0, 400, 300};

QImage canvas(int width = 400, int height = 300) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage outlined(const CaptureTargetOutline& outline) {
    QImage image = canvas();
    QPainter painter(&image);
    paintTargetOutline(painter, outline);
    return image;
}

QColor at(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

bool isWhite(const QColor& c) { return c.alpha() == 255 && c.red() > 245 && c.green() > 245 && c.blue() > 245; }

}  // namespace

TEST(CaptureTargetOutline, DimDarkensOnlyOutsideTheTargets) {
    QImage image = canvas();
    {
        QPainter painter(&image);
        // Display-local painting of root rectangles of a display at (1000, 0).
        paintOutsideDim(painter, {{1050, 50, 100, 100}, {1100, 100, 100, 100}}, {1000, 0, 400, 300}, 0.38);
    }
    EXPECT_NEAR(at(image, 10, 10).alphaF(), 0.38, 0.01);
    EXPECT_EQ(at(image, 10, 10).red() + at(image, 10, 10).green() + at(image, 10, 10).blue(), 0);
    EXPECT_EQ(at(image, 60, 60).alpha(), 0);
    EXPECT_EQ(at(image, 120, 120).alpha(), 0);  // the overlap stays clear
    EXPECT_EQ(at(image, 180, 180).alpha(), 0);
    EXPECT_NEAR(at(image, 60, 180).alphaF(), 0.38, 0.01);
    QImage none = canvas();
    {
        QPainter painter(&none);
        paintOutsideDim(painter, {}, kDisplay, 0.22);
    }
    EXPECT_NEAR(at(none, 200, 150).alphaF(), 0.22, 0.01);
}

TEST(CaptureTargetOutline, AnAreaOnTheLeftEdgeKeepsFrameAndHandlesVisible) {
    const QImage image = outlined({{0, 100, 100, 100}, kDisplay, Qt::white, true, true, false});
    // Frame line at x = 1, handle centres at x = 6.
    EXPECT_GT(at(image, 1, 175).alpha(), 200);
    EXPECT_TRUE(isWhite(at(image, 6, 150)));  // the left middle handle, filled white
    EXPECT_TRUE(isWhite(at(image, 6, 97)));   // the top-left one
    EXPECT_EQ(at(image, 20, 150).alpha(), 0);
}

TEST(CaptureTargetOutline, ApplicationsGetRoundCornersWithoutBrackets) {
    const QColor red(255, 0, 0);
    const QImage area = outlined({{100, 100, 200, 100}, kDisplay, red, false, false, false});
    const QImage app = outlined({{100, 100, 200, 100}, kDisplay, red, false, false, true});
    // The frame's corner at (98, 98): square and bracketed for an area, cut by radius 12 for an app.
    EXPECT_GT(at(area, 98, 98).red(), 200);
    EXPECT_EQ(at(app, 98, 98).alpha(), 0);
    // A bracket arm is 4 wide: it reaches x = 96.5 near the corner, the plain line does not.
    EXPECT_GT(at(area, 96, 110).red(), 200);
    EXPECT_LT(at(app, 96, 110).red(), 60);
    // Along the edge both draw the line.
    EXPECT_GT(at(app, 98, 150).red(), 200);
}

TEST(CaptureTargetOutline, HandlesOnlyWhileSelectingAnEditableArea) {
    const QColor red(255, 0, 0);
    const Rect target{100, 100, 200, 100};
    // The top middle handle sits at (200, 97).
    EXPECT_TRUE(isWhite(at(outlined({target, kDisplay, red, true, true, false}), 200, 97)));
    EXPECT_FALSE(isWhite(at(outlined({target, kDisplay, red, false, true, false}), 200, 97)));
    EXPECT_FALSE(isWhite(at(outlined({target, kDisplay, red, true, false, false}), 200, 97)));
    // Selecting dashes the line: somewhere along the edge there is a gap.
    const QImage dashed = outlined({target, kDisplay, red, true, false, false});
    int gaps = 0;
    for (int x = 130; x < 180; ++x) gaps += at(dashed, x, 98).red() < 100;
    EXPECT_GT(gaps, 5);
}

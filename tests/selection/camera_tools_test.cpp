#include <gtest/gtest.h>

#include <algorithm>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QSlider>
#include <QToolButton>

#include "selection/camera_tools.hpp"
#include "support/screenshot_writer.hpp"

using namespace yux;

namespace {

// The strip over a placement of its own, counting what it hands on.
struct Strip {
    CameraPlacement placement;
    int changes = 0;
    int cropToggles = 0;
    CameraTools tools{CameraTools::Callbacks{[this]() -> const CameraPlacement& { return placement; },
                                             [this](const CameraPlacement& next) {
                                                 placement = next;
                                                 ++changes;
                                                 tools.refresh(false);
                                             },
                                             [this] { ++cropToggles; }},
                      OverlayPaintMode::translucent};
};

}  // namespace

TEST(CameraTools, EveryControlEditsThePlacementAndShowsIt) {
    Strip s;
    EXPECT_EQ(s.tools.zoomText()->text(), QString::fromUtf8("1.0\u00d7"));
    // The shape picker's background sits inside the strip, not from edge to edge.
    const QRect picker = s.tools.shapeButton(CameraShape::circle)->parentWidget()->geometry();
    EXPECT_GT(picker.top(), 0);
    EXPECT_LT(picker.bottom(), s.tools.height() - 1);
    // A shape always comes with the 16:9 proportion, even for a rectangle drawn wider.
    s.placement.shape = CameraShape::rectangle;
    s.placement.aspect = 2.5;
    s.tools.shapeButton(CameraShape::rectangle)->click();
    EXPECT_NEAR(s.placement.aspect, 16.0 / 9.0, 1e-12);
    s.tools.shapeButton(CameraShape::rounded)->click();
    EXPECT_EQ(s.placement.shape, CameraShape::rounded);

    EXPECT_EQ(s.tools.mirrorButton()->accessibleDescription(), "Off");
    s.tools.mirrorButton()->click();
    EXPECT_EQ(s.placement.mirrored, std::optional<bool>(true));
    EXPECT_EQ(s.tools.mirrorButton()->accessibleDescription(), "On");

    const CameraPlacement beforeZoom = s.placement;
    s.tools.zoomSlider()->setValue(250);
    EXPECT_NEAR(s.placement.zoom, 2.5, 1e-9);
    EXPECT_EQ(s.placement.centreX, beforeZoom.centreX);  // zooming leaves the framing alone
    EXPECT_EQ(s.tools.zoomText()->text(), QString::fromUtf8("2.5\u00d7"));
    // The magnifier steps back as the value beside it does: never drawn at full strength.
    s.tools.zoomText()->ensurePolished();
    const int valueAlpha = s.tools.zoomText()->palette().color(QPalette::WindowText).alpha();
    const QImage magnifier = s.tools.zoomIcon()->pixmap().toImage();
    int strongest = 0;
    for (int y = 0; y < magnifier.height(); ++y)
        for (int x = 0; x < magnifier.width(); ++x) strongest = std::max(strongest, magnifier.pixelColor(x, y).alpha());
    EXPECT_LT(valueAlpha, 255);
    EXPECT_GT(strongest, valueAlpha / 2);
    EXPECT_LE(strongest, valueAlpha);

    // Framing belongs to the presenter: the button only asks.
    const int changes = s.changes;
    s.tools.cropButton()->click();
    EXPECT_EQ(s.cropToggles, 1);
    EXPECT_EQ(s.changes, changes);

    s.tools.resetButton()->click();
    EXPECT_EQ(s.placement, CameraPlacement{});
}

TEST(CameraTools, TheFramingButtonFollowsTheMode) {
    Strip s;
    s.tools.refresh(false);
    EXPECT_EQ(s.tools.cropButton()->text(), "Crop");
    EXPECT_EQ(s.tools.cropButton()->toolTip(), "Show the full camera and drag to frame (double-click)");
    const QIcon cropIcon = s.tools.cropButton()->icon();
    yux::test::writeScreenshot(s.tools, "camera-tools");
    s.tools.refresh(true);
    EXPECT_EQ(s.tools.cropButton()->text(), "Done");
    EXPECT_EQ(s.tools.cropButton()->toolTip(), QString::fromUtf8("Finish framing (\u21a9)"));
    // Each title comes with its own symbol.
    EXPECT_FALSE(cropIcon.isNull());
    EXPECT_FALSE(s.tools.cropButton()->icon().isNull());
    EXPECT_NE(s.tools.cropButton()->icon().cacheKey(), cropIcon.cacheKey());
    yux::test::writeScreenshot(s.tools, "camera-tools-framing");
    // Showing a state never writes it back.
    s.tools.refresh(true);
    EXPECT_EQ(s.changes, 0);
}

// The strip's buttons are plain: each shows its own background alone, never a panel of the
// toolkit's under the pointer or while pressed.
TEST(CameraTools, NoButtonDrawsAPanelUnderThePointerOrWhilePressed) {
    Strip s;
    s.tools.show();
    QApplication::processEvents();
    const std::pair<const char*, QToolButton*> buttons[] = {
        {"circle", s.tools.shapeButton(CameraShape::circle)},
        {"rounded", s.tools.shapeButton(CameraShape::rounded)},
        {"mirror", s.tools.mirrorButton()},
        {"crop", s.tools.cropButton()},
        {"reset", s.tools.resetButton()},
    };
    for (const auto& [name, button] : buttons) {
        const QImage resting = button->grab().toImage();
        button->setAttribute(Qt::WA_UnderMouse, true);
        EXPECT_EQ(button->grab().toImage(), resting) << name << " under the pointer";
        button->setDown(true);
        EXPECT_EQ(button->grab().toImage(), resting) << name << " pressed";
        button->setDown(false);
        button->setAttribute(Qt::WA_UnderMouse, false);
    }
}

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

#include "editor/editor_crop_overlay.hpp"
#include "null_editor.hpp"

using namespace yux;
using namespace yux::testing;

namespace {

void drag(QWidget& target, QPointF from, QPointF to) {
    auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, at, target.mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&target, &event);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    // Two steps: each is measured from where the drag began.
    send(QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

}  // namespace

TEST(EditorCropOverlay, InertAndInvisibleUntilEditingOrCropped) {
    NullEditor e;
    EditorCropOverlay overlay(e.session);
    overlay.resize(480, 270);
    EXPECT_FALSE(overlay.isShown());
    EXPECT_TRUE(overlay.testAttribute(Qt::WA_TransparentForMouseEvents));
    e.session->setCropEditing(true);
    EXPECT_TRUE(overlay.isShown());
    EXPECT_FALSE(overlay.testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(overlay.viewRect(), QRectF(0, 0, 480, 270));
}

TEST(EditorCropOverlay, MovesAndResizesWithEvenSizesInsideTheFrame) {
    NullEditor e;
    EditorCropOverlay overlay(e.session);
    overlay.resize(480, 270);  // a quarter of 1920 × 1080: 4 pixels a point
    e.session->setCropEditing(true);

    // The bottom-right corner pulled 101 points in and 51 up: an even size of the frame.
    drag(overlay, {480, 270}, {379, 219});
    auto p = e.session->crop().pixels(e.session->frameSize());
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(static_cast<long long>(p.width) % 2, 0);
    EXPECT_EQ(static_cast<long long>(p.height) % 2, 0);
    EXPECT_NEAR(p.width, 1516, 2);
    EXPECT_NEAR(p.height, 876, 2);

    // Moved far past the bottom-right: it stops against the edges at its full size.
    auto size = std::pair{p.width, p.height};
    drag(overlay, {100, 100}, {400, 400});
    p = e.session->crop().pixels(e.session->frameSize());
    EXPECT_EQ(std::pair(p.width, p.height), size);
    EXPECT_EQ(p.x + p.width, 1920);
    EXPECT_EQ(p.y + p.height, 1080);

    // Turning editing off keeps the crop but takes no more drags.
    e.session->setCropEditing(false);
    EXPECT_TRUE(overlay.isShown());
    EXPECT_TRUE(overlay.testAttribute(Qt::WA_TransparentForMouseEvents));
}

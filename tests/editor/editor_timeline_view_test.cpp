#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QScrollBar>
#include <QWheelEvent>

#include "editor/editor_timeline.hpp"
#include "editor/editor_timeline_canvas.hpp"
#include "null_editor.hpp"
#include "support/screenshot_writer.hpp"

using namespace yux;
using namespace yux::testing;

namespace {

struct TimelineHarness : NullEditor {
    std::unique_ptr<EditorTimeline> timeline;

    explicit TimelineHarness(double viewport = 1000) {
        session->start();
        timeline = std::make_unique<EditorTimeline>(session);
        timeline->resize(static_cast<int>(viewport), 120);
        timeline->show();
        timeline->refresh();
    }

    EditorTimelineCanvas* canvas() const { return timeline->canvas(); }

    static void mouse(QWidget* target, QEvent::Type type, double x, Qt::MouseButtons buttons = Qt::LeftButton) {
        QPointF local(x, 40);
        QPointF global = target->mapToGlobal(local);
        QMouseEvent event(type, local, local, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    void wheel(QPointF at, QPoint angle, QPoint pixel, Qt::KeyboardModifiers modifiers, QWidget* target = nullptr) {
        if (!target) target = timeline->viewport();
        QWheelEvent event(at, target->mapToGlobal(at), pixel, angle, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }

    void pinch(QPointF at, double magnification) {
        QNativeGestureEvent event(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, at, at,
                                  timeline->viewport()->mapToGlobal(at), magnification, QPointF());
        QApplication::sendEvent(timeline->viewport(), &event);
    }

    int scroll() const { return timeline->horizontalScrollBar()->value(); }
};

}  // namespace

TEST(EditorTimelineCanvas, PressesAndDragsSeekOnlyInsideTheTrimRange) {
    TimelineHarness h;
    auto* canvas = h.canvas();
    ASSERT_EQ(canvas->width(), 1000);
    TimelineHarness::mouse(canvas, QEvent::MouseButtonPress, 250);
    EXPECT_DOUBLE_EQ(h.session->playhead(), 15);
    TimelineHarness::mouse(canvas, QEvent::MouseMove, 500);
    EXPECT_DOUBLE_EQ(h.session->playhead(), 30);
    // Past either end of the canvas the playhead stays at the last time in range, not pinned.
    for (double x : {1100.0, -100.0}) {
        TimelineHarness::mouse(canvas, QEvent::MouseMove, x);
        EXPECT_DOUBLE_EQ(h.session->playhead(), 30) << x;
    }
    TimelineHarness::mouse(canvas, QEvent::MouseButtonRelease, 500, Qt::NoButton);

    h.session->setEdge(RecordingEdit::Edge::start, 10);
    h.session->seek(30);
    // Begun in the dimmed area: nothing for the whole drag.
    TimelineHarness::mouse(canvas, QEvent::MouseButtonPress, 100);
    TimelineHarness::mouse(canvas, QEvent::MouseMove, 500);
    TimelineHarness::mouse(canvas, QEvent::MouseButtonRelease, 500, Qt::NoButton);
    EXPECT_DOUBLE_EQ(h.session->playhead(), 30);
}

TEST(EditorTimelineCanvas, AHandleDragIsOneGestureMeasuredFromWhereItBegan) {
    TimelineHarness h;
    h.session->setEdge(RecordingEdit::Edge::start, 12);
    bool couldUndo = h.session->edit().canUndo();
    auto* handle = h.canvas()->startHandle();
    EXPECT_EQ(handle->x(), 200);
    std::vector<std::string> dragging;
    QObject::connect(h.session.get(), &ExportEditorSession::draggingEdgeChanged, [&] {
        dragging.push_back(h.session->draggingEdge() ? "begin" : "end");
    });
    TimelineHarness::mouse(handle, QEvent::MouseButtonPress, 6);
    TimelineHarness::mouse(handle, QEvent::MouseMove, 31);
    TimelineHarness::mouse(handle, QEvent::MouseMove, 56);  // +50 points from the press
    EXPECT_DOUBLE_EQ(h.session->edit().range().lower, 15);
    TimelineHarness::mouse(handle, QEvent::MouseButtonRelease, 56, Qt::NoButton);
    EXPECT_EQ(dragging, (std::vector<std::string>{"begin", "end"}));
    ASSERT_TRUE(couldUndo);
    h.session->undo();
    EXPECT_DOUBLE_EQ(h.session->edit().range().lower, 12) << "the whole drag is one undo step";
}

// A press on a handle begins the trim at once (playhead on the edge, its badge); a release
// without a move ends it and leaves no undo step.
TEST(EditorTimelineCanvas, AHandlePressThatDoesNotMoveTrimsWithoutAnUndoStep) {
    TimelineHarness h;
    h.session->setEdge(RecordingEdit::Edge::end, 48);
    h.session->seek(20);
    auto edit = h.session->edit();
    auto* handle = h.canvas()->endHandle();
    TimelineHarness::mouse(handle, QEvent::MouseButtonPress, 6);
    EXPECT_EQ(h.session->draggingEdge(), std::optional(RecordingEdit::Edge::end));
    EXPECT_DOUBLE_EQ(h.session->playhead(), 48);
    TimelineHarness::mouse(handle, QEvent::MouseButtonRelease, 6, Qt::NoButton);
    EXPECT_FALSE(h.session->draggingEdge().has_value());
    EXPECT_EQ(h.session->edit(), edit);
}

TEST(EditorTimelineCanvas, HandlesSpeakTheirTimeAndStepByATenth) {
    TimelineHarness h;
    h.session->setEdge(RecordingEdit::Edge::start, 12.3);
    auto* handle = QAccessible::queryAccessibleInterface(h.canvas()->startHandle());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->text(QAccessible::Name), "Trim start handle");
    EXPECT_EQ(handle->text(QAccessible::Value), "12.30 seconds");
    handle->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    EXPECT_NEAR(h.session->edit().range().lower, 12.4, 1e-9);
    auto* end = QAccessible::queryAccessibleInterface(h.canvas()->endHandle());
    EXPECT_EQ(end->text(QAccessible::Value), "60.00 seconds");
}

TEST(EditorTimelineCanvas, ExpandedLanesGiveTheCanvasItsHeight) {
    TimelineHarness h;
    EXPECT_EQ(h.canvas()->height(), 90);
    h.session->setSourcesExpanded(true);
    EXPECT_EQ(h.canvas()->height(), 18 + 48 * 2 + 56 * 2);
}

// The first and last labels are pushed inside the drawing, and drawn whole there.
TEST(EditorTimelineCanvas, RulerLabelsAtBothEndsAreWhole) {
    for (double width : {596.0, 600.0, 733.0}) {
        SCOPED_TRACE(width);
        NullEditor e(fourTrackSources(), 3.0);
        EditorTimelineCanvas canvas(e.session);
        canvas.setFixedSize(static_cast<int>(width), static_cast<int>(e.session->timelineHeight()));
        QImage image(canvas.size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        canvas.render(&image);
        int first = image.width();
        int last = -1;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < 200) {
                    first = std::min(first, x);
                    last = std::max(last, x);
                }
        EXPECT_LE(first, 2) << "0:00.0 starts at the left edge";
        EXPECT_GE(last, image.width() - 3) << "0:03.0 ends at the right edge";
    }
}

// A section just wide enough for a label carries the whole word, centred on it and not cut.
TEST(EditorTimelineCanvas, ARemovedLabelIsNotCutToANarrowSection) {
    NullEditor e;
    e.session->seek(20);
    e.session->split();
    e.session->seek(22.1);
    e.session->split();
    e.session->seek(21);
    e.session->toggleRemoval();
    EditorTimelineCanvas canvas(e.session);
    canvas.setFixedSize(1000, static_cast<int>(e.session->timelineHeight()));
    QImage image(canvas.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    canvas.render(&image);
    test::writeScreenshot(image, "timeline_narrow_removed");
    // Section 333 ... 366 (33 points); the red of the label reaches past both its sides.
    int first = image.width();
    int last = -1;
    for (int y = 20; y < 36; ++y)
        for (int x = 300; x < 400; ++x) {
            QColor c = image.pixelColor(x, y);
            if (c.red() > 180 && c.green() < 110 && c.blue() < 110) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    EXPECT_LT(first, 333);
    EXPECT_GT(last, 366);
    EXPECT_NEAR((first + last) / 2.0, 349.5, 3);
}

TEST(EditorTimelineHost, ZoomsAroundThePointerByCtrlWheelAndPinch) {
    TimelineHarness h(800);
    ASSERT_EQ(h.timeline->viewport()->width(), 800);
    // Pinch from 1 to 2 with the pointer 300 points in: the visible area starts at 300.
    h.pinch({300, 40}, 1.0);
    EXPECT_DOUBLE_EQ(h.timeline->zoom(), 2);
    EXPECT_EQ(h.canvas()->width(), 1600);
    EXPECT_EQ(h.scroll(), 300);
    // A notch turned away from the user zooms in, towards the user out; both stay within 1…20.
    h.wheel({300, 40}, {0, 120}, {}, Qt::ControlModifier);
    EXPECT_NEAR(h.timeline->zoom(), 2 * std::exp(0.15), 1e-9);
    h.wheel({300, 40}, {}, {0, 2000}, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(h.timeline->zoom(), 20);
    h.wheel({300, 40}, {}, {0, -2000}, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(h.timeline->zoom(), 1);
    EXPECT_EQ(h.scroll(), 0);
    // Over the scroll bar, which belongs to the timeline, too.
    h.wheel({300, 5}, {0, 120}, {}, Qt::ControlModifier, h.timeline->horizontalScrollBar());
    EXPECT_NEAR(h.timeline->zoom(), std::exp(0.15), 1e-9);
}

TEST(EditorTimelineHost, APlainWheelScrollsSideways) {
    TimelineHarness h(800);
    h.timeline->setZoom(4);
    int before = h.scroll();
    h.wheel({300, 40}, {0, -120}, {}, Qt::NoModifier);
    EXPECT_EQ(h.timeline->zoom(), 4);
    EXPECT_EQ(h.scroll(), before + 10);
}

TEST(EditorTimelineHost, FollowsThePlayheadOnlyWhilePlaying) {
    TimelineHarness h(800);
    h.timeline->setZoom(5);
    h.timeline->horizontalScrollBar()->setValue(0);
    h.session->seek(900.0 / 4000 * 60);
    EXPECT_EQ(h.scroll(), 0) << "paused: left alone";

    h.session->seek(0);
    h.session->togglePlayback();
    ASSERT_TRUE(h.session->playing());
    h.player->simulate_time(900.0 / 4000 * 60);
    EXPECT_EQ(h.scroll(), 740);
    h.timeline->horizontalScrollBar()->setValue(0);
    h.player->simulate_time(795.0 / 4000 * 60);
    EXPECT_EQ(h.scroll(), 635);
    h.timeline->horizontalScrollBar()->setValue(0);
    h.player->simulate_time(785.0 / 4000 * 60);
    EXPECT_EQ(h.scroll(), 0);
}

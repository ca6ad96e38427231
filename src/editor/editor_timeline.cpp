#include "editor/editor_timeline.hpp"

#include <algorithm>
#include <cmath>

#include <QNativeGestureEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include "editor/editor_timeline_canvas.hpp"
#include "editor/export_editor_session.hpp"

namespace yux {

double EditorTimelineGeometry::clampZoom(double zoom) {
    if (!std::isfinite(zoom)) return kMinZoom;
    return std::clamp(zoom, kMinZoom, kMaxZoom);
}

double EditorTimelineGeometry::zoomAfterScroll(double zoom, double delta) {
    return clampZoom(zoom * std::exp(-kScrollZoomRate * delta));
}

double EditorTimelineGeometry::zoomAfterPinch(double zoom, double magnification) {
    return clampZoom(zoom * (1 + magnification));
}

double EditorTimelineGeometry::contentWidth(double viewportWidth, double zoom) {
    return std::max(viewportWidth * zoom, 1.0);
}

static double clampScroll(double target, double contentWidth, double viewportWidth) {
    return std::max(std::min(target, contentWidth - viewportWidth), 0.0);
}

double EditorTimelineGeometry::scrollAfterZoom(double anchorX, double scrollX, double oldWidth, double newWidth,
                                               double viewportWidth) {
    double fraction = (anchorX + scrollX) / std::max(oldWidth, 1.0);
    return clampScroll(fraction * newWidth - anchorX, newWidth, viewportWidth);
}

std::optional<double> EditorTimelineGeometry::scrollToFollow(double playheadX, double scrollX, double viewportWidth,
                                                             double contentWidth) {
    if (!std::isfinite(playheadX)) return std::nullopt;
    if (playheadX >= scrollX && playheadX <= scrollX + viewportWidth - kFollowMargin) return std::nullopt;
    return clampScroll(playheadX - kFollowRestShare * viewportWidth, contentWidth, viewportWidth);
}

EditorTimeline::EditorTimeline(std::shared_ptr<ExportEditorSession> model, QWidget* parent)
    : QScrollArea(parent), model_(std::move(model)) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(false);
    viewport()->setAutoFillBackground(false);
    canvas_ = new EditorTimelineCanvas(model_);
    setWidget(canvas_);
    canvas_->setAutoFillBackground(false);
    viewport()->installEventFilter(this);
    viewport()->grabGesture(Qt::PinchGesture);
    // The scroll bar is part of the timeline: Ctrl+wheel and pinch zoom over it too.
    horizontalScrollBar()->installEventFilter(this);
    auto* session = model_.get();
    for (auto changed : {&ExportEditorSession::playheadChanged, &ExportEditorSession::playingChanged,
                         &ExportEditorSession::sourcesExpandedChanged})
        connect(session, changed, this, &EditorTimeline::refresh);
    refresh();
}

void EditorTimeline::setZoom(double zoom) {
    if (zoom == zoom_) return;
    zoom_ = zoom;
    emit zoomChanged(zoom_);
    refresh();
}

void EditorTimeline::zoomAround(double zoom, double anchorX) {
    anchor_ = anchorX;
    setZoom(zoom);
}

void EditorTimeline::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    refresh();
}

bool EditorTimeline::eventFilter(QObject* watched, QEvent* event) {
    bool onBar = watched == horizontalScrollBar();
    if (watched != viewport() && !onBar) return QScrollArea::eventFilter(watched, event);
    // The pointer's place in the timeline's own coordinates.
    auto here = [this, watched](QPointF position) { return static_cast<QWidget*>(watched)->mapTo(this, position).x(); };
    if (event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        double delta = !wheel->pixelDelta().isNull()
                           ? -wheel->pixelDelta().y()
                           : -wheel->angleDelta().y() / EditorTimelineGeometry::kAngleUnitsPerPoint;
        if (wheel->modifiers() & Qt::ControlModifier) {
            zoomAround(EditorTimelineGeometry::zoomAfterScroll(appliedZoom_, delta), here(wheel->position()));
            return true;
        }
        if (onBar) return false;
        // A plain vertical wheel scrolls sideways.
        if (wheel->angleDelta().x() == 0 && wheel->pixelDelta().x() == 0) {
            auto* bar = horizontalScrollBar();
            bar->setValue(bar->value() + static_cast<int>(std::lround(delta)));
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() != Qt::ZoomNativeGesture) return false;
        zoomAround(EditorTimelineGeometry::zoomAfterPinch(appliedZoom_, gesture->value()), here(gesture->position()));
        return true;
    }
    return QScrollArea::eventFilter(watched, event);
}

void EditorTimeline::refresh() {
    const double viewportWidth = viewport()->width();
    const double oldWidth = canvas_->width();
    const double anchorX = anchor_.value_or(viewportWidth * 0.5);
    auto* bar = horizontalScrollBar();
    const double scrollX = bar->value();
    const double newWidth = EditorTimelineGeometry::contentWidth(viewportWidth, zoom_);
    canvas_->setFixedSize(static_cast<int>(std::lround(newWidth)), static_cast<int>(model_->timelineHeight()));
    if (appliedZoom_ != zoom_) {
        bar->setValue(static_cast<int>(
            std::lround(EditorTimelineGeometry::scrollAfterZoom(anchorX, scrollX, oldWidth, newWidth, viewportWidth))));
    } else if (model_->playing()) {
        double playheadX = newWidth * model_->playhead() / model_->edit().duration();
        if (auto target = EditorTimelineGeometry::scrollToFollow(playheadX, scrollX, viewportWidth, newWidth))
            bar->setValue(static_cast<int>(std::lround(*target)));
    }
    appliedZoom_ = zoom_;
    anchor_.reset();
}

}  // namespace yux

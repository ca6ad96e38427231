#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QScrollArea>

namespace yux {

// Zoom and scroll rules of the timeline host: the canvas is viewport × zoom wide and the moment
// under the pointer stays put while zooming.
struct EditorTimelineGeometry {
    static constexpr double kMinZoom = 1;
    static constexpr double kMaxZoom = 20;
    // Zoom change per point of precise scroll delta; a wheel notch is 10 points.
    static constexpr double kScrollZoomRate = 0.015;
    // Angle units per point when the wheel gives no precise delta (120 per notch → 10 points).
    static constexpr double kAngleUnitsPerPoint = 12;
    // While playing, the playhead is brought back once it enters the last 10 points...
    static constexpr double kFollowMargin = 10;
    // ...and comes to rest a fifth of the visible width from the left.
    static constexpr double kFollowRestShare = 0.2;

    static double clampZoom(double zoom);
    // `delta` is the precise vertical delta; turned away from the user (negative) zooms in.
    static double zoomAfterScroll(double zoom, double delta);
    static double zoomAfterPinch(double zoom, double magnification);
    static double contentWidth(double viewportWidth, double zoom);
    // Scroll position that keeps the moment under `anchorX` (viewport coordinates) in place.
    static double scrollAfterZoom(double anchorX, double scrollX, double oldWidth, double newWidth,
                                  double viewportWidth);
    // Where to scroll so the playhead stays visible, or none when it already is.
    static std::optional<double> scrollToFollow(double playheadX, double scrollX, double viewportWidth,
                                                double contentWidth);
};

class ExportEditorSession;
class EditorTimelineCanvas;

// The horizontally scrolling host of the timeline canvas. Ctrl+wheel and pinch zoom around the
// pointer; a plain wheel scrolls sideways; while playing the view follows the playhead.
class EditorTimeline : public QScrollArea {
    Q_OBJECT

public:
    explicit EditorTimeline(std::shared_ptr<ExportEditorSession> model, QWidget* parent = nullptr);

    double zoom() const { return zoom_; }
    // The layout's own zoom control; anchors at the middle of the visible area.
    void setZoom(double zoom);
    EditorTimelineCanvas* canvas() const { return canvas_; }
    // Sizes the canvas and scrolls; runs on every change it depends on.
    void refresh();

signals:
    void zoomChanged(double zoom);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void zoomAround(double zoom, double anchorX);

    std::shared_ptr<ExportEditorSession> model_;
    EditorTimelineCanvas* canvas_;
    double zoom_ = 1;
    // The zoom last applied to the canvas.
    double appliedZoom_ = 1;
    std::optional<double> anchor_;
};

}  // namespace yux

#include "editor/editor_timeline.hpp"

#include <algorithm>
#include <cmath>

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

}  // namespace yux

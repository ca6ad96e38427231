#include "model/camera_overlay_geometry.hpp"

#include <algorithm>
#include <cmath>

namespace yux {

namespace {

// Lower bound of the side computed from the size share, in points.
constexpr double kMinimumBubbleSide = 60;
// Lower bound of a non-circular bubble's width / height.
constexpr double kMinimumAspect = 0.1;
// Distance of the start and end snap lines from the area's edges.
constexpr double kSnapMargin = 16;
// An edge or centre strictly closer than this to a snap line jumps onto it.
constexpr double kSnapReach = 8;
// Between the bubble and its tool strip.
constexpr double kToolStripGap = 18;
constexpr double kMinimumZoom = 1;
constexpr double kMaximumZoom = 4;
// A bubble centred in the outer thirds of the area anchors to that side when re-anchored.
constexpr double kStartThird = 1.0 / 3.0;
constexpr double kEndThird = 2.0 / 3.0;

// Zoom held to its range; a value that is not a number counts as no zoom.
double limitedZoom(double zoom) {
    if (!(zoom >= kMinimumZoom)) return kMinimumZoom;
    return std::min(zoom, kMaximumZoom);
}

bool isEmpty(const Rect& area) { return area.width <= 0 || area.height <= 0; }

double anchoredOrigin(CameraPlacement::Anchor anchor, double areaMin, double areaLength, double length, double gap) {
    switch (anchor) {
        case CameraPlacement::Anchor::start: return areaMin + gap;
        case CameraPlacement::Anchor::centre: return areaMin + (areaLength - length) / 2 + gap;
        case CameraPlacement::Anchor::end: return areaMin + areaLength - length - gap;
    }
    return areaMin;
}

CameraPlacement::Anchor anchorFor(double mid, double areaMin, double areaLength) {
    if (mid < areaMin + areaLength * kStartThird) return CameraPlacement::Anchor::start;
    if (mid > areaMin + areaLength * kEndThird) return CameraPlacement::Anchor::end;
    return CameraPlacement::Anchor::centre;
}

double gapFor(CameraPlacement::Anchor anchor, double min, double mid, double max, double areaMin, double areaMid,
              double areaMax) {
    switch (anchor) {
        case CameraPlacement::Anchor::start: return min - areaMin;
        case CameraPlacement::Anchor::centre: return mid - areaMid;
        case CameraPlacement::Anchor::end: return areaMax - max;
    }
    return 0;
}

struct AxisSnap {
    double origin;
    std::optional<double> guide;
};

// Candidates in order: start margin, centre, end margin; a later match replaces an earlier one.
AxisSnap snapAxis(double origin, double length, double areaMin, double areaMid, double areaMax) {
    AxisSnap snap{origin, std::nullopt};
    const double startLine = areaMin + kSnapMargin;
    const double candidates[] = {startLine, areaMid - length / 2, areaMax - kSnapMargin - length};
    const double guides[] = {startLine, areaMid, candidates[2] + length};
    for (int i = 0; i < 3; ++i) {
        if (std::fabs(snap.origin - candidates[i]) < kSnapReach) {
            snap.origin = candidates[i];
            snap.guide = guides[i];
        }
    }
    return snap;
}

CameraPlacement withZoom(CameraPlacement placement, double zoom) {
    placement.zoom = zoom;
    return placement;
}

}  // namespace

Rect CameraOverlayGeometry::clamped(const Rect& r, const Rect& a) const {
    const double width = std::min(a.width, r.width);
    const double height = std::min(a.height, r.height);
    const double x = std::max(a.minX(), std::min(a.maxX() - width, r.minX()));
    const double y = std::max(a.minY(), std::min(a.maxY() - height, r.minY()));
    return {x, y, width, height};
}

Rect CameraOverlayGeometry::frame(const CameraPlacement& p, const Rect& a) const {
    if (isEmpty(a)) return {};
    const double aspect = p.shape == CameraShape::circle ? 1.0 : std::max(p.aspect, kMinimumAspect);
    const double side = std::max(p.sizeShare * std::min(a.width, a.height), kMinimumBubbleSide);
    const double width = std::min({side, a.width, aspect * a.height});
    const double height = width / aspect;
    const double x = anchoredOrigin(p.horizontal, a.minX(), a.width, width, p.gapX);
    const double y = anchoredOrigin(p.vertical, a.minY(), a.height, height, p.gapY);
    return clamped({x, y, width, height}, a);
}

Rect CameraOverlayGeometry::crop(const CameraPlacement& p, const Rect& f, double sourceAspect) const {
    const double frameAspect = f.width / std::max(f.height, 1.0);
    const double r = sourceAspect / frameAspect;
    const double z = limitedZoom(p.zoom);
    // The picture fills the bubble: the wider of the two decides which side is cut.
    const double width = r > 1 ? (1 / r) / z : 1 / z;
    const double height = r > 1 ? 1 / z : r / z;
    const double x = std::max(0.0, std::min(p.centreX - width / 2, 1 - width));
    const double y = std::max(0.0, std::min(p.centreY - height / 2, 1 - height));
    return {x, y, width, height};
}

CameraPlacement CameraOverlayGeometry::placement(const Rect& f, const Rect& a, const CameraPlacement& preserving,
                                                 bool reanchor) const {
    CameraPlacement p = preserving;
    if (isEmpty(a)) return p;
    const Rect c = clamped(f, a);
    if (reanchor) {
        p.horizontal = anchorFor(c.midX(), a.minX(), a.width);
        p.vertical = anchorFor(c.midY(), a.minY(), a.height);
    }
    p.gapX = gapFor(p.horizontal, c.minX(), c.midX(), c.maxX(), a.minX(), a.midX(), a.maxX());
    p.gapY = gapFor(p.vertical, c.minY(), c.midY(), c.maxY(), a.minY(), a.midY(), a.maxY());
    p.sizeShare = c.width / std::min(a.width, a.height);
    if (p.shape == CameraShape::rectangle) p.aspect = c.width / std::max(c.height, 1.0);
    return p;
}

CameraOverlayGeometry::Snap CameraOverlayGeometry::snapped(const Rect& f, const Rect& a) const {
    Rect g = clamped(f, a);
    const AxisSnap x = snapAxis(g.minX(), g.width, a.minX(), a.midX(), a.maxX());
    const AxisSnap y = snapAxis(g.minY(), g.height, a.minY(), a.midY(), a.maxY());
    g.x = x.origin;
    g.y = y.origin;
    return {clamped(g, a), x.guide, y.guide};
}

CameraPlacement CameraOverlayGeometry::zoomed(const CameraPlacement& p, double zoom, Point u, const Rect& f,
                                              double sourceAspect) const {
    const Rect old = crop(p, f, sourceAspect);
    const double z = limitedZoom(zoom);
    const Rect sized = crop(withZoom(p, z), f, sourceAspect);
    CameraPlacement result = withZoom(p, z);
    result.centreX = old.minX() + old.width * u.x + (0.5 - u.x) * sized.width;
    result.centreY = old.minY() + old.height * u.y + (0.5 - u.y) * sized.height;
    // Store the centre the crop's clamping actually gives.
    const Rect final = crop(result, f, sourceAspect);
    result.centreX = final.midX();
    result.centreY = final.midY();
    return result;
}

Rect CameraOverlayGeometry::toolbarFrame(Size s, const Rect& c, const Rect& a) const {
    double y = c.minY() - kToolStripGap - s.height;
    if (y < a.minY() && c.maxY() + kToolStripGap + s.height <= a.maxY()) y = c.maxY() + kToolStripGap;
    const double x = std::max(a.minX(), std::min(a.maxX() - s.width, c.midX() - s.width / 2));
    return {x, y, s.width, s.height};
}

}  // namespace yux

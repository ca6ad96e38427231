#include "selection/screen_selection_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace yux {

namespace {

// The upper limit first, so `lo` wins when hi < lo.
double clampValue(double v, double lo, double hi) { return std::max(lo, std::min(hi, v)); }

// The fit of a rectangle of starting width `w` and aspect `a`, centred on `centre`, in `bounds`.
Rect ratioFit(double a, const Rect& bounds, Point centre, double w) {
    double h = w / a;
    const double s = std::min(bounds.width / w, bounds.height / h);
    if (s < 1) {
        w *= s;
        h *= s;
    }
    return {clampValue(centre.x - w * 0.5, bounds.minX(), bounds.maxX() - w),
            clampValue(centre.y - h * 0.5, bounds.minY(), bounds.maxY() - h), w, h};
}

// Gap between the selection and a tray placed beside it.
constexpr double kTrayGap = 13;
// Safe-area inset from every display edge and below the menu bar.
constexpr double kSafeInset = 12;
// A tray inside the selection keeps this much from its sides and its top.
constexpr double kInsideInset = 10;
// A tray inside the selection sits this far above its lower visible edge.
constexpr double kInsideLift = 66;
// A tray beside the selection sits this far above the safe area's bottom.
constexpr double kBesideLift = 56;

}  // namespace

std::string describe(const ScreenSelectionGeometry::DragMode& mode) {
    using Kind = ScreenSelectionGeometry::DragMode::Kind;
    switch (mode.kind) {
        case Kind::create: return "create";
        case Kind::move: return "move";
        case Kind::resize: return "resize(" + std::to_string(mode.edges.rawValue) + ")";
    }
    return "create";
}

ScreenSelectionGeometry::DragMode ScreenSelectionGeometry::mode(Point p, const std::optional<Rect>& rect) const {
    if (!rect) return DragMode::create();
    const double t = edgeThreshold;
    int edges = 0;
    if (std::fabs(p.x - rect->minX()) <= t) edges |= ResizeEdges::left;
    if (std::fabs(p.x - rect->maxX()) <= t) edges |= ResizeEdges::right;
    if (std::fabs(p.y - rect->minY()) <= t) edges |= ResizeEdges::bottom;
    if (std::fabs(p.y - rect->maxY()) <= t) edges |= ResizeEdges::top;
    if (edges != 0) return DragMode::resize(edges);
    return rect->contains(p) ? DragMode::move() : DragMode::create();
}

Rect ScreenSelectionGeometry::normalizeAndClamp(const Rect& rect, const Rect& b) const {
    const Rect r = rect.standardized();
    const double w = std::max(r.width, minimumSize);
    const double h = std::max(r.height, minimumSize);
    return {clampValue(r.minX(), b.minX(), b.maxX() - w), clampValue(r.minY(), b.minY(), b.maxY() - h),
            std::min(b.width, w), std::min(b.height, h)};
}

Rect ScreenSelectionGeometry::updatedRect(DragMode mode, const Rect& s, Point start, Point current, const Rect& b,
                                          CaptureRatio ratio) const {
    const double px = clampValue(current.x, b.minX(), b.maxX());
    const double py = clampValue(current.y, b.minY(), b.maxY());
    const double m = minimumSize;
    const auto aspect = valueOf(ratio);
    switch (mode.kind) {
        case DragMode::Kind::move: {
            const Rect moved = s.offsetBy(px - start.x, py - start.y);
            return {clampValue(moved.minX(), b.minX(), b.maxX() - s.width),
                    clampValue(moved.minY(), b.minY(), b.maxY() - s.height), s.width, s.height};
        }
        case DragMode::Kind::create: {
            const Rect r = normalizeAndClamp(
                {std::min(px, start.x), std::min(py, start.y), std::fabs(start.x - px), std::fabs(start.y - py)}, b);
            if (!aspect) return r;
            return ratioFit(*aspect, b, {r.midX(), r.midY()}, std::sqrt(*aspect * r.width * r.height));
        }
        case DragMode::Kind::resize: break;
    }
    const ResizeEdges e = mode.edges;
    const bool left = e.contains(ResizeEdges::left);
    const bool right = e.contains(ResizeEdges::right);
    const bool bottom = e.contains(ResizeEdges::bottom);
    const bool top = e.contains(ResizeEdges::top);
    const double minX = left ? std::min(s.maxX() - m, px) : s.minX();
    const double maxX = right ? std::max(minX + m, px) : s.maxX();
    const double minY = bottom ? std::min(s.maxY() - m, py) : s.minY();
    const double maxY = top ? std::max(minY + m, py) : s.maxY();
    if (!aspect) return normalizeAndClamp({minX, minY, maxX - minX, maxY - minY}, b);
    const double a = *aspect;
    const double ax = left ? s.maxX() : s.minX();
    const double ay = bottom ? s.maxY() : s.minY();
    double w = (left || right) ? maxX - minX : (maxY - minY) * a;
    double h = w / a;
    const double rx = left ? ax - b.minX() : b.maxX() - ax;
    const double ry = bottom ? ay - b.minY() : b.maxY() - ay;
    const double scale = std::min(rx / w, ry / h);
    if (scale < 1) {
        w *= scale;
        h *= scale;
    }
    return {left ? ax - w : ax, bottom ? ay - h : ay, w, h};
}

Rect ScreenSelectionGeometry::reshaped(const Rect& rect, CaptureRatio ratio, const Rect& b, bool largest) const {
    const auto aspect = valueOf(ratio);
    if (!aspect) return rect.intersected(b);
    if (largest) return ratioFit(*aspect, b, {b.midX(), b.midY()}, b.width);
    return ratioFit(*aspect, b, {rect.midX(), rect.midY()}, std::sqrt(*aspect * rect.width * rect.height));
}

Rect OverlayTrayLayout::placement(const std::optional<Rect>& selectedRect, const Rect& d, Size size,
                                  double menuBarHeight) {
    const double w = size.width;
    const double h = size.height;
    const Rect l = selectedRect.value_or(d).intersected(d).offsetBy(-d.minX(), -d.minY());
    const Rect a{kSafeInset, menuBarHeight + kSafeInset, d.width - 2 * kSafeInset,
                 d.height - menuBarHeight - 2 * kSafeInset};
    const double x0 = clampValue(l.midX() - w * 0.5, a.minX(), a.maxX() - w);
    const Rect below{x0, l.maxY() + kTrayGap, w, h};
    if (a.contains(below)) return below;
    const Rect above{x0, l.minY() - kTrayGap - h, w, h};
    if (a.contains(above)) return above;
    if (w + 2 * kInsideInset <= l.width) {
        const double x = clampValue(x0, l.minX() + kInsideInset, l.maxX() - kInsideInset - w);
        const double y = std::max(std::max(l.minY(), a.minY()) + kInsideInset,
                                  std::min(l.maxY(), a.maxY()) - kInsideLift - h);
        return {x, y, w, h};
    }
    const double x = l.maxX() + kTrayGap + w <= a.maxX() ? l.maxX() + kTrayGap : l.minX() - kTrayGap - w;
    return {x, a.maxY() - h - kBesideLift, w, h};
}

Size OverlayTrayLayout::controlSize(double preferred, const Rect& d, const std::optional<Rect>& previewRect,
                                    double mb) {
    // Room the tray needs above or below the area: one row of 40 plus its gaps.
    constexpr double kRowHeight = 40;
    constexpr double kRowGap = 25;
    constexpr double kDisplayMargin = 24;
    constexpr double kInsideMargin = 20;
    const Rect i = previewRect.value_or(d).intersected(d);
    const double below = d.maxY() - i.maxY() - kRowGap;
    const double above = i.minY() - d.minY() - mb - kRowGap;
    if (std::max(below, above) >= kRowHeight) return {std::min(d.width - kDisplayMargin, preferred), kRowHeight};
    const double best = std::max({i.width - kInsideMargin, i.minX() - d.minX() - kRowGap, d.maxX() - i.maxX() - kRowGap});
    const double width = std::min({d.width - kDisplayMargin, best, preferred});
    // Below this width the second group splits into two rows.
    constexpr double kTwoGroupWidth = 360;
    double height = kRowHeight;
    if (width < kTwoGroupWidth && preferred > kTwoGroupWidth) height = 108;
    else if (width < preferred) height = 76;
    return {width, height};
}

std::string elapsedTimeText(double seconds) {
    const long long s = seconds > 0 ? static_cast<long long>(seconds) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", s / 60, s % 60);
    return text;
}

}  // namespace yux

#include "model/geometry.hpp"

#include <algorithm>

namespace yux {

bool Rect::contains(Point p) const {
    return !isEmpty() && p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool Rect::contains(const Rect& other) const {
    return !isEmpty() && other.minX() >= minX() && other.maxX() <= maxX() && other.minY() >= minY() &&
           other.maxY() <= maxY();
}

bool Rect::intersects(const Rect& other) const {
    return !isEmpty() && !other.isEmpty() && std::max(minX(), other.minX()) < std::min(maxX(), other.maxX()) &&
           std::max(minY(), other.minY()) < std::min(maxY(), other.maxY());
}

Rect Rect::intersected(const Rect& other) const {
    if (!intersects(other)) return {};
    const double x0 = std::max(minX(), other.minX());
    const double y0 = std::max(minY(), other.minY());
    return {x0, y0, std::min(maxX(), other.maxX()) - x0, std::min(maxY(), other.maxY()) - y0};
}

Rect Rect::united(const Rect& other) const {
    const double x0 = std::min(minX(), other.minX());
    const double y0 = std::min(minY(), other.minY());
    return {x0, y0, std::max(maxX(), other.maxX()) - x0, std::max(maxY(), other.maxY()) - y0};
}

Rect AffineTransform::boundingRect(const Rect& r) const {
    const Point corners[] = {
        apply({r.minX(), r.minY()}),
        apply({r.maxX(), r.minY()}),
        apply({r.minX(), r.maxY()}),
        apply({r.maxX(), r.maxY()}),
    };
    double minX = corners[0].x, maxX = corners[0].x, minY = corners[0].y, maxY = corners[0].y;
    for (const auto& p : corners) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    return {minX, minY, maxX - minX, maxY - minY};
}

}  // namespace yux

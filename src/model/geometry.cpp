#include "model/geometry.hpp"

#include <algorithm>

namespace yux {

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

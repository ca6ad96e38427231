#pragma once

#include <cmath>

// Plain geometry of the model: doubles, no toolkit types, so values stay copyable and testable.

namespace yux {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

// Origin and size; the size may be negative only where a caller builds it so.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return width < 0 ? x + width : x; }
    double minY() const { return height < 0 ? y + height : y; }
    double maxX() const { return width < 0 ? x : x + width; }
    double maxY() const { return height < 0 ? y : y + height; }
    double midX() const { return x + width / 2; }
    double midY() const { return y + height / 2; }
    Size size() const { return {width, height}; }

    // Non-negative width and height.
    Rect standardized() const { return {minX(), minY(), maxX() - minX(), maxY() - minY()}; }
    bool isEmpty() const { return width == 0 || height == 0; }
    // A point on the max-x or max-y edge is outside, so abutting rectangles never share a point.
    bool contains(Point p) const;
    // Edges included: a rectangle contains itself.
    bool contains(const Rect& other) const;
    // The overlap; a zero-size rectangle when the two do not overlap.
    Rect intersected(const Rect& other) const;
    bool intersects(const Rect& other) const;
    // The smallest rectangle holding both.
    Rect united(const Rect& other) const;
    Rect offsetBy(double dx, double dy) const { return {x + dx, y + dy, width, height}; }
    // Grown by `d` on every side (shrunk for negative `d`).
    Rect outset(double d) const { return {minX() - d, minY() - d, std::abs(width) + 2 * d, std::abs(height) + 2 * d}; }

    bool operator==(const Rect&) const = default;
};

// A 2-D affine transform in the six-number form: x' = a·x + c·y + tx, y' = b·x + d·y + ty.
struct AffineTransform {
    double a = 1;
    double b = 0;
    double c = 0;
    double d = 1;
    double tx = 0;
    double ty = 0;

    static AffineTransform identity() { return {}; }
    static AffineTransform translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static AffineTransform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }

    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }

    // This transform first, then `next`.
    AffineTransform then(const AffineTransform& next) const {
        return {a * next.a + b * next.c,      a * next.b + b * next.d,
                c * next.a + d * next.c,      c * next.b + d * next.d,
                tx * next.a + ty * next.c + next.tx, tx * next.b + ty * next.d + next.ty};
    }

    // The smallest upright rectangle holding the transformed rectangle.
    Rect boundingRect(const Rect& r) const;

    bool operator==(const AffineTransform&) const = default;
};

}  // namespace yux

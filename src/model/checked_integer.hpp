#pragma once

// Double to integer conversions that never hand NaN, an infinity or an out-of-range value to a
// cast (that is undefined behaviour).

#include <cmath>
#include <concepts>
#include <limits>
#include <optional>

namespace yux {

// True when truncating v toward zero gives a value of T.
template <std::integral T>
bool fitsInteger(double v) {
    // max() + 1 is a power of two and so exact as a double, unlike max() of 64-bit types.
    constexpr double upperBound = static_cast<double>(std::numeric_limits<T>::max() / 2 + 1) * 2.0;
    return std::isfinite(v) && v > static_cast<double>(std::numeric_limits<T>::min()) - 1.0 && v < upperBound;
}

// v truncated toward zero, or nothing when it is not a number, infinite or out of range.
template <std::integral T>
std::optional<T> truncatedInteger(double v) {
    if (!fitsInteger<T>(v)) return std::nullopt;
    return static_cast<T>(v);
}

// v truncated toward zero, held to T's range; NaN gives `ifNaN`.
template <std::integral T>
T saturatedInteger(double v, T ifNaN) {
    if (std::isnan(v)) return ifNaN;
    if (fitsInteger<T>(v)) return static_cast<T>(v);
    return v < 0 ? std::numeric_limits<T>::min() : std::numeric_limits<T>::max();
}

}  // namespace yux

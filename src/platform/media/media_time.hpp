#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace yux::platform {

// A rational media time: value / timescale seconds. Comparison and arithmetic are exact.
// An invalid time (timescale 0) stands for "no time"; it compares below every valid time.
struct MediaTime {
    std::int64_t value = 0;
    std::int32_t timescale = 0;

    static constexpr std::int32_t kNanosecondScale = 1'000'000'000;

    constexpr MediaTime() = default;
    constexpr MediaTime(std::int64_t value, std::int32_t timescale) : value(value), timescale(timescale) {}

    static constexpr MediaTime invalid() { return {}; }
    static constexpr MediaTime zero() { return {0, 1}; }
    // Rounds to the nearest unit of `timescale`; non-finite seconds give an invalid time.
    static MediaTime fromSeconds(double seconds, std::int32_t timescale = kNanosecondScale);

    constexpr bool isValid() const { return timescale > 0; }
    double seconds() const { return isValid() ? static_cast<double>(value) / timescale : 0.0; }
    // The same instant in another timescale, rounded to nearest (half away from zero).
    MediaTime convertedTo(std::int32_t newTimescale) const;

    // Throw std::overflow_error when the result does not fit 64 bits.
    MediaTime operator+(const MediaTime& other) const;
    MediaTime operator-(const MediaTime& other) const;
    bool operator==(const MediaTime& other) const;
    std::strong_ordering operator<=>(const MediaTime& other) const;

    // Seconds in their shortest decimal form, e.g. "0.5", "1", "0.016666666666666666".
    std::string secondsText() const;
};

}  // namespace yux::platform

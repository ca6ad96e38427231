#include "platform/media/media_time.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

namespace yux::platform {

namespace {

using Wide = __int128;

std::int64_t narrow(Wide value) {
    if (value > std::numeric_limits<std::int64_t>::max() || value < std::numeric_limits<std::int64_t>::min()) {
        throw std::overflow_error("media time out of range");
    }
    return static_cast<std::int64_t>(value);
}

Wide roundedDivide(Wide numerator, Wide denominator) {
    Wide quotient = numerator / denominator;
    Wide remainder = numerator % denominator;
    if (2 * (remainder < 0 ? -remainder : remainder) >= denominator) {
        quotient += numerator < 0 ? -1 : 1;
    }
    return quotient;
}

}  // namespace

MediaTime MediaTime::fromSeconds(double seconds, std::int32_t timescale) {
    if (!std::isfinite(seconds) || timescale <= 0) return invalid();
    double units = std::round(seconds * timescale);
    // Inside the open range only: the bounds themselves are not exactly representable.
    if (!(units > -9.2e18 && units < 9.2e18)) return invalid();
    return {static_cast<std::int64_t>(units), timescale};
}

MediaTime MediaTime::convertedTo(std::int32_t newTimescale) const {
    if (!isValid() || newTimescale <= 0) return invalid();
    if (newTimescale == timescale) return *this;
    return {narrow(roundedDivide(static_cast<Wide>(value) * newTimescale, timescale)), newTimescale};
}

MediaTime MediaTime::operator+(const MediaTime& other) const {
    if (!isValid() || !other.isValid()) return invalid();
    if (timescale == other.timescale) return {narrow(static_cast<Wide>(value) + other.value), timescale};
    // The larger timescale keeps precision; exact when one divides the other.
    auto common = std::lcm(static_cast<std::int64_t>(timescale), static_cast<std::int64_t>(other.timescale));
    if (common <= std::numeric_limits<std::int32_t>::max()) {
        auto scale = static_cast<std::int32_t>(common);
        return {narrow(static_cast<Wide>(value) * (scale / timescale) + static_cast<Wide>(other.value) * (scale / other.timescale)),
                scale};
    }
    auto scale = std::max(timescale, other.timescale);
    return {narrow(static_cast<Wide>(convertedTo(scale).value) + other.convertedTo(scale).value), scale};
}

MediaTime MediaTime::operator-(const MediaTime& other) const {
    if (!other.isValid()) return invalid();
    // The negation itself overflows for the most negative value.
    if (other.value == std::numeric_limits<std::int64_t>::min()) throw std::overflow_error("media time out of range");
    return *this + MediaTime{-other.value, other.timescale};
}

bool MediaTime::operator==(const MediaTime& other) const { return (*this <=> other) == std::strong_ordering::equal; }

std::strong_ordering MediaTime::operator<=>(const MediaTime& other) const {
    if (!isValid() || !other.isValid()) return isValid() <=> other.isValid();
    return static_cast<Wide>(value) * other.timescale <=> static_cast<Wide>(other.value) * timescale;
}

std::string MediaTime::secondsText() const {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, seconds());
    return std::string(buffer, result.ptr);
}

}  // namespace yux::platform

#include "model/date.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace yux {

Date Date::now() {
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return fromUnixSeconds(std::chrono::duration<double>(since).count());
}

namespace {
// The years ISO 8601 writes with four digits: 0001-01-01T00:00:00Z to 9999-12-31T23:59:59Z.
// A stored date outside them (a damaged file) prints as the nearest end instead of overflowing
// the conversion to time_t.
constexpr double kEarliestPrintableUnixSeconds = -62135596800.0;
constexpr double kLatestPrintableUnixSeconds = 253402300799.0;
}  // namespace

std::string Date::iso8601(bool fractionalSeconds) const {
    double unix = unixSeconds();
    if (std::isnan(unix)) {
        unix = 0;
    }
    unix = std::clamp(unix, kEarliestPrintableUnixSeconds, kLatestPrintableUnixSeconds);
    // Cut to the millisecond, as the seconds are cut: a stamp never names a later time than its
    // moment (59.9996 is 59.999, not the next minute).
    const double totalMillis = std::floor(unix * 1000.0);
    const double whole = std::floor(totalMillis / 1000.0);
    const auto millis = static_cast<int>(totalMillis - whole * 1000.0);
    std::time_t seconds = static_cast<std::time_t>(whole);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[96];
    if (fractionalSeconds) {
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                      utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
    } else {
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                      utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    }
    return buffer;
}

}  // namespace yux

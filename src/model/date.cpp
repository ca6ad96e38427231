#include "model/date.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace yux {

Date Date::now() {
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return fromUnixSeconds(std::chrono::duration<double>(since).count());
}

std::string Date::iso8601(bool fractionalSeconds) const {
    double unix = unixSeconds();
    if (!std::isfinite(unix)) {
        unix = 0;
    }
    double whole = std::floor(unix);
    auto millis = static_cast<int>(std::lround((unix - whole) * 1000.0));
    if (millis == 1000) {
        whole += 1;
        millis = 0;
    }
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

#pragma once

#include <chrono>
#include <string>

#include "model/json_coding.hpp"

namespace yux {

// A point in time, stored as seconds since 2001-01-01 00:00:00 UTC (the stored documents'
// date form).
struct Date {
    // Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC.
    static constexpr double kReferenceDateUnixSeconds = 978307200.0;

    double timeIntervalSinceReferenceDate = 0;

    static Date now();
    static Date fromUnixSeconds(double seconds) { return Date{seconds - kReferenceDateUnixSeconds}; }
    double unixSeconds() const { return timeIntervalSinceReferenceDate + kReferenceDateUnixSeconds; }
    double timeIntervalSince(Date other) const {
        return timeIntervalSinceReferenceDate - other.timeIntervalSinceReferenceDate;
    }
    Date addingSeconds(double seconds) const { return Date{timeIntervalSinceReferenceDate + seconds}; }

    // ISO 8601 internet date-time in UTC, e.g. 2026-01-31T09:05:07.250Z (with milliseconds) or
    // 2026-01-31T09:05:07Z.
    std::string iso8601(bool fractionalSeconds = true) const;

    auto operator<=>(const Date&) const = default;
};

}  // namespace yux

template <>
struct yux::json::Coder<yux::Date> {
    static Json encode(const yux::Date& date) { return Coder<double>::encode(date.timeIntervalSinceReferenceDate); }
    static yux::Date decode(const Json& value) { return yux::Date{Coder<double>::decode(value)}; }
};

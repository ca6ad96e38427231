#pragma once

#include <string>

#include <QTimeZone>

#include "model/date.hpp"
#include "model/recording_file.hpp"

namespace yux {

// Names a recording after the moment it was saved: "Yux 2026-01-31 09.05.07.mov", in local
// time. The digits are ASCII and the clock runs to 24 hours whatever the user's region.
struct TimestampFileNamingPolicy {
    std::string locale = "en_US_POSIX";
    QTimeZone timeZone = QTimeZone::systemTimeZone();

    std::string makeFilename(Date date, OutputFormat format) const;
};

}  // namespace yux

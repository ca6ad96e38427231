#pragma once

#include <ostream>

#include "platform/media/media_time.hpp"

namespace yux::platform {

// A failed comparison shows the time as written and in seconds: "1001/30000 (0.03336666666666667 s)".
// Every test that compares media times includes this, so all of them print alike.
inline void PrintTo(const MediaTime& time, std::ostream* out) {
    *out << time.value << '/' << time.timescale;
    if (time.isValid()) {
        *out << " (" << time.secondsText() << " s)";
    } else {
        *out << " (invalid)";
    }
}

}  // namespace yux::platform

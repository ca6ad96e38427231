#pragma once

#include <time.h>

#include "platform/media/media_time.hpp"

namespace yux::platform {

// The host clock every captured sample is stamped on: CLOCK_MONOTONIC in nanoseconds.
inline MediaTime hostTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return {static_cast<std::int64_t>(now.tv_sec) * MediaTime::kNanosecondScale + now.tv_nsec,
            MediaTime::kNanosecondScale};
}

}  // namespace yux::platform

#pragma once

#include <functional>
#include <string>

#include "platform/async/cancel_token.hpp"

namespace yux::platform {

// Copies a whole movie into a new QuickTime file without decoding: every stream keeps its codec,
// codec tag, time base, handler name, disposition, display matrix and track id.
class MovieRemuxer {
public:
    // Reports the share of the source read so far (0 ... 1), first when copying starts, then at
    // most once per kProgressInterval.
    using Progress = std::function<void(double fraction)>;

    static constexpr double kProgressIntervalSeconds = 0.1;

    // Runs on the calling thread. Throws CancelledError when `cancel` fires (checked per packet),
    // std::runtime_error for file and library failures. The destination is created exclusively
    // and removed on any failure.
    static void copy(const std::string& sourcePath, const std::string& destinationPath,
                     const Progress& progress, const CancelToken& cancel);
};

}  // namespace yux::platform

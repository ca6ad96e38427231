#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

namespace yux::platform {

// Tells a download that trickles from one that is merely slow: a server sending a few bytes
// now and then would keep the silence timeout from ever firing.
class DownloadRateGuard {
public:
    using Clock = std::chrono::steady_clock;
    // The stretch over which the average rate is taken.
    static constexpr std::chrono::seconds kWindow{60};
    // A release of a few tens of MiB still arrives within the hour at this rate.
    static constexpr std::int64_t kMinimumBytesPerSecond = 16 * 1024;

    explicit DownloadRateGuard(Clock::time_point start);

    // Records that `received` bytes have come in all told by `now`; true once the bytes of the
    // last kWindow (or more) average under kMinimumBytesPerSecond.
    bool tooSlow(Clock::time_point now, std::int64_t received);

private:
    struct Sample {
        Clock::time_point at;
        std::int64_t received = 0;
    };
    // Oldest first; at most one a second, the first at or before the window's start.
    std::deque<Sample> samples_;
};

}  // namespace yux::platform

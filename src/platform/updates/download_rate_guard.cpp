#include "platform/updates/download_rate_guard.hpp"

namespace yux::platform {

namespace {
// Samples closer together than this are not kept: the window's edge moves in whole seconds.
constexpr std::chrono::seconds kSampleSpacing{1};
}  // namespace

DownloadRateGuard::DownloadRateGuard(Clock::time_point start) { samples_.push_back({start, 0}); }

bool DownloadRateGuard::tooSlow(Clock::time_point now, std::int64_t received) {
    if (now - samples_.back().at >= kSampleSpacing) samples_.push_back({now, received});
    while (samples_.size() > 1 && samples_[1].at <= now - kWindow) samples_.pop_front();
    const Sample& first = samples_.front();
    const auto span = now - first.at;
    if (span < kWindow) return false;
    const double seconds = std::chrono::duration<double>(span).count();
    return static_cast<double>(received - first.received) < kMinimumBytesPerSecond * seconds;
}

}  // namespace yux::platform

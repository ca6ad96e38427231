#include <mutex>

#include "platform/media/host_clock.hpp"
#include "platform/media/preview_player.hpp"

namespace yux::platform {

namespace {

// Source time from the host clock: (source time, host time, rate) at the last seek or rate change.
class HostPlaybackClock {
public:
    double now() const {
        std::lock_guard lock(mutex_);
        return timeAt(hostTimeNow().seconds());
    }
    void seek(double seconds) {
        std::lock_guard lock(mutex_);
        source_ = seconds;
        host_ = hostTimeNow().seconds();
    }
    void setRate(double rate) {
        std::lock_guard lock(mutex_);
        double host = hostTimeNow().seconds();
        source_ = timeAt(host);
        host_ = host;
        rate_ = rate;
    }

private:
    double timeAt(double host) const { return source_ + (host - host_) * rate_; }

    mutable std::mutex mutex_;
    double source_ = 0;
    double host_ = 0;
    double rate_ = 0;
};

}  // namespace

std::shared_ptr<PreviewPlayer> PreviewPlayer::create() {
    auto clock = std::make_shared<HostPlaybackClock>();
    Operations operations;
    operations.prepare = [](const std::vector<MediaTrack>&) {};
    operations.setAudioMix = [](const std::map<int, float>&) {};
    operations.seek = [clock](double seconds) { clock->seek(seconds); };
    operations.setRate = [clock](double rate) { clock->setRate(rate); };
    operations.currentTime = [clock] { return clock->now(); };
    operations.takeNewestPicture = [] { return std::optional<PixelBuffer>(); };
    operations.setViewSize = [](int, int) {};
    operations.setPictureListener = [](std::function<void()>) {};
    return std::make_shared<PreviewPlayer>(std::move(operations), true);
}

}  // namespace yux::platform

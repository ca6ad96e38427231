#include "platform/media/preview_player.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>

#include <QTimer>

namespace yux::platform {

namespace {

double heldRate(double rate) {
    if (!(rate > 0) || !std::isfinite(rate)) return 0;
    return std::clamp(rate, PreviewPlayer::kMinimumRate, PreviewPlayer::kMaximumRate);
}

}  // namespace

std::shared_ptr<PreviewPlayer> PreviewPlayer::create_null() {
    struct State {
        std::mutex mutex;
        double time = 0;
    };
    auto state = std::make_shared<State>();
    Operations operations;
    operations.prepare = [](const std::vector<MediaTrack>&, double) {};
    operations.setAudioMix = [](const std::map<int, float>&) {};
    operations.seek = [state](double seconds) {
        std::lock_guard lock(state->mutex);
        state->time = seconds;
    };
    operations.setRate = [](double) {};
    operations.currentTime = [state] {
        std::lock_guard lock(state->mutex);
        return state->time;
    };
    operations.takeNewestPicture = [] { return std::optional<PixelBuffer>(); };
    operations.setViewSize = [](int, int) {};
    operations.setPictureListener = [](std::function<void()>) {};
    operations.simulateTime = [state](double seconds) {
        std::lock_guard lock(state->mutex);
        state->time = seconds;
    };
    return std::make_shared<PreviewPlayer>(std::move(operations), false);
}

PreviewPlayer::PreviewPlayer(Operations operations, bool live) : operations_(std::move(operations)), live_(live) {}

PreviewPlayer::~PreviewPlayer() = default;

void PreviewPlayer::prepare(const std::vector<MediaTrack>& tracks, double frameRate) {
    std::vector<int> ids;
    for (const auto& track : tracks) ids.push_back(track.trackID);
    events_.record(Event::prepared(ids));
    operations_.prepare(tracks, frameRate);
}

void PreviewPlayer::setAudioMix(const std::map<int, float>& volumes) {
    events_.record(Event::mixOf(volumes));
    operations_.setAudioMix(volumes);
}

void PreviewPlayer::seek(double seconds) {
    if (!std::isfinite(seconds)) return;
    events_.record(Event::seekTo(seconds));
    operations_.seek(seconds);
}

void PreviewPlayer::setRate(double rate) {
    double held = heldRate(rate);
    if (held == rate_) return;
    events_.record(Event::rateOf(held));
    rate_ = held;
    operations_.setRate(held);
    restartTimer();
}

double PreviewPlayer::currentTime() const { return operations_.currentTime(); }

void PreviewPlayer::setObserver(std::function<void(double)> tick) {
    observer_ = std::move(tick);
    restartTimer();
}

void PreviewPlayer::removeObserver() {
    observer_ = nullptr;
    restartTimer();
}

std::optional<PixelBuffer> PreviewPlayer::takeNewestPicture() { return operations_.takeNewestPicture(); }

void PreviewPlayer::setViewSize(int width, int height) { operations_.setViewSize(width, height); }

void PreviewPlayer::setPictureListener(std::function<void()> listener) { operations_.setPictureListener(std::move(listener)); }

void PreviewPlayer::simulate_time(double seconds) {
    if (operations_.simulateTime) operations_.simulateTime(seconds);
    if (observer_) {
        auto observer = observer_;  // the observer may remove itself
        observer(seconds);
    }
}

void PreviewPlayer::restartTimer() {
    // The null player's time moves only when a test says so.
    if (!live_) return;
    if (!observer_ || rate_ <= 0) {
        if (timer_) timer_->stop();
        return;
    }
    if (!timer_) {
        timer_ = std::make_unique<QTimer>();
        timer_->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer_.get(), &QTimer::timeout, [this] {
            if (!observer_) return;
            auto observer = observer_;
            observer(currentTime());
        });
    }
    // 0.03 s of player time is 30 ms ÷ rate of wall time.
    timer_->start(std::max(1, static_cast<int>(std::lround(kObserverIntervalSeconds * 1000 / rate_))));
}

}  // namespace yux::platform

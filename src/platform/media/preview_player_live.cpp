#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/media/audio_sample_reader.hpp"
#include "platform/media/audio_tempo_filter.hpp"
#include "platform/media/composition_video_renderer.hpp"
#include "platform/media/edit_composition.hpp"
#include "platform/media/host_clock.hpp"
#include "platform/media/preview_player.hpp"

namespace yux::platform {

namespace {

constexpr int kSampleRate = PreviewAudioOutput::kSampleRate;
constexpr int kChannels = PreviewAudioOutput::kChannels;
// Frames decoded, mixed and stretched at a time: about 20 ms, well inside the output's buffer.
constexpr int kAudioBlockFrames = 1024;
// How long a worker sleeps at most before it looks at the clock and its orders again.
constexpr auto kWorkerPoll = std::chrono::milliseconds(5);
constexpr auto kVideoMaxSleep = std::chrono::milliseconds(20);
// The composition plays the movie as it is; past its last media the screen holds its last picture.
constexpr double kHoldPastEndSeconds = 3600;
// The preview's pictures are timed on the edit composition's ticks.
constexpr std::int32_t kPictureTimescale = EditComposition::kTimescale;
// Pictures a second when neither the caller nor the movie tells; a picture a second at least,
// so a playing preview still moves, and no more than a screen refreshes.
constexpr double kFallbackFrameRate = 30;
constexpr double kMinimumFrameRate = 1;
constexpr double kMaximumFrameRate = 240;

double endOf(const MediaTrack& track) {
    double start = track.start.isValid() ? track.start.seconds() : 0;
    double length = track.duration.isValid() ? track.duration.seconds() : 0;
    return start + length;
}

// The player's state; the main thread gives orders, the two workers carry them out.
class Engine {
public:
    Engine(std::optional<PreviewAudioOutput> output, std::function<double()> hostClock)
        : output_(std::move(output)), hostClock_(std::move(hostClock)) {
        if (!hostClock_) hostClock_ = [] { return hostTimeNow().seconds(); };
    }

    ~Engine() {
        stopWorkers();
        if (outputOpen_) output_->close();
    }

    void prepare(const std::vector<MediaTrack>& tracks, double frameRate) {
        stopWorkers();
        std::vector<MediaTrack> videos, audios;
        double end = 0;
        for (const auto& track : tracks) {
            if (track.type == MediaTrackType::video) videos.push_back(track);
            if (track.type == MediaTrackType::audio) audios.push_back(track);
            end = std::max(end, endOf(track));
        }
        // Everything opens here, so a track that cannot be decoded fails prepare().
        std::unique_ptr<EditComposition> composition;
        std::unique_ptr<CompositionVideoRenderer> renderer;
        if (!videos.empty()) {
            composition = std::make_unique<EditComposition>(
                EditComposition::build(videos, {EditSection{0, end + kHoldPastEndSeconds, 1}}));
            renderer = std::make_unique<CompositionVideoRenderer>(videos.front().path, *composition, PictureGeometry{});
        }
        std::vector<std::pair<int, std::unique_ptr<AudioSampleReader>>> readers;
        for (const auto& track : audios) readers.emplace_back(track.trackID, std::make_unique<AudioSampleReader>(track.path, track));
        if (!readers.empty() && output_ && !outputOpen_) outputOpen_ = output_->open();

        std::lock_guard lock(mutex_);
        double now = timeLocked();
        videos_ = videos;
        composition_ = std::move(composition);
        renderer_ = std::move(renderer);
        readers_ = std::move(readers);
        audioMaster_ = outputOpen_ && !readers_.empty();
        frameRate_ = kFallbackFrameRate;
        if (std::isfinite(frameRate) && frameRate > 0) {
            frameRate_ = std::clamp(frameRate, kMinimumFrameRate, kMaximumFrameRate);
        } else if (!videos.empty() && videos.front().frameCount > 1 && endOf(videos.front()) > 0) {
            frameRate_ = std::clamp(static_cast<double>(videos.front().frameCount) / videos.front().duration.seconds(),
                                    kMinimumFrameRate, kMaximumFrameRate);
        }
        stopping_ = false;
        repositionLocked(now);
        if (audioMaster_) output_->cork(rate_ == 0);
        if (renderer_) videoThread_ = std::thread([this] { videoLoop(); });
        if (audioMaster_) audioThread_ = std::thread([this] { audioLoop(); });
    }

    void setMix(const std::map<int, float>& volumes) {
        std::lock_guard lock(mutex_);
        volumes_ = volumes;
    }

    void seek(double seconds) {
        std::lock_guard lock(mutex_);
        repositionLocked(seconds);
        wake_.notify_all();
    }

    void setRate(double rate) {
        std::lock_guard lock(mutex_);
        double now = timeLocked();
        if (rate > 0 && rate != playRate_) {
            // A new rate starts afresh from what is heard now, with a new tempo filter.
            playRate_ = rate;
            rate_ = rate;
            repositionLocked(now);
        } else {
            hostSource_ = now;
            hostAnchor_ = hostClock_();
            seekTime_ = now;  // where a paused picture is drawn again
            // The output's played count may move while corked (a sink that lowers its latency
            // reports more played), so the mark is taken again when the sound goes on.
            markSource_ = now;
            rate_ = rate;
        }
        if (audioMaster_) output_->cork(rate_ == 0);
        if (audioMaster_ && rate_ > 0) markFrame_ = output_->playedFrames();
        wake_.notify_all();
    }

    double currentTime() {
        std::lock_guard lock(mutex_);
        return timeLocked();
    }

    std::optional<PixelBuffer> takePicture() {
        std::lock_guard lock(mutex_);
        auto picture = std::move(mailbox_);
        mailbox_.reset();
        return picture;
    }

    void setViewSize(int width, int height) {
        std::lock_guard lock(mutex_);
        viewWidth_ = width;
        viewHeight_ = height;
        ++videoGeneration_;
        wake_.notify_all();
    }

    void setListener(std::function<void()> listener) {
        std::lock_guard lock(mutex_);
        listener_ = std::move(listener);
    }

private:
    // With mutex_ held. Audio is the master clock: its played frames, mapped back through the
    // (output frame, source time, rate) mark of the last seek or rate change.
    double timeLocked() const {
        if (audioMaster_) {
            if (rate_ == 0) return markSource_;
            std::int64_t played = output_->playedFrames();
            return markSource_ + static_cast<double>(played - markFrame_) / kSampleRate * playRate_;
        }
        return hostSource_ + (hostClock_() - hostAnchor_) * rate_;
    }

    // With mutex_ held: the workers start again from `seconds`.
    void repositionLocked(double seconds) {
        hostSource_ = seconds;
        hostAnchor_ = hostClock_();
        seekTime_ = seconds;
        ++audioGeneration_;
        ++videoGeneration_;
        mailbox_.reset();  // a picture from before the seek is not handed over after it
        if (audioMaster_) {
            output_->flush();
            markFrame_ = output_->playedFrames();
            markSource_ = seconds;
        }
    }

    void stopWorkers() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            wake_.notify_all();
        }
        if (videoThread_.joinable()) videoThread_.join();
        if (audioThread_.joinable()) audioThread_.join();
    }

    PictureGeometry geometryFor(int viewWidth, int viewHeight) const {
        const auto& source = videos_.front();
        double scale = 1;
        if (viewWidth > 0 && viewHeight > 0) {
            scale = std::min({1.0, static_cast<double>(viewWidth) / source.width, static_cast<double>(viewHeight) / source.height});
        }
        auto even = [](double value) { return std::max(2, static_cast<int>(std::lround(value)) & ~1); };
        PictureGeometry geometry;
        geometry.scaledWidth = even(source.width * scale);
        geometry.scaledHeight = even(source.height * scale);
        geometry.cropWidth = geometry.scaledWidth;
        geometry.cropHeight = geometry.scaledHeight;
        return geometry;
    }

    void videoLoop() {
        std::uint64_t shownGeneration = 0;
        std::int64_t shownFrame = -1;
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            bool fresh = videoGeneration_ != shownGeneration;
            bool playing = rate_ > 0;
            double time = fresh && !playing ? seekTime_ : timeLocked();
            auto frame = static_cast<std::int64_t>(std::floor(time * frameRate_));
            if (!fresh && frame == shownFrame) {
                // Sleep until the next picture is due, or until an order comes.
                double due = (static_cast<double>(frame + 1) / frameRate_ - time) / std::max(rate_, PreviewPlayer::kMinimumRate);
                auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(due));
                auto sleep = playing ? std::clamp(wait, std::chrono::milliseconds(1), kVideoMaxSleep) : kVideoMaxSleep;
                wake_.wait_for(lock, sleep);
                continue;
            }
            shownGeneration = videoGeneration_;
            shownFrame = frame;
            auto geometry = geometryFor(viewWidth_, viewHeight_);
            lock.unlock();
            PixelBuffer picture = render(time, geometry);
            lock.lock();
            // A seek that came meanwhile makes this picture stale.
            if (videoGeneration_ != shownGeneration || !picture.isValid()) continue;
            mailbox_ = picture;
            auto listener = listener_;
            lock.unlock();
            if (listener) listener();
            lock.lock();
        }
    }

    // On the video thread.
    PixelBuffer render(double time, const PictureGeometry& geometry) {
        try {
            const auto& current = renderer_->geometry();
            if (current.cropWidth != geometry.cropWidth || current.cropHeight != geometry.cropHeight) renderer_->setGeometry(geometry);
            const std::uint8_t* canvas = renderer_->renderBgra(MediaTime::fromSeconds(std::max(0.0, time), kPictureTimescale));
            auto picture = PixelBuffer::create(geometry.cropWidth, geometry.cropHeight);
            for (int y = 0; y < geometry.cropHeight; ++y) {
                std::memcpy(picture.row(y), canvas + static_cast<std::size_t>(y) * geometry.cropWidth * 4,
                            static_cast<std::size_t>(geometry.cropWidth) * 4);
            }
            return picture;
        } catch (const std::exception&) {
            // Damage the decoder could not skip: the last good picture stays.
            return {};
        }
    }

    void audioLoop() {
        std::uint64_t generation = 0;
        std::unique_ptr<AudioTempoFilter> tempo;
        std::vector<float> pending;  // stretched samples not yet written
        std::size_t pendingOffset = 0;
        std::vector<float> block(static_cast<std::size_t>(kAudioBlockFrames) * kChannels);
        std::vector<float> mix(block.size());
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            if (generation != audioGeneration_) {
                generation = audioGeneration_;
                double from = seekTime_;
                double rate = playRate_;
                lock.unlock();
                for (auto& [id, reader] : readers_) reader->seek(MediaTime::fromSeconds(from, kPictureTimescale));
                tempo = rate == 1 ? nullptr : std::make_unique<AudioTempoFilter>(rate);
                pending.clear();
                pendingOffset = 0;
                lock.lock();
                continue;
            }
            int writable = output_->writableFrames();
            if (writable <= 0) {
                wake_.wait_for(lock, kWorkerPoll);
                continue;
            }
            if (pendingOffset >= pending.size()) {
                auto volumes = volumes_;
                lock.unlock();
                std::fill(mix.begin(), mix.end(), 0.0f);
                for (auto& [id, reader] : readers_) {
                    auto found = volumes.find(id);
                    float volume = found == volumes.end() ? 1.0f : found->second;
                    int got = reader->read(block.data(), kAudioBlockFrames);
                    // A muted track is still read, so it stays in step.
                    if (volume == 0) continue;
                    for (std::size_t i = 0, n = static_cast<std::size_t>(got) * kChannels; i < n; ++i) mix[i] += block[i] * volume;
                }
                // Past the end of every track the output keeps playing silence, so the clock runs on.
                if (tempo) {
                    tempo->push(mix.data(), kAudioBlockFrames);
                    pending.swap(tempo->output());
                    tempo->output().clear();
                } else {
                    pending.assign(mix.begin(), mix.end());
                }
                pendingOffset = 0;
                lock.lock();
                continue;
            }
            if (generation != audioGeneration_) continue;  // stale: the order above comes first
            int frames = std::min(writable, static_cast<int>((pending.size() - pendingOffset) / kChannels));
            output_->write(pending.data() + pendingOffset, frames);
            pendingOffset += static_cast<std::size_t>(frames) * kChannels;
        }
    }

    std::optional<PreviewAudioOutput> output_;
    std::function<double()> hostClock_;
    bool outputOpen_ = false;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread videoThread_;
    std::thread audioThread_;

    // Set by prepare() while the workers stand still.
    std::vector<MediaTrack> videos_;
    std::unique_ptr<EditComposition> composition_;
    std::unique_ptr<CompositionVideoRenderer> renderer_;
    std::vector<std::pair<int, std::unique_ptr<AudioSampleReader>>> readers_;
    bool audioMaster_ = false;
    double frameRate_ = 30;

    // Orders, under mutex_.
    double rate_ = 0;      // 0: paused
    double playRate_ = 1;  // the rate of the sound being written, kept while paused
    double seekTime_ = 0;
    std::uint64_t audioGeneration_ = 0;
    std::uint64_t videoGeneration_ = 0;
    std::map<int, float> volumes_;
    int viewWidth_ = 0;
    int viewHeight_ = 0;
    // Host clock: (source time, host time) at the last seek or rate change.
    double hostSource_ = 0;
    double hostAnchor_ = 0;
    // Audio clock mark.
    std::int64_t markFrame_ = 0;
    double markSource_ = 0;

    std::optional<PixelBuffer> mailbox_;
    std::function<void()> listener_;
};

}  // namespace

std::shared_ptr<PreviewPlayer> PreviewPlayer::create(std::optional<PreviewAudioOutput> output,
                                                     std::function<double()> hostClock) {
    auto engine = std::make_shared<Engine>(std::move(output), std::move(hostClock));
    Operations operations;
    operations.prepare = [engine](const std::vector<MediaTrack>& tracks, double frameRate) {
        engine->prepare(tracks, frameRate);
    };
    operations.setAudioMix = [engine](const std::map<int, float>& volumes) { engine->setMix(volumes); };
    operations.seek = [engine](double seconds) { engine->seek(seconds); };
    operations.setRate = [engine](double rate) { engine->setRate(rate); };
    operations.currentTime = [engine] { return engine->currentTime(); };
    operations.takeNewestPicture = [engine] { return engine->takePicture(); };
    operations.setViewSize = [engine](int width, int height) { engine->setViewSize(width, height); };
    operations.setPictureListener = [engine](std::function<void()> listener) { engine->setListener(std::move(listener)); };
    return std::make_shared<PreviewPlayer>(std::move(operations), true);
}

}  // namespace yux::platform

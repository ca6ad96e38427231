#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/async/output_tracker.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/pixel_buffer.hpp"
#include "platform/media/preview_audio_output.hpp"

class QTimer;

namespace yux::platform {

// Plays the tracks of a movie for the trim editor: the video tracks composited in order (each
// later one over the earlier, a camera blended through its alpha), the audio tracks mixed at
// their volumes and played faster or slower with the pitch kept. Lives on the main thread; the
// decoding runs on worker threads of its own.
class PreviewPlayer {
public:
    // The player's time is source time of the movie, in seconds.
    struct Operations {
        std::function<void(const std::vector<MediaTrack>&, double frameRate)> prepare;
        std::function<void(const std::map<int, float>&)> setAudioMix;  // volume by track id
        std::function<void(double)> seek;
        std::function<void(double)> setRate;
        std::function<double()> currentTime;
        std::function<std::optional<PixelBuffer>()> takeNewestPicture;
        std::function<void(int, int)> setViewSize;
        std::function<void(std::function<void()>)> setPictureListener;
        // Null player only: moves its time.
        std::function<void(double)> simulateTime;
    };

    // What the player was asked to do, for tests.
    struct Event {
        enum class Kind { prepare, audioMix, seek, rate };
        Kind kind = Kind::seek;
        double value = 0;                  // seek: seconds; rate: the rate
        std::vector<int> trackIDs;         // prepare
        std::map<int, float> volumes;      // audioMix
        bool operator==(const Event&) const = default;
        static Event seekTo(double seconds) { return {Kind::seek, seconds, {}, {}}; }
        static Event rateOf(double rate) { return {Kind::rate, rate, {}, {}}; }
        static Event mixOf(std::map<int, float> volumes) { return {Kind::audioMix, 0, {}, std::move(volumes)}; }
        static Event prepared(std::vector<int> ids) { return {Kind::prepare, 0, std::move(ids), {}}; }
    };

    // The periodic observer fires every kObserverInterval of player time while playing.
    static constexpr double kObserverIntervalSeconds = 0.03;
    // Rates below this play nothing (the player pauses); the editor's speeds lie in 0.5 ... 4.
    static constexpr double kMinimumRate = 0.5;
    static constexpr double kMaximumRate = 4.0;

    // Decodes with FFmpeg and plays its sound through `output`, whose played position is then
    // the clock. Without an output, an output that does not open, or audio tracks, it runs
    // silent on `hostClock` (seconds; the monotonic clock when not given).
    static std::shared_ptr<PreviewPlayer> create(std::optional<PreviewAudioOutput> output = std::nullopt,
                                                 std::function<double()> hostClock = {});
    // Plays nothing; its time moves only by simulate_time().
    static std::shared_ptr<PreviewPlayer> create_null();

    explicit PreviewPlayer(Operations operations, bool live);
    ~PreviewPlayer();
    PreviewPlayer(const PreviewPlayer&) = delete;
    PreviewPlayer& operator=(const PreviewPlayer&) = delete;

    // The tracks to play (video and audio, any order; video tracks are drawn in the given order).
    // Pictures are drawn `frameRate` times a second of movie time: a screen track's own pictures
    // come far apart while the screen stands still, so the rate it was recorded at is given (as
    // the export takes it); 0 estimates it from the first video track's picture count. A track
    // that cannot be decoded throws std::runtime_error.
    void prepare(const std::vector<MediaTrack>& tracks, double frameRate = 0);
    void setAudioMix(const std::map<int, float>& volumes);
    // Frame-exact: the picture handed over next is the one showing at `seconds`.
    void seek(double seconds);
    // 0 pauses; 0.5 ... 4 plays at that rate (other values are held to that range). The rate it
    // already plays at changes nothing.
    void setRate(double rate);
    double rate() const { return rate_; }
    double currentTime() const;

    // `tick` runs on the main thread with the player time, every 0.03 s of player time while
    // playing. One observer at a time.
    void setObserver(std::function<void(double)> tick);
    void removeObserver();
    bool hasObserver() const { return static_cast<bool>(observer_); }

    // The newest picture not yet taken (BGRA at the view size, never larger than the source).
    std::optional<PixelBuffer> takeNewestPicture();
    void setViewSize(int width, int height);
    // Runs on a worker thread whenever a new picture waits.
    void setPictureListener(std::function<void()> listener);

    OutputTracker<Event> track_events() { return events_.track(); }
    // Null player: its time becomes `seconds` and the observer runs once with it.
    void simulate_time(double seconds);

private:
    void restartTimer();

    Operations operations_;
    bool live_ = false;
    double rate_ = 0;
    std::function<void(double)> observer_;
    std::unique_ptr<QTimer> timer_;
    OutputListener<Event> events_;
};

}  // namespace yux::platform

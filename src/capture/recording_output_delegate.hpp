#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/recording_source.hpp"
#include "platform/async/cancel_token.hpp"
#include "platform/async/locked.hpp"
#include "platform/async/serial_queue.hpp"
#include "platform/media/media_time.hpp"
#include "platform/media/movie_writer.hpp"
#include "platform/media/sample_buffer.hpp"
#include "platform/x11/capture_stream.hpp"
#include "platform/x11/frame_grid.hpp"

// After the platform headers: Qt's "emit" keyword would clash with OutputListener::emit.
#include <QCoroTask>

namespace yux {

// The movie writer of one capture: one track per recorded source, a timeline that begins at the
// video frame completing the set of video sources, and a finish that drains the video tracks,
// extends them to the stop time and completes the file. Every field lives on `queue()`.
class RecordingOutputDelegate {
public:
    // The clocks of the waits. Tests pass their own, so a 10 s wait takes no real time.
    struct Clock {
        std::function<platform::MediaTime()> hostNow;                  // the clock of the samples
        std::function<std::chrono::steady_clock::time_point()> now;    // deadlines
        // Suspends the calling main-thread coroutine; a cancelled token throws CancelledError.
        std::function<QCoro::Task<void>(std::chrono::milliseconds, platform::CancelToken)> sleep;
        // Runs `work` on `queue` after `delay`.
        std::function<void(platform::SerialQueue& queue, std::chrono::milliseconds delay, std::function<void()> work)>
            after;

        static Clock live();
    };

    // Diagnostic lines (a sample dropped for a clock fault, the library's words for a failure).
    using Log = std::function<void(const std::string&)>;

    // How a failure text ends when the movie keeps what was recorded; whoever knows where the
    // movie is may name the place.
    static constexpr std::string_view kKeptEnding = "what was recorded up to then is kept.";
    // Re-timed frames (the start's copies and the tail) last one frame at 60 fps.
    static constexpr platform::MediaTime kFrameDuration{1, 60};
    // A sample stamped further than this past the host clock's now, or past the stop, has a
    // broken time stamp: written, it would stretch its track (an audio gap filled with an hour of
    // silence, a video track refusing every later frame), so it is dropped.
    static constexpr platform::MediaTime kClockFaultTolerance{5, 1};
    static constexpr std::chrono::seconds kStartTimeout{10};
    static constexpr std::chrono::milliseconds kStartPollInterval{20};
    static constexpr std::chrono::seconds kDrainTimeout{10};
    static constexpr std::chrono::milliseconds kDrainRetryInterval{10};
    // A video track that gets no new picture shows its newest one again on the screen's frame
    // grid, so a killed take keeps its pictures about as far as its sound. The encoder's frame
    // threads and the writer hold a few pictures back, and each leaves only when another comes
    // in behind it. Repeats stay behind where the sound has reached by the track's lag:
    // kRepeatLag, or the delay with which its pictures arrive (the largest of the last
    // kDelayWindow, plus kDelayMargin for jitter), so a picture still on its way is not
    // overtaken; one later still goes on the first slot after the repeats. Behind that lag:
    // - a track that keeps changing pushes the held pictures out with its new ones, and gets one
    //   repeat once kRepeatSpacing has passed since the picture written last, that is the
    //   spacing plus its lag of sound after it;
    // - a captured picture that has waited kLongestWait inside the writer (its changes come too
    //   seldom to push it out) gets a repeat on every slot until it is out; a new picture shuts
    //   the repeats out until the sound has passed its slot, so what would pass kLongestWait
    //   by then goes out just before it, and a spacing repeat, which takes the last free slot,
    //   gives way to what a new picture coming now would hold up;
    // - once the track has stood still for kStillTime, every slot gets a repeat until the
    //   writer holds no captured picture any more (the flush), then one every kRepeatSpacing.
    static constexpr platform::MediaTime kRepeatSpacing{1, 10};
    static constexpr platform::MediaTime kRepeatLag{1, 10};
    // With the lag of prompt pictures, a flush begins about a quarter of a second of sound after
    // the last change: a window changing five times a second (typing) never waits that long and
    // costs no flush, while a killed take still keeps a change made 1.5 s before the kill.
    // Measured with bench/changing_screen_bench and the killed-take table.
    static constexpr platform::MediaTime kStillTime{3, 20};
    // In sound behind the lag. Where changes come every 8 frames and the sound 30 ms after the
    // pictures, no slot is free between two changes and a picture waits 0.68 s whatever the
    // bound; at 9 frames one slot is, and a bound under this one is overrun at the start. A
    // lower bound only costs pictures (a window changing 6 times a second: 13 a second at 0.5 s,
    // 10 here). What it keeps, measured on the fake clock with six pictures held (and every one
    // the writer took while its encoder fills): the longest a captured picture stayed, in s of
    // sound behind the lag, the worst over each range of sound delays of this sample. Steady
    // changes for 5 s, the sound 0 to 100 ms after the pictures in steps of 1 ms, the frame grid
    // 0 to 9 ms into a 10 ms sound buffer; typing, 200 seeds of 20 s, the sound in steps of 5 ms,
    // the grid 0 to 3 ms into a buffer:
    //   sound after the pictures:   0-10 ms  11-30 ms  31-50 ms  51-70 ms  71-80 ms  81-100 ms
    //   a change every 9-13 frames: 0.659    0.659     0.766     0.853     0.936     1.016
    //   typing (pauses ~0.2 s):     0.776    0.843     0.87      0.973     0.987     1.04
    // No other steady pace from 2 to 30 frames waits longer, except 8 frames (0.689 at 11-30 ms,
    // above). Typing brings two changes closer than the lag, which leaves no free slot between
    // them; later sound leaves fewer free slots between changes, none at 90 ms for a change every
    // 12 frames. With the lag on top, a killed take keeps its pictures within 0.97 s of its sound
    // while the sound comes up to 50 ms after them, and within 1.14 s up to 100 ms;
    // bench/changing_screen_bench's longest stay is about 0.8 s of real time.
    static constexpr platform::MediaTime kLongestWait{13, 20};
    static constexpr platform::MediaTime kDelayMargin{1, 20};
    static constexpr platform::MediaTime kDelayWindow{2, 1};

    // Creates the movie at `path` (never over an existing file) with the tracks screen, camera
    // (with `camera`), system audio and microphone (with `microphone`), and starts writing.
    // `frameInterval` is the screen stream's nominal interval between pictures; the movie
    // stores its rate (kNominalScreenFrameRateKey), which exports use.
    // Throws the writer's error unchanged, or AppError::outputFinalizationFailed.
    static std::shared_ptr<RecordingOutputDelegate> open(const std::string& path, int width, int height,
                                                         bool microphone, bool camera, Clock clock = Clock::live(),
                                                         platform::MediaTime frameInterval = kFrameDuration);
    // The same over a given writer (an in-memory one in tests).
    static std::shared_ptr<RecordingOutputDelegate> open(std::shared_ptr<platform::MovieWriter> writer, int width,
                                                         int height, bool microphone, bool camera,
                                                         Clock clock = Clock::live(),
                                                         platform::MediaTime frameInterval = kFrameDuration);

    // `frameInterval`: the screen stream's interval between pictures, the grid of the repeats.
    RecordingOutputDelegate(std::shared_ptr<platform::MovieWriter> writer,
                            std::map<RecordingSourceKind, int> inputs, Clock clock,
                            platform::MediaTime frameInterval = kFrameDuration);
    RecordingOutputDelegate(const RecordingOutputDelegate&) = delete;
    RecordingOutputDelegate& operator=(const RecordingOutputDelegate&) = delete;

    // "Yux.source-writer": every operation below marked "on queue" runs only there.
    platform::SerialQueue& queue() { return queue_; }
    // Before the capture starts.
    void setLog(Log log) { log_ = std::move(log); }
    platform::MovieWriter& writer() { return *writer_; }

    // The capture stream's sample callback, on queue.
    void stream(const platform::SampleBuffer& sample, platform::StreamOutputType type);
    // On queue.
    void receive(const platform::SampleBuffer& sample, RecordingSourceKind kind);
    void append(const platform::SampleBuffer& sample, RecordingSourceKind kind);
    // On queue. The first failure stays; later ones are ignored. A failure ends the take: only
    // the movie itself failing to be written is one.
    std::exception_ptr failure() const { return failure_; }
    void setFailure(std::exception_ptr error);
    // On queue: a picture of `kind` that could not be made (a camera frame that cannot be drawn)
    // is left out; the track keeps showing its last picture.
    void skipFrame(RecordingSourceKind kind, std::exception_ptr error);
    // On queue: a sound source that failed for good (the phone's microphone) goes on as
    // silence to the stop, paced by system audio, whose stream never leaves a hole.
    void silenceSource(RecordingSourceKind kind);
    // On queue: what was lost without ending the take, per kind.
    struct Losses {
        std::int64_t audioBuffersDropped = 0;  // the track's input was busy
        std::int64_t framesSkipped = 0;        // skipFrame
    };
    std::map<RecordingSourceKind, Losses> losses() const { return losses_; }
    std::optional<platform::MediaTime> start() const { return start_; }
    const std::set<RecordingSourceKind>& received() const { return received_; }

    // Until the screen, and the camera and microphone where those tracks exist, have each had a
    // sample written: throws the stored failure, or "Capture did not deliver video" after 10 s.
    QCoro::Task<void> waitForStart(platform::CancelToken token = {});
    // Ends the movie at the host clock's current time. Throws when it cannot be completed: after a
    // failure the movie keeps what was written when a picture was. A take without a single
    // picture throws and leaves no movie, failed or not.
    QCoro::Task<void> finish();
    // The same, blocking, for a capture the program leaves while it runs: waits at most
    // `limit` (the drain's deadline too), never throws. Not on queue.
    void finishNow(std::chrono::milliseconds limit);
    // Stops the capture's writing for good, removes the movie and returns the writer's status number.
    int cancel();

private:
    struct Continuation;
    // On queue: the sample on the timeline, once the start is known.
    void place(const platform::SampleBuffer& sample, RecordingSourceKind kind);
    // On queue: places the pictures held back in ahead_ that the host clock has passed (all
    // without `now`), and the one of `coming`, whose next picture follows it.
    void placeAhead(std::optional<platform::MediaTime> now, std::optional<RecordingSourceKind> coming);
    // The stop: from now on nothing at or after it is kept.
    platform::MediaTime markEnd();
    // On queue, as system audio moves on: the newest picture of each video track again.
    void repeatStill();
    // On queue: the repeats of `kind` as far as the sound has `reached`; with `coming`, only
    // those a captured picture about to be written at that time would hold up.
    void repeatNewest(RecordingSourceKind kind, platform::MediaTime reached,
                      std::optional<platform::MediaTime> coming);
    std::optional<platform::MediaTime> soundReached() const;
    // On queue: a picture at or before the newest captured one of its track, which write()
    // refuses as out of order.
    bool outOfOrder(const platform::SampleBuffer& sample, RecordingSourceKind kind);
    // On queue: forgets the captured pictures of `kind` that have left the writer; returns how
    // many of its pictures have.
    std::int64_t forgetPicturesOut(RecordingSourceKind kind);
    // On queue: writes a picture or sound; false when the track did not take it.
    bool write(const platform::SampleBuffer& sample, RecordingSourceKind kind, bool repeat);
    // How far behind `reached` the repeats of `kind` stay.
    platform::MediaTime repeatLag(RecordingSourceKind kind, platform::MediaTime reached);
    void logClockFaults();
    void finishAt(platform::MediaTime end, std::chrono::steady_clock::time_point deadline,
                  std::shared_ptr<Continuation> continuation);
    void abandon(std::shared_ptr<Continuation> continuation, std::exception_ptr error);
    void keepWritten(std::shared_ptr<Continuation> continuation, std::exception_ptr error);
    void endFailed(std::shared_ptr<Continuation> continuation, std::exception_ptr error);
    bool isClockFault(const platform::SampleBuffer& sample, RecordingSourceKind kind);
    std::exception_ptr writerFailure(const std::exception_ptr& error) const;
    void log(const std::string& line) const {
        if (log_) log_(line);
    }

    std::shared_ptr<platform::MovieWriter> writer_;
    std::map<RecordingSourceKind, int> inputs_;
    std::optional<platform::MediaTime> start_;
    std::exception_ptr failure_;
    std::exception_ptr writerError_;  // the writer's own, when it failed
    std::set<RecordingSourceKind> received_;
    std::map<RecordingSourceKind, platform::SampleBuffer> lastVideo_;
    // Pictures stamped at or ahead of the host clock (the screen stamps a picture on its nearest
    // slot), held back until the clock has passed them. A stop meanwhile leaves them out before
    // the writer sees them: handed over, such a picture past the stop would be the track's newest
    // and take its closing picture, yet never show, and the encoder may have taken it already.
    // One per track, so a source stamped far ahead piles up no pictures: the next of its track
    // releases the held one (markEnd() says why that lets no picture past a stop in).
    std::map<RecordingSourceKind, platform::SampleBuffer> ahead_;
    std::map<RecordingSourceKind, platform::MediaTime> lastWritten_;
    // What a video track's repeats go by.
    struct VideoProgress {
        std::int64_t appended = 0;    // pictures the writer took
        // The newest captured picture's own time (a late one may be written later): older ones
        // are out of order.
        std::optional<platform::MediaTime> captured;
        // Where the newest picture that came shows from on the track: the track is still from
        // there. Set when the picture comes, so the still time runs from the change even while a
        // busy track keeps it out; moved on when the writer takes it on a later slot (a late
        // picture, or a refused one a repeat brings), since it shows only from there.
        std::optional<platform::MediaTime> changedAt;
        bool newestTaken = false;  // the writer took the newest picture last
        // Captured pictures the writer may still hold: (`appended` once it took one, where it shows).
        std::deque<std::pair<std::int64_t, platform::MediaTime>> inside;
        // How late recent pictures arrived: (where the sound had reached, the delay).
        std::deque<std::pair<platform::MediaTime, platform::MediaTime>> delays;
    };
    std::map<RecordingSourceKind, VideoProgress> progress_;
    platform::MediaTime frameInterval_;
    // The screen's frame grid, from its first picture on.
    std::optional<platform::FrameGrid> grid_;
    // Where the system audio taken so far reaches (the stream's own sound, which never leaves a
    // hole).
    std::optional<platform::MediaTime> heard_;
    // Samples dropped for a broken clock, per kind: the first is logged, the rest counted.
    std::map<RecordingSourceKind, std::int64_t> clockFaults_;
    std::map<RecordingSourceKind, Losses> losses_;
    // Kinds whose losses go on since the last line that said so: one line per run of them.
    std::set<RecordingSourceKind> losing_;
    // The error of a kind's last skipped picture, told when the start waits for that kind in vain.
    std::map<RecordingSourceKind, std::exception_ptr> skipErrors_;
    std::set<RecordingSourceKind> silenced_;
    std::shared_ptr<const std::vector<std::uint8_t>> silence_;  // zeros, reused while the size holds
    Clock clock_;
    Log log_;
    bool cancelled_ = false;
    // The stop time, known from the moment finish() is called, so samples taken after it are
    // dropped at once, while the writer still drains.
    platform::Locked<std::optional<platform::MediaTime>> end_;
    // Last, so it is destroyed first: work still queued runs while the fields exist.
    platform::SerialQueue queue_{"Yux.source-writer"};
};

}  // namespace yux

#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/media/sample_buffer.hpp"

namespace yux::platform {

// Where a record stream takes its sound.
struct AudioSourceChoice {
    enum class Kind { systemPlayback, namedSource };
    Kind kind = Kind::systemPlayback;
    std::string sourceName;  // for namedSource; empty means the server's default source

    static AudioSourceChoice systemPlayback() { return {}; }
    static AudioSourceChoice named(std::string name) { return {Kind::namedSource, std::move(name)}; }
};

// Recording from a source could not begin; `kind` tells which source it was for.
class AudioSourceError : public std::runtime_error {
public:
    AudioSourceError(AudioSourceChoice::Kind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    AudioSourceChoice::Kind kind() const { return kind_; }

private:
    AudioSourceChoice::Kind kind_;
};

// The sound server has no source to record from: no default sink monitor for system audio,
// or no source of the given name for a microphone.
class AudioSourceUnavailable : public AudioSourceError {
public:
    using AudioSourceError::AudioSourceError;
};

// The sound server refused the connection or the stream, or did not answer in time. The
// message says which, in words for the user.
class AudioSourceFailed : public AudioSourceError {
public:
    using AudioSourceError::AudioSourceError;
};

// The host time at which the first of `waitingFrames` frames, all readable at `readAt`, was
// captured: they were captured back to back up to the read. A hardware source (a sound
// card) holds its frames a while before they reach the server; that latency is taken off
// too. Other sources (monitors and their remaps) report as latency the queue of the output
// they listen to, which says when a sound will be heard rather than when it was captured,
// so it is left out for them.
MediaTime recordedCaptureTime(MediaTime readAt, std::int64_t waitingFrames, std::int32_t sampleRate, bool hardware,
                              MediaTime sourceLatency);

// What is known about a record stream's source when its sound stops coming, and so how far
// silence may stand in for it without covering real sound that still arrives late.
struct SourceQuiet {
    enum class Kind {
        // Nothing known: sound may still be on its way.
        unknown,
        // The server answered at `drainedAt` that it held nothing more for this stream.
        drained,
        // The source is suspended: it sends nothing until it resumes.
        suspended,
        // The stream failed (server or source gone): nothing of it can still arrive.
        gone,
    };
    Kind kind = Kind::unknown;
    MediaTime drainedAt;
};

// The end of the silence that may be filled in at `now` (it starts where the timeline ends).
MediaTime silenceFillEnd(MediaTime now, const SourceQuiet& quiet);

// One PulseAudio record stream, 48000 Hz stereo float, in fragments of about 10 ms. Each
// buffer is stamped with the host-clock time at which its first frame was captured
// (recordedCaptureTime). The timeline runs without a hole from the start to the stop:
// where the source sends nothing, silence stands in, filled only where no real sound can
// still arrive (silenceFillEnd). When the source or the server goes away, the failure is
// reported once, silence goes on, and the stream connects again when the source is back.
class PulseRecordStream {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kChannels = 2;

    // These are called on a thread of the stream (or, for the last buffers, on the thread
    // that stops it), in order, with the stream's lock held: they must hand on and return,
    // never call back into the stream.
    using Receive = std::function<void(SampleBuffer)>;
    // Once per outage: the source or the server went away.
    using Failure = std::function<void(const std::string&)>;
    // One diagnostic line, e.g. when a lost source is recorded from again.
    using Log = std::function<void(const std::string&)>;

    // What the timeline was made of so far, in frames.
    struct Statistics {
        std::int64_t realFrames = 0;
        std::int64_t silenceFrames = 0;
        // Real frames dropped because silence filled in already covered their time.
        std::int64_t realFramesCut = 0;
        // Real frames dropped because the buffer before them was stamped late (timing jitter).
        std::int64_t realFramesOverlapped = 0;
        int failures = 0;
        int reconnections = 0;
    };

    // Connects and starts recording; returns when the stream is ready, or throws within a few
    // seconds: AudioSourceUnavailable when the source does not exist, AudioSourceFailed when the
    // sound server refuses or does not answer.
    static std::unique_ptr<PulseRecordStream> start(const AudioSourceChoice& source, Receive receive,
                                                    Failure failure = {}, Log log = {});
    ~PulseRecordStream();
    PulseRecordStream(const PulseRecordStream&) = delete;
    PulseRecordStream& operator=(const PulseRecordStream&) = delete;

    // Returns once the source has handed on its first sound, or at `deadline`. A sound server
    // may have mixed ahead, before this stream asked, what its output plays next (PulseAudio's
    // null sink mixes up to 2 s ahead), and none of that reaches this stream: a recording that
    // begins after this wait has the sound from its first moment. Returns at once when no sound
    // is on its way: the source is suspended, or it monitors an output that plays nothing. Then,
    // as after the deadline, silence stands in for the source until it sends sound.
    void awaitSound(std::chrono::steady_clock::time_point deadline);
    // Long enough for everything PulseAudio mixes ahead (2 s at most) to have played out.
    static constexpr std::chrono::milliseconds kSoundWaitLimit{2500};

    // Hands on what was recorded and silence up to now; no buffer is delivered after it
    // returns. Safe to call twice.
    void stop();
    // The name of the source being recorded. System audio follows the server's default sink:
    // when another sink becomes the default, the stream moves to that sink's monitor. A named
    // source (a microphone) is never moved: when it goes away, silence is recorded until it is back.
    std::string sourceName() const;
    Statistics statistics() const;

private:
    struct Impl;
    explicit PulseRecordStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The timeline of one record stream, in frames at PulseRecordStream::kSampleRate: real
// buffers at their capture times, silence where the source sent nothing. A buffer that starts
// close to where the last one ended is placed right there (so jitter of the arrival time never
// makes clicks), one that starts later leaves a gap, and one that starts earlier loses the
// part already covered.
//
// A buffer is stamped when it is read, less what waits behind it on this side. After the
// reading thread stalled, the sound of the stall comes in at once, each block looking captured
// just now; the first would leave a gap and those after it would land on it and be cut. So a
// real buffer that would leave a gap after real sound is held back with whatever follows it
// (kLateStampHold): every later buffer tells how early the held run must have started, since
// a stamp can come late but never early, and the run is placed at the earliest of those times.
class RecordedTimeline {
public:
    // How long a run of real sound is held back to learn when it really started.
    static constexpr std::int64_t kLateStampHoldMilliseconds = 200;

    using Emit = std::function<void(SampleBuffer)>;
    explicit RecordedTimeline(Emit handOn = {}) : emit_(std::move(handOn)) {}

    // The timeline starts at `origin` (where silence begins when no sound comes).
    void begin(MediaTime origin);
    // `frameCount` real frames (interleaved stereo float) captured at `captured`, read at `now`.
    void addReal(MediaTime captured, const std::uint8_t* bytes, std::int64_t frameCount, MediaTime now);
    // Hands on held sound, then silence from the end up to `end` once `minimumFrames` are due.
    void fillSilence(MediaTime end, std::int64_t minimumFrames);
    // Sound is held back at `now` and must not be covered with silence yet.
    bool isHolding(MediaTime now) const;
    // Where the next sound goes; held sound not counted.
    MediaTime end() const;
    const PulseRecordStream::Statistics& statistics() const { return statistics_; }
    PulseRecordStream::Statistics& statistics() { return statistics_; }

private:
    void deliver(MediaTime start, const std::uint8_t* bytes, std::int64_t frameCount, bool real);
    void release();

    Emit emit_;
    MediaTime origin_;
    MediaTime deliveredUntil_ = MediaTime::invalid();
    bool lastWasSilence_ = false;
    std::vector<std::uint8_t> held_;
    MediaTime heldStart_ = MediaTime::invalid();
    MediaTime heldSince_ = MediaTime::invalid();
    PulseRecordStream::Statistics statistics_;
};

}  // namespace yux::platform

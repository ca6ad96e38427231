#include "platform/audio/pulse_playback_stream.hpp"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/audio/pulse_deadline.hpp"
#include "platform/desktop/system_log.hpp"

namespace yux::platform {

namespace {

constexpr const char* kLogCategory = "Preview";
constexpr std::size_t kBytesPerFrame = sizeof(float) * PulsePlaybackStream::kChannels;
// Every wait for the sound server is bounded: the player's calls come from the main thread, and
// a server that stops answering (stopped, hung) must not freeze the program. Connecting and
// opening the stream together may take this long; then the player runs silent on the host clock.
constexpr auto kOpenTimeout = std::chrono::seconds(2);
// An order (cork, uncork, flush) or a question of the played position may wait this long for
// its answer; past it the stream plays on silently, paced by the monotonic clock.
constexpr auto kAnswerTimeout = std::chrono::seconds(1);
// The played position is the server's read position, asked for at most this often and run on
// between answers. The library's own interpolated stream time cannot serve: it keeps running
// while the stream is corked and, being monotonic, then stands still after uncorking for as long
// as the stream stood corked (a preview paused for a minute froze for a minute on Play).
constexpr double kTimingRequestSeconds = 0.01;
// Without a fresh answer the position runs on no further than this, so a busy server makes the
// clock wait rather than run ahead of the sound.
constexpr double kMaxRunOnSeconds = 0.25;

using Deadline = PulseDeadline;

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Deadline answerDeadline() { return std::chrono::steady_clock::now() + kAnswerTimeout; }

// Where the sound goes once the server stopped answering: nowhere, at the pace a sink would
// play it, so the preview's clock, which is the played count, goes on.
class SilentOutput {
public:
    explicit SilentOutput(std::int64_t played) : base_(played), written_(played) {}

    std::int64_t played(double now) {
        if (!since_) return base_;
        auto reached = base_ + static_cast<std::int64_t>(std::floor((now - *since_) * PulsePlaybackStream::kSampleRate));
        if (reached <= written_) return reached;
        // Ran dry: it stands at what was written until more comes.
        base_ = written_;
        since_ = now;
        return written_;
    }
    int writable(double now) {
        return static_cast<int>(std::max<std::int64_t>(0, PulsePlaybackStream::kBufferFrames - (written_ - played(now))));
    }
    void write(int frames) { written_ += frames; }
    void cork(bool corked, double now) {
        base_ = played(now);
        since_ = corked ? std::nullopt : std::optional(now);
    }
    void flush(double now) {
        base_ = played(now);
        written_ = base_;
        if (since_) since_ = now;
    }

private:
    std::int64_t base_;
    std::int64_t written_;
    std::optional<double> since_;  // playing since then, from base_
};

// The live stream. Every call takes the main loop's lock.
class LiveStream {
public:
    LiveStream(std::string name, SystemLog log) : name_(std::move(name)), log_(std::move(log)) {}
    ~LiveStream() { close(); }

    bool open() {
        if (stream_ != nullptr) return true;
        loop_ = pa_threaded_mainloop_new();
        if (loop_ == nullptr) return false;
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Yux");
        if (context_ == nullptr) {
            close();
            return false;
        }
        pa_context_set_state_callback(context_, [](pa_context*, void* loop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
        }, loop_);
        const Deadline deadline = std::chrono::steady_clock::now() + kOpenTimeout;
        pa_threaded_mainloop_lock(loop_);
        bool ready = pa_threaded_mainloop_start(loop_) >= 0 &&
                     pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 && waitReady(deadline);
        if (ready) ready = connectStream(deadline);
        pa_threaded_mainloop_unlock(loop_);
        if (!ready) {
            log_.error(kLogCategory, "No sound server took the preview's stream; the preview plays without sound.");
            close();
        }
        return ready;
    }

    int writableFrames() {
        std::lock_guard guard(mutex_);
        if (stream_ == nullptr) return 0;
        if (silent_) return silent_->writable(monotonicSeconds());
        Lock lock(loop_);
        std::size_t bytes = pa_stream_writable_size(stream_);
        if (bytes == static_cast<std::size_t>(-1)) {
            // The stream or the connection failed: the preview goes on without sound.
            goSilentLocked();
            return silent_->writable(monotonicSeconds());
        }
        return static_cast<int>(bytes / kBytesPerFrame);
    }

    void write(const float* samples, int frames) {
        std::lock_guard guard(mutex_);
        if (stream_ == nullptr || frames <= 0) return;
        if (silent_) return silent_->write(frames);
        Lock lock(loop_);
        pa_stream_write(stream_, samples, static_cast<std::size_t>(frames) * kBytesPerFrame, nullptr, 0, PA_SEEK_RELATIVE);
    }

    void cork(bool corked) {
        std::lock_guard guard(mutex_);
        if (stream_ == nullptr) return;
        Lock lock(loop_);
        if (!silent_) {
            bool answered = false;
            if (corked) {
                answered = beginStretchLocked([&] {
                    corked_ = true;
                    return awaitLocked(pa_stream_cork(stream_, 1, signalLoop, loop_));
                });
            } else {
                // Corked, the read position stands still: where the new sound starts is known before it plays.
                answered = beginStretchLocked([] { return true; });
                if (answered) {
                    corked_ = false;
                    answered = awaitLocked(pa_stream_cork(stream_, 0, signalLoop, loop_));
                    requestTimingLocked(monotonicSeconds());
                }
            }
            if (!answered) goSilentLocked();
        }
        corked_ = corked;
        if (silent_) silent_->cork(corked, monotonicSeconds());
    }

    void flush() {
        std::lock_guard guard(mutex_);
        if (stream_ == nullptr) return;
        // Nothing is written between the flush and the question after it, so the read position
        // answered is where the sound written next starts.
        Lock lock(loop_);
        if (!silent_ && !beginStretchLocked([&] { return awaitLocked(pa_stream_flush(stream_, signalLoop, loop_)); })) {
            goSilentLocked();
        }
        if (silent_) silent_->flush(monotonicSeconds());
    }

    std::int64_t playedFrames() {
        std::lock_guard guard(mutex_);
        if (stream_ == nullptr) return heard_;
        Lock lock(loop_);
        return playedLocked();
    }

    // With the loop locked: frames heard, counted across orders. Within one stretch between
    // orders (cork, uncork, flush) it is what the server has read since the stretch began less
    // what still waits in the sink, run on since the last answer while the stream plays. It
    // never goes back, and stands still until the stretch's first sound is heard.
    std::int64_t playedLocked() {
        double now = monotonicSeconds();
        if (!silent_ && timing_.question != nullptr &&
            pa_operation_get_state(timing_.question) == PA_OPERATION_RUNNING &&
            now - timing_.requested > std::chrono::duration<double>(kAnswerTimeout).count()) {
            goSilentLocked();  // the server has stopped answering
        }
        if (silent_) {
            heard_ = std::max(heard_, silent_->played(now));
            return heard_;
        }
        if (now - timing_.requested >= kTimingRequestSeconds) requestTimingLocked(now);
        if (!stretchKnown_ || !timing_.valid) return heard_;
        double frames = static_cast<double>(timing_.readFrames - stretchRead_ - timing_.latencyFrames);
        if (timing_.playing && !corked_) {
            frames += std::clamp(now - timing_.stamp, 0.0, kMaxRunOnSeconds) * PulsePlaybackStream::kSampleRate;
        }
        auto heard = stretchBase_ + std::max<std::int64_t>(0, static_cast<std::int64_t>(std::floor(frames)));
        heard_ = std::max(heard_, heard);
        return heard_;
    }

    void close() {
        std::lock_guard guard(mutex_);
        if (loop_ == nullptr) return;
        pa_threaded_mainloop_lock(loop_);
        forgetQuestionLocked();
        if (stream_ != nullptr) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
        silent_.reset();
    }

private:
    static void signalLoop(pa_stream*, int, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }

    // What the server said of the stream's position, and when (the middle of the round trip),
    // and the question asked last.
    struct Timing {
        bool valid = false;
        bool playing = false;
        std::int64_t readFrames = 0;
        std::int64_t latencyFrames = 0;
        double stamp = 0;
        pa_operation* question = nullptr;
        double requested = 0;
    };

    // With the loop locked: the server no longer counts; the stream plays on silently from
    // what was heard. Nothing more is asked of the server until close().
    void goSilentLocked() {
        if (silent_) return;
        log_.error(kLogCategory, "The sound server stopped answering; the preview plays on without sound.");
        forgetQuestionLocked();
        silent_.emplace(heard_);
        silent_->cork(corked_, monotonicSeconds());
    }

    // With the loop locked: the count stops where it is, `order` runs (false: it was not
    // answered in time), and a new stretch starts at the read position the server answers next.
    // False when the server did not answer in time.
    template <class Order>
    bool beginStretchLocked(Order order) {
        stretchBase_ = playedLocked();
        if (silent_) return false;
        // An answer to a question asked before the order belongs to the old stretch.
        if (!awaitTimingLocked()) return false;
        stretchKnown_ = false;
        if (!order()) return false;
        requestTimingLocked(monotonicSeconds());
        return awaitTimingLocked();
    }

    // With the loop locked. A question the server drops (the stream or the connection failed)
    // ends the wait too. False when no answer came in time.
    bool awaitTimingLocked() {
        if (timing_.question == nullptr) return true;
        pa_operation* question = timing_.question;
        const bool answered =
            waitLocked(loop_, context_, [question] { return pa_operation_get_state(question) != PA_OPERATION_RUNNING; },
                       answerDeadline());
        forgetQuestionLocked();
        return answered;
    }

    // With the loop locked. One question at a time.
    void requestTimingLocked(double now) {
        if (stream_ == nullptr) return;
        if (timing_.question != nullptr) {
            if (pa_operation_get_state(timing_.question) == PA_OPERATION_RUNNING) return;
            forgetQuestionLocked();
        }
        timing_.question = pa_stream_update_timing_info(stream_, timingAnswered, this);
        timing_.requested = now;
    }

    void forgetQuestionLocked() {
        if (timing_.question == nullptr) return;
        if (pa_operation_get_state(timing_.question) == PA_OPERATION_RUNNING) pa_operation_cancel(timing_.question);
        pa_operation_unref(timing_.question);
        timing_.question = nullptr;
    }

    // On the loop's thread, with the loop locked.
    static void timingAnswered(pa_stream* stream, int success, void* self) {
        auto* live = static_cast<LiveStream*>(self);
        const pa_timing_info* info = success ? pa_stream_get_timing_info(stream) : nullptr;
        if (info != nullptr) {
            constexpr auto rate = static_cast<std::int64_t>(PulsePlaybackStream::kSampleRate);
            live->timing_.valid = true;
            live->timing_.playing = info->playing != 0;
            live->timing_.readFrames = info->read_index / static_cast<std::int64_t>(kBytesPerFrame);
            live->timing_.latencyFrames = static_cast<std::int64_t>(info->sink_usec) * rate / 1000000;
            live->timing_.stamp = (live->timing_.requested + monotonicSeconds()) / 2;
            if (!live->stretchKnown_) {
                live->stretchRead_ = live->timing_.readFrames;
                live->stretchKnown_ = true;
            }
        }
        pa_threaded_mainloop_signal(live->loop_, 0);
    }

    // With the loop locked: waits until the server has done the operation, at most
    // kAnswerTimeout. False when it did not answer in time (the operation is then given up).
    bool awaitLocked(pa_operation* operation) {
        return awaitOperationLocked(loop_, context_, operation, answerDeadline());
    }

    struct Lock {
        explicit Lock(pa_threaded_mainloop* loop) : loop(loop) { pa_threaded_mainloop_lock(loop); }
        ~Lock() { pa_threaded_mainloop_unlock(loop); }
        pa_threaded_mainloop* loop;
    };

    // With the loop locked. A missing or silent server gives up at the deadline.
    bool waitReady(Deadline deadline) {
        const auto settled = [this] {
            auto state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        };
        return waitLocked(loop_, context_, settled, deadline) && pa_context_get_state(context_) == PA_CONTEXT_READY;
    }

    // With the loop locked.
    bool connectStream(Deadline deadline) {
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, PulsePlaybackStream::kSampleRate, PulsePlaybackStream::kChannels};
        stream_ = pa_stream_new(context_, name_.c_str(), &spec, nullptr);
        if (stream_ == nullptr) return false;
        pa_stream_set_state_callback(stream_, [](pa_stream*, void* loop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
        }, loop_);
        corked_ = true;
        timing_ = {};
        stretchKnown_ = false;
        stretchBase_ = 0;
        heard_ = 0;
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = static_cast<std::uint32_t>(PulsePlaybackStream::kBufferFrames * kBytesPerFrame);
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        attributes.minreq = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(-1);
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        if (pa_stream_connect_playback(stream_, nullptr, &attributes, flags, nullptr, nullptr) < 0) return false;
        const auto settled = [this] {
            auto state = pa_stream_get_state(stream_);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        };
        return waitLocked(loop_, context_, settled, deadline) && pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    std::string name_;
    SystemLog log_;
    std::mutex mutex_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    // Under the loop's lock: the callbacks run on its thread.
    bool corked_ = true;
    Timing timing_;
    // The stretch since the last order: the count when it began and the read position where its
    // sound starts (known once the server has answered).
    std::int64_t stretchBase_ = 0;
    std::int64_t stretchRead_ = 0;
    bool stretchKnown_ = false;
    std::int64_t heard_ = 0;
    // Set once the server stopped answering.
    std::optional<SilentOutput> silent_;
};

}  // namespace

std::shared_ptr<PulsePlaybackStream> PulsePlaybackStream::create(std::string name) {
    auto live = std::make_shared<LiveStream>(std::move(name), SystemLog::create());
    Operations operations;
    auto& output = operations.output;
    output.open = [live] { return live->open(); };
    output.writableFrames = [live] { return live->writableFrames(); };
    output.write = [live](const float* samples, int frames) { live->write(samples, frames); };
    output.cork = [live](bool corked) { live->cork(corked); };
    output.flush = [live] { live->flush(); };
    output.playedFrames = [live] { return live->playedFrames(); };
    output.close = [live] { live->close(); };
    return std::make_shared<PulsePlaybackStream>(std::move(operations));
}

std::shared_ptr<PulsePlaybackStream> PulsePlaybackStream::create_null(bool serverAvailable) {
    struct State {
        std::mutex mutex;
        bool open = false;
        bool corked = true;
        std::int64_t written = 0;  // frames, counted from open
        std::int64_t played = 0;
    };
    auto state = std::make_shared<State>();
    Operations operations;
    operations.output.open = [state, serverAvailable] {
        std::lock_guard lock(state->mutex);
        state->open = serverAvailable;
        return serverAvailable;
    };
    operations.output.writableFrames = [state] {
        std::lock_guard lock(state->mutex);
        if (!state->open) return 0;
        return static_cast<int>(kBufferFrames - (state->written - state->played));
    };
    operations.output.write = [state](const float*, int frames) {
        std::lock_guard lock(state->mutex);
        if (state->open) state->written += frames;
    };
    operations.output.cork = [state](bool corked) {
        std::lock_guard lock(state->mutex);
        state->corked = corked;
    };
    operations.output.flush = [state] {
        std::lock_guard lock(state->mutex);
        state->written = state->played;
    };
    operations.output.playedFrames = [state] {
        std::lock_guard lock(state->mutex);
        return state->played;
    };
    operations.output.close = [state] {
        std::lock_guard lock(state->mutex);
        state->open = false;
    };
    operations.simulatePlayed = [state](std::int64_t frames) {
        std::lock_guard lock(state->mutex);
        if (state->corked) return;
        state->played = std::min(state->written, state->played + frames);
    };
    return std::make_shared<PulsePlaybackStream>(std::move(operations));
}

PulsePlaybackStream::~PulsePlaybackStream() { close(); }

void PulsePlaybackStream::write(const float* samples, int frames) {
    if (frames <= 0) return;
    writes_.record(std::vector<float>(samples, samples + static_cast<std::ptrdiff_t>(frames) * kChannels));
    operations_.output.write(samples, frames);
}

PreviewAudioOutput PulsePlaybackStream::output(std::shared_ptr<PulsePlaybackStream> stream) {
    PreviewAudioOutput output = stream->operations_.output;
    // Writes go through the wrapper, which records them and keeps the stream open while in use.
    output.write = [stream](const float* samples, int frames) { stream->write(samples, frames); };
    return output;
}

}  // namespace yux::platform

#include "platform/audio/pulse_playback_stream.hpp"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

namespace yux::platform {

namespace {

constexpr std::size_t kBytesPerFrame = sizeof(float) * PulsePlaybackStream::kChannels;
// How long open() waits for the sound server before the player goes silent.
constexpr auto kConnectTimeout = std::chrono::seconds(3);

// The live stream. Every call takes the main loop's lock.
class LiveStream {
public:
    explicit LiveStream(std::string name) : name_(std::move(name)) {}
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
        pa_threaded_mainloop_lock(loop_);
        bool ready = pa_threaded_mainloop_start(loop_) >= 0 &&
                     pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 && waitReady();
        if (ready) ready = connectStream();
        pa_threaded_mainloop_unlock(loop_);
        if (!ready) close();
        return ready;
    }

    int writableFrames() {
        std::lock_guard guard(mutex_);
        if (stream_ == nullptr) return 0;
        Lock lock(loop_);
        std::size_t bytes = pa_stream_writable_size(stream_);
        if (bytes == static_cast<std::size_t>(-1)) return 0;
        return static_cast<int>(bytes / kBytesPerFrame);
    }

    void write(const float* samples, int frames) {
        std::lock_guard guard(mutex_);
        if (stream_ == nullptr || frames <= 0) return;
        Lock lock(loop_);
        pa_stream_write(stream_, samples, static_cast<std::size_t>(frames) * kBytesPerFrame, nullptr, 0, PA_SEEK_RELATIVE);
    }

    void cork(bool corked) {
        std::lock_guard guard(mutex_);
        if (stream_ == nullptr) return;
        Lock lock(loop_);
        await(pa_stream_cork(stream_, corked ? 1 : 0, signalLoop, loop_));
    }

    void flush() {
        std::lock_guard guard(mutex_);
        if (stream_ == nullptr) return;
        Lock lock(loop_);
        // Waited for, so the played count read next already stands where the flush left it.
        await(pa_stream_flush(stream_, signalLoop, loop_));
    }

    std::int64_t playedFrames() {
        std::lock_guard guard(mutex_);
        if (stream_ == nullptr) return lastPlayed_;
        Lock lock(loop_);
        return playedLocked();
    }

    // With both locks held.
    std::int64_t playedLocked() {
        pa_usec_t played = 0;
        // No timing information yet: the last answer stands.
        if (pa_stream_get_time(stream_, &played) == 0) {
            lastPlayed_ = static_cast<std::int64_t>(played * PulsePlaybackStream::kSampleRate / 1000000);
        }
        return lastPlayed_;
    }

    void close() {
        std::lock_guard guard(mutex_);
        if (loop_ == nullptr) return;
        pa_threaded_mainloop_lock(loop_);
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
    }

private:
    static void signalLoop(pa_stream*, int, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }

    // With the loop locked: waits until the server has done the operation.
    void await(pa_operation* operation) {
        if (operation == nullptr) return;
        while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
        pa_operation_unref(operation);
    }

    struct Lock {
        explicit Lock(pa_threaded_mainloop* loop) : loop(loop) { pa_threaded_mainloop_lock(loop); }
        ~Lock() { pa_threaded_mainloop_unlock(loop); }
        pa_threaded_mainloop* loop;
    };

    // With the loop locked. A missing server gives up after kConnectTimeout.
    bool waitReady() {
        auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
        for (;;) {
            auto state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) return true;
            if (!PA_CONTEXT_IS_GOOD(state) || std::chrono::steady_clock::now() > deadline) return false;
            pa_threaded_mainloop_wait(loop_);
        }
    }

    // With the loop locked.
    bool connectStream() {
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, PulsePlaybackStream::kSampleRate, PulsePlaybackStream::kChannels};
        stream_ = pa_stream_new(context_, name_.c_str(), &spec, nullptr);
        if (stream_ == nullptr) return false;
        pa_stream_set_state_callback(stream_, [](pa_stream*, void* loop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
        }, loop_);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = static_cast<std::uint32_t>(PulsePlaybackStream::kBufferFrames * kBytesPerFrame);
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        attributes.minreq = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(-1);
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                    PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_START_CORKED);
        if (pa_stream_connect_playback(stream_, nullptr, &attributes, flags, nullptr, nullptr) < 0) return false;
        for (;;) {
            auto state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) return true;
            if (!PA_STREAM_IS_GOOD(state)) return false;
            pa_threaded_mainloop_wait(loop_);
        }
    }

    std::string name_;
    std::mutex mutex_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::int64_t lastPlayed_ = 0;
};

}  // namespace

std::shared_ptr<PulsePlaybackStream> PulsePlaybackStream::create(std::string name) {
    auto live = std::make_shared<LiveStream>(std::move(name));
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

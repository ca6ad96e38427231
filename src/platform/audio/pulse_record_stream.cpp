#include "platform/audio/pulse_record_stream.hpp"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <optional>
#include <vector>

#include "platform/media/host_clock.hpp"

namespace yux::platform {

namespace {

// About 10 ms per fragment keeps the sound close to the pictures without waking up too often.
constexpr std::uint32_t kFragmentMilliseconds = 10;
constexpr std::uint32_t kBytesPerFrame = sizeof(float) * PulseRecordStream::kChannels;
// Buffers whose capture time is within 20 ms of where the last one ended continue it exactly.
constexpr std::int64_t kContinuityToleranceFrames = PulseRecordStream::kSampleRate / 50;
// After 100 ms without sound, silence is filled in, up to 30 ms before now.
constexpr int kSilenceCheckMilliseconds = 20;
constexpr std::int64_t kSilenceAfterFrames = PulseRecordStream::kSampleRate / 10;
constexpr std::int64_t kSilenceLagFrames = PulseRecordStream::kSampleRate * 3 / 100;

std::string serverError(pa_context* context) { return pa_strerror(pa_context_errno(context)); }

}  // namespace

struct PulseRecordStream::Impl {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    Receive receive;
    Failure failure;
    std::string source;
    std::atomic<bool> stopped{false};
    bool running = false;
    // Guarded by the main loop's lock.
    MediaTime deliveredUntil = MediaTime::invalid();
    MediaTime readyAt;
    std::thread silence;

    ~Impl() { close(); }

    void close() {
        if (loop == nullptr) return;
        stopped = true;
        if (silence.joinable()) silence.join();
        pa_threaded_mainloop_lock(loop);
        if (stream != nullptr) {
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        if (context != nullptr) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
    }

    // Waits, with the loop locked, until the operation is done.
    void await(pa_operation* operation) {
        if (operation == nullptr) return;
        while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop);
        pa_operation_unref(operation);
    }

    void connect() {
        loop = pa_threaded_mainloop_new();
        if (loop == nullptr) throw std::runtime_error("Cannot start the sound server connection.");
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Yux");
        pa_context_set_state_callback(
            context, [](pa_context*, void* self) { pa_threaded_mainloop_signal(static_cast<Impl*>(self)->loop, 0); },
            this);
        pa_threaded_mainloop_lock(loop);
        if (pa_threaded_mainloop_start(loop) < 0 ||
            pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            std::string why = serverError(context);
            pa_threaded_mainloop_unlock(loop);
            throw std::runtime_error("The sound server does not answer: " + why + ".");
        }
        for (;;) {
            auto state = pa_context_get_state(context);
            if (state == PA_CONTEXT_READY) break;
            if (!PA_CONTEXT_IS_GOOD(state)) {
                std::string why = serverError(context);
                pa_threaded_mainloop_unlock(loop);
                throw std::runtime_error("The sound server does not answer: " + why + ".");
            }
            pa_threaded_mainloop_wait(loop);
        }
        pa_threaded_mainloop_unlock(loop);
    }

    // With the loop locked.
    std::string resolveSource(const AudioSourceChoice& choice) {
        struct Answers {
            Impl* self;
            std::string defaultSink, defaultSource, monitor;
            bool found = false;
        } answers{this, {}, {}, {}};
        await(pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* data) {
                auto* a = static_cast<Answers*>(data);
                if (info != nullptr) {
                    a->defaultSink = info->default_sink_name != nullptr ? info->default_sink_name : "";
                    a->defaultSource = info->default_source_name != nullptr ? info->default_source_name : "";
                }
                pa_threaded_mainloop_signal(a->self->loop, 0);
            },
            &answers));
        if (choice.kind == AudioSourceChoice::Kind::systemPlayback) {
            if (answers.defaultSink.empty()) {
                throw AudioSourceUnavailable(choice.kind, "The sound server has no default output to record system audio from.");
            }
            await(pa_context_get_sink_info_by_name(
                context, answers.defaultSink.c_str(),
                [](pa_context*, const pa_sink_info* info, int, void* data) {
                    auto* a = static_cast<Answers*>(data);
                    if (info != nullptr && info->monitor_source_name != nullptr) a->monitor = info->monitor_source_name;
                    pa_threaded_mainloop_signal(a->self->loop, 0);
                },
                &answers));
            if (answers.monitor.empty()) {
                throw AudioSourceUnavailable(choice.kind, "The default sound output has no monitor to record system audio from.");
            }
            return answers.monitor;
        }
        std::string name = choice.sourceName.empty() ? answers.defaultSource : choice.sourceName;
        if (!name.empty()) {
            await(pa_context_get_source_info_by_name(
                context, name.c_str(),
                [](pa_context*, const pa_source_info* info, int, void* data) {
                    auto* a = static_cast<Answers*>(data);
                    if (info != nullptr) a->found = true;
                    pa_threaded_mainloop_signal(a->self->loop, 0);
                },
                &answers));
        }
        if (!answers.found) {
            throw AudioSourceUnavailable(choice.kind, "The sound server has no source named \"" + name + "\".");
        }
        return name;
    }

    // Hands on `frameCount` frames at `bytes`, keeping the timeline continuous: a buffer that
    // starts close to where the last one ended is placed right there (so jitter of the
    // arrival time never makes clicks), one that starts later leaves a gap, and one that
    // starts earlier loses the part already covered (by silence filled in meanwhile).
    void deliver(MediaTime captured, const std::uint8_t* bytes, std::int64_t frameCount) {
        MediaTime start = captured.convertedTo(kSampleRate);
        if (deliveredUntil.isValid()) {
            std::int64_t drift = start.value - deliveredUntil.value;
            if (std::llabs(drift) <= kContinuityToleranceFrames) {
                start = deliveredUntil;
            } else if (drift < 0) {
                if (-drift >= frameCount) return;
                bytes += -drift * kBytesPerFrame;
                frameCount += drift;
                start = deliveredUntil;
            }
        }
        if (frameCount <= 0) return;
        auto copy = std::make_shared<std::vector<std::uint8_t>>(bytes, bytes + frameCount * kBytesPerFrame);
        SampleBuffer sample;
        sample.presentationTime = start;
        sample.duration = MediaTime(frameCount, kSampleRate);
        sample.payload = AudioBuffer{AudioSampleFormat::float32, kSampleRate, kChannels, std::move(copy)};
        deliveredUntil = start + sample.duration;
        if (receive) receive(std::move(sample));
    }

    void onReadable() {
        while (!stopped && pa_stream_readable_size(stream) > 0) {
            // Everything readable now was captured before this moment, back to back, so the
            // first frame read now was captured that long ago. The latency the server reports
            // is of no use here: for a monitor (and a remap of one) it is the output's queue,
            // which says when the sound will be heard, not when it was captured.
            std::size_t waiting = pa_stream_readable_size(stream);
            MediaTime captured =
                hostTimeNow() - MediaTime(static_cast<std::int64_t>(waiting / kBytesPerFrame), kSampleRate);

            const void* data = nullptr;
            std::size_t length = 0;
            if (pa_stream_peek(stream, &data, &length) < 0 || length == 0) return;
            if (data != nullptr) {
                deliver(captured, static_cast<const std::uint8_t*>(data),
                        static_cast<std::int64_t>(length / kBytesPerFrame));
            }
            pa_stream_drop(stream);
        }
    }

    // An idle output's monitor (or an idle virtual source) sends nothing at all; the
    // recording still wants its timeline, so after a while without sound, silence is
    // delivered up to shortly before now.
    void fillSilence() {
        while (!stopped) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kSilenceCheckMilliseconds));
            pa_threaded_mainloop_lock(loop);
            if (!stopped) {
                MediaTime now = hostTimeNow().convertedTo(kSampleRate);
                MediaTime from = deliveredUntil.isValid() ? deliveredUntil : readyAt;
                std::int64_t quiet = now.value - from.value;
                if (quiet > kSilenceAfterFrames) {
                    std::int64_t frames = quiet - kSilenceLagFrames;
                    std::vector<std::uint8_t> zeros(static_cast<std::size_t>(frames) * kBytesPerFrame, 0);
                    deliver(from, zeros.data(), frames);
                }
            }
            pa_threaded_mainloop_unlock(loop);
        }
    }

    void openStream() {
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kSampleRate, kChannels};
        pa_channel_map map;
        pa_channel_map_init_stereo(&map);
        stream = pa_stream_new(context, "Yux recording", &spec, &map);
        if (stream == nullptr) throw std::runtime_error("Cannot create a sound record stream: " + serverError(context) + ".");
        pa_stream_set_state_callback(
            stream,
            [](pa_stream* s, void* self) {
                auto* impl = static_cast<Impl*>(self);
                if (impl->running && pa_stream_get_state(s) == PA_STREAM_FAILED && impl->failure && !impl->stopped) {
                    impl->failure("The sound record stream failed: " + serverError(impl->context) + ".");
                }
                pa_threaded_mainloop_signal(impl->loop, 0);
            },
            this);
        pa_stream_set_read_callback(
            stream, [](pa_stream*, std::size_t, void* self) { static_cast<Impl*>(self)->onReadable(); }, this);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = kSampleRate * kFragmentMilliseconds / 1000 * kBytesPerFrame;
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                                    PA_STREAM_INTERPOLATE_TIMING);
        if (pa_stream_connect_record(stream, source.c_str(), &attributes, flags) < 0) {
            throw std::runtime_error("Cannot record from \"" + source + "\": " + serverError(context) + ".");
        }
        for (;;) {
            auto state = pa_stream_get_state(stream);
            if (state == PA_STREAM_READY) break;
            if (!PA_STREAM_IS_GOOD(state)) {
                throw std::runtime_error("Cannot record from \"" + source + "\": " + serverError(context) + ".");
            }
            pa_threaded_mainloop_wait(loop);
        }
        running = true;
        readyAt = hostTimeNow().convertedTo(kSampleRate);
        silence = std::thread([this] { fillSilence(); });
    }
};

PulseRecordStream::PulseRecordStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PulseRecordStream::~PulseRecordStream() { stop(); }

std::unique_ptr<PulseRecordStream> PulseRecordStream::start(const AudioSourceChoice& source, Receive receive,
                                                            Failure failure) {
    auto impl = std::make_unique<Impl>();
    impl->receive = std::move(receive);
    impl->failure = std::move(failure);
    impl->connect();
    pa_threaded_mainloop_lock(impl->loop);
    try {
        impl->source = impl->resolveSource(source);
        impl->openStream();
    } catch (...) {
        pa_threaded_mainloop_unlock(impl->loop);
        throw;
    }
    pa_threaded_mainloop_unlock(impl->loop);
    return std::unique_ptr<PulseRecordStream>(new PulseRecordStream(std::move(impl)));
}

void PulseRecordStream::stop() {
    if (impl_) impl_->close();
}

const std::string& PulseRecordStream::sourceName() const { return impl_->source; }

}  // namespace yux::platform

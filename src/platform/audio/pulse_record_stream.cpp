#include "platform/audio/pulse_record_stream.hpp"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/audio/pulse_deadline.hpp"
#include "platform/media/host_clock.hpp"

namespace yux::platform {

namespace {

// About 10 ms per fragment keeps the sound close to the pictures without waking up too often.
constexpr std::uint32_t kFragmentMilliseconds = 10;
constexpr std::uint32_t kBytesPerFrame = sizeof(float) * PulseRecordStream::kChannels;
// Buffers whose capture time is within 20 ms of where the last one ended continue it exactly.
constexpr std::int64_t kContinuityToleranceFrames = PulseRecordStream::kSampleRate / 50;
// How often the stream looks whether silence is due or a lost source is back.
constexpr int kCheckMilliseconds = 20;
// Silence is filled in only once 100 ms of it are due, so the short pauses between the
// buffers of a running source are never filled.
constexpr std::int64_t kSilenceAfterFrames = PulseRecordStream::kSampleRate / 10;
// A source hands on its sound in blocks of about a fragment; the last block before the
// server says it holds nothing more (or before a suspension) may have been captured up to
// this long before that answer, so silence stays this far behind it.
constexpr std::int64_t kSilenceLagMilliseconds = 30;
// The most sound the server queues for this stream; more is dropped there (an overrun). Our
// own queue holds as much again, so no buffer can ever arrive later than twice this after it
// was captured: silence that far behind can never cover real sound.
constexpr std::uint32_t kServerQueueMilliseconds = 2000;
constexpr std::int64_t kLateBufferLimitMilliseconds = 2 * kServerQueueMilliseconds;
// Between two attempts to reach a lost source or sound server again.
constexpr std::int64_t kReconnectIntervalMilliseconds = 500;
// A running sound server answers within milliseconds, a busy one within a second; one that has
// stopped never does. So that a start fails with its cause within seconds, it gives up on the
// server after these: connecting (the server's greeting and authentication),
constexpr std::chrono::seconds kConnectTimeout{3};
// each question about its outputs and sources,
constexpr std::chrono::seconds kAnswerTimeout{3};
// and setting up the record stream.
constexpr std::chrono::seconds kStreamReadyTimeout{3};

PulseDeadline deadlineAfter(std::chrono::seconds limit) { return std::chrono::steady_clock::now() + limit; }

MediaTime milliseconds(std::int64_t count) { return {count, 1000}; }

std::string serverError(pa_context* context) { return pa_strerror(pa_context_errno(context)); }

}  // namespace

MediaTime recordedCaptureTime(MediaTime readAt, std::int64_t waitingFrames, std::int32_t sampleRate, bool hardware,
                              MediaTime sourceLatency) {
    MediaTime captured = readAt - MediaTime(waitingFrames, sampleRate);
    if (hardware && sourceLatency.isValid()) captured = captured - sourceLatency;
    return captured;
}

MediaTime silenceFillEnd(MediaTime now, const SourceQuiet& quiet) {
    const MediaTime lateLimit = now - milliseconds(kLateBufferLimitMilliseconds);
    switch (quiet.kind) {
    case SourceQuiet::Kind::gone:
        return now;
    case SourceQuiet::Kind::suspended:
        return now - milliseconds(kSilenceLagMilliseconds);
    case SourceQuiet::Kind::drained:
        if (!quiet.drainedAt.isValid()) return lateLimit;
        return std::max(std::min(quiet.drainedAt, now) - milliseconds(kSilenceLagMilliseconds), lateLimit);
    case SourceQuiet::Kind::unknown:
        break;
    }
    return lateLimit;
}

struct PulseRecordStream::Impl {
    // How the stream stands with its source.
    enum class Link { live, lost, connectingContext, connectingStream };

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    Receive receive;
    Failure failure;
    Log log;
    std::string server;  // the server first connected to
    std::string source;
    // A microphone stays on its source: one that is unplugged is never silently replaced.
    bool keepToSource = false;
    // System audio follows the default output: the monitor of whichever sink is the default.
    bool followsDefaultSink = false;
    std::string defaultSink;
    bool hardware = false;
    std::atomic<bool> stopped{false};
    std::thread supervisor;
    // What the failures of the start are reported as.
    AudioSourceChoice::Kind kind = AudioSourceChoice::Kind::systemPlayback;

    // Guarded by the main loop's lock.
    // Whether the source has sound on its way at the start (awaitSound waits for it), and
    // whether any has come.
    bool soundDue = true;
    bool soundCame = false;
    bool started = false;
    Link link = Link::live;
    std::string lostBecause;
    bool failureReported = false;
    MediaTime nextAttempt;
    RecordedTimeline timeline{[this](SampleBuffer sample) {
        if (receive) receive(std::move(sample));
    }};
    MediaTime streamAskedAt;
    MediaTime drainedAt = MediaTime::invalid();
    MediaTime timingAskedAt = MediaTime::invalid();
    bool timingPending = false;

    ~Impl() { close(); }

    void close() {
        if (loop == nullptr) return;
        stopped = true;
        if (supervisor.joinable()) supervisor.join();
        pa_threaded_mainloop_lock(loop);
        if (started) {
            // What the source recorded up to now, then silence to the stop: the track ends
            // where the recording ends.
            if (link == Link::live) readAll();
            dropStream();
            fill(hostTimeNow(), 0);
        }
        dropStream();
        dropContext();
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
    }

    void dropStream() {
        if (stream == nullptr) return;
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
        timingPending = false;
        drainedAt = MediaTime::invalid();
    }

    void dropContext() {
        if (context == nullptr) return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    [[noreturn]] void fail(const std::string& message) const { throw AudioSourceFailed(kind, message); }

    // Waits, with the loop locked, until the server has answered the question. A server that
    // went away meanwhile answers nothing, which is not a missing source.
    void await(pa_operation* operation) {
        if (!awaitOperationLocked(loop, context, operation, deadlineAfter(kAnswerTimeout))) {
            fail(noAnswerMessage(kAnswerTimeout));
        }
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
            fail("The sound server does not answer: " + serverError(context) + ".");
        }
    }

    // With the loop locked. Starts connecting; false when that fails at once.
    bool newContext() {
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Yux");
        if (context == nullptr) return false;
        pa_context_set_state_callback(
            context,
            [](pa_context* c, void* self) {
                auto* impl = static_cast<Impl*>(self);
                auto state = pa_context_get_state(c);
                if (impl->started && impl->link == Link::live && !PA_CONTEXT_IS_GOOD(state)) {
                    impl->lose(serverError(c));
                }
                pa_threaded_mainloop_signal(impl->loop, 0);
            },
            this);
        return pa_context_connect(context, server.empty() ? nullptr : server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    }

    // With the loop locked.
    void connect() {
        if (pa_threaded_mainloop_start(loop) < 0 || !newContext()) {
            const std::string why = context != nullptr ? serverError(context) : "out of memory";
            fail("The sound server does not answer: " + why + ".");
        }
        const auto settled = [this] {
            auto state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        };
        if (!waitLocked(loop, context, settled, deadlineAfter(kConnectTimeout))) fail(noAnswerMessage(kConnectTimeout));
        if (pa_context_get_state(context) != PA_CONTEXT_READY) {
            fail("The sound server does not answer: " + serverError(context) + ".");
        }
        // Connections again go to this same server.
        if (const char* name = pa_context_get_server(context)) server = name;
    }

    // With the loop locked.
    std::string resolveSource(const AudioSourceChoice& choice) {
        struct Answers {
            Impl* self;
            std::string defaultSink, defaultSource, monitor;
            bool found = false;
            bool hardware = false;
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
        std::string name;
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
            name = answers.monitor;
            defaultSink = answers.defaultSink;
        } else {
            name = choice.sourceName.empty() ? answers.defaultSource : choice.sourceName;
        }
        if (!name.empty()) {
            await(pa_context_get_source_info_by_name(
                context, name.c_str(),
                [](pa_context*, const pa_source_info* info, int, void* data) {
                    auto* a = static_cast<Answers*>(data);
                    if (info != nullptr) {
                        a->found = true;
                        a->hardware = (info->flags & PA_SOURCE_HARDWARE) != 0;
                    }
                    pa_threaded_mainloop_signal(a->self->loop, 0);
                },
                &answers));
        }
        if (!answers.found) {
            throw AudioSourceUnavailable(choice.kind, "The sound server has no source named \"" + name + "\".");
        }
        soundDue = soundOnItsWay(name);
        hardware = answers.hardware;
        keepToSource = choice.kind == AudioSourceChoice::Kind::namedSource;
        followsDefaultSink = choice.kind == AudioSourceChoice::Kind::systemPlayback;
        return name;
    }

    // With the loop locked: whether the source may have sound on its way. An output that plays
    // nothing has none for its monitor, nor for a source that filters that monitor (a remap).
    // Nor has a suspended source: nothing was mixed ahead for it. One the user suspended sends
    // nothing (PipeWire does not tell its streams so); one suspended while idle wakes for this
    // stream, and its sound comes as it is captured.
    bool soundOnItsWay(const std::string& name) {
        constexpr int kFilterDepth = 4;  // sources built on sources, followed this far
        struct Answers {
            Impl* self;
            std::uint32_t monitoredSink = PA_INVALID_INDEX;
            std::string master;
            bool suspended = false;
            bool plays = true;
        };
        std::string current = name;
        for (int depth = 0; depth < kFilterDepth; ++depth) {
            Answers answers{this, PA_INVALID_INDEX, {}, false, true};
            await(pa_context_get_source_info_by_name(
                context, current.c_str(),
                [](pa_context*, const pa_source_info* info, int, void* data) {
                    auto* a = static_cast<Answers*>(data);
                    if (info != nullptr) {
                        a->monitoredSink = info->monitor_of_sink;
                        a->suspended = info->state == PA_SOURCE_SUSPENDED;
                        if (const char* master = pa_proplist_gets(info->proplist, PA_PROP_DEVICE_MASTER_DEVICE)) {
                            a->master = master;
                        }
                    }
                    pa_threaded_mainloop_signal(a->self->loop, 0);
                },
                &answers));
            if (answers.suspended) return false;
            if (answers.monitoredSink != PA_INVALID_INDEX) {
                await(pa_context_get_sink_info_by_index(
                    context, answers.monitoredSink,
                    [](pa_context*, const pa_sink_info* info, int, void* data) {
                        auto* a = static_cast<Answers*>(data);
                        if (info != nullptr) a->plays = info->state == PA_SINK_RUNNING;
                        pa_threaded_mainloop_signal(a->self->loop, 0);
                    },
                    &answers));
                return answers.plays;
            }
            if (answers.master.empty() || answers.master == current) return true;
            current = answers.master;
        }
        return true;
    }

    // With the loop locked, on a ready context: hears of changes of the server's default sink.
    void followDefaultSink() {
        if (!followsDefaultSink || context == nullptr) return;
        pa_context_set_subscribe_callback(
            context,
            [](pa_context*, pa_subscription_event_type_t event, std::uint32_t, void* self) {
                if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
                    static_cast<Impl*>(self)->checkDefaultSink();
                }
            },
            this);
        if (auto* operation = pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
        // The default may have changed while this connection was being made.
        checkDefaultSink();
    }

    // On the loop: asks for the default sink; when it changed, records its monitor instead.
    void checkDefaultSink() {
        if (context == nullptr) return;
        auto* operation = pa_context_get_server_info(
            context,
            [](pa_context* c, const pa_server_info* info, void* self) {
                auto* impl = static_cast<Impl*>(self);
                if (info == nullptr || info->default_sink_name == nullptr) return;
                std::string sink = info->default_sink_name;
                if (sink == impl->defaultSink || sink.empty()) return;
                impl->defaultSink = sink;
                if (auto* next = pa_context_get_sink_info_by_name(c, sink.c_str(), &Impl::sinkFound, self)) {
                    pa_operation_unref(next);
                }
            },
            this);
        if (operation != nullptr) pa_operation_unref(operation);
    }

    static void sinkFound(pa_context*, const pa_sink_info* info, int, void* self) {
        auto* impl = static_cast<Impl*>(self);
        if (info == nullptr || info->monitor_source_name == nullptr) return;
        if (info->name == nullptr || impl->defaultSink != info->name) return;  // an older answer
        std::string monitor = info->monitor_source_name;
        if (monitor == impl->source) return;
        impl->source = monitor;
        impl->hardware = false;
        // A stream that is lost or connecting picks the new source up when it connects.
        if (impl->link == Link::live) impl->moveToSource();
        if (impl->log) impl->log("capture_source_moved source=" + monitor);
    }

    // With the loop locked: a live stream recording elsewhere than `source` moves there.
    void moveToSource() {
        if (stream == nullptr || context == nullptr) return;
        const char* device = pa_stream_get_device_name(stream);
        if (device != nullptr && source == device) return;
        if (auto* move = pa_context_move_source_output_by_name(context, pa_stream_get_index(stream), source.c_str(),
                                                               nullptr, nullptr)) {
            pa_operation_unref(move);
        }
    }

    // With the loop locked: silence from where the timeline ends up to `end`, once at least
    // `minimumFrames` are due.
    void fill(MediaTime end, std::int64_t minimumFrames) { timeline.fillSilence(end, minimumFrames); }

    void readAll() {
        while (stream != nullptr && pa_stream_readable_size(stream) > 0) {
            std::size_t waiting = pa_stream_readable_size(stream);
            const pa_timing_info* timing = hardware ? pa_stream_get_timing_info(stream) : nullptr;
            MediaTime latency = timing != nullptr ? MediaTime(static_cast<std::int64_t>(timing->source_usec), 1'000'000)
                                                  : MediaTime::zero();
            MediaTime captured = recordedCaptureTime(hostTimeNow(), static_cast<std::int64_t>(waiting / kBytesPerFrame),
                                                     kSampleRate, hardware, latency);
            const void* data = nullptr;
            std::size_t length = 0;
            if (pa_stream_peek(stream, &data, &length) < 0 || length == 0) return;
            if (data != nullptr) {
                timeline.addReal(captured, static_cast<const std::uint8_t*>(data),
                                 static_cast<std::int64_t>(length / kBytesPerFrame), hostTimeNow());
                drainedAt = MediaTime::invalid();
            }
            pa_stream_drop(stream);
            if (!soundCame) {
                soundCame = true;
                pa_threaded_mainloop_signal(loop, 0);
            }
        }
    }

    // With the loop locked.
    void awaitSound(std::chrono::steady_clock::time_point deadline) {
        if (!started || pa_stream_is_suspended(stream) == 1) return;
        // The supervisor wakes this wait at every check, so the deadline is seen in time.
        while (soundDue && !soundCame && link == Link::live && std::chrono::steady_clock::now() < deadline) {
            pa_threaded_mainloop_wait(loop);
        }
    }

    // With the loop locked: the stream no longer records.
    void lose(const std::string& why) {
        if (link != Link::live) return;
        link = Link::lost;
        lostBecause = why;
        nextAttempt = hostTimeNow() + milliseconds(kReconnectIntervalMilliseconds);
    }

    // With the loop locked. Creates the stream and starts connecting it; false when that
    // fails at once.
    bool newStream() {
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kSampleRate, kChannels};
        pa_channel_map map;
        pa_channel_map_init_stereo(&map);
        stream = pa_stream_new(context, "Yux recording", &spec, &map);
        if (stream == nullptr) return false;
        streamAskedAt = hostTimeNow();
        pa_stream_set_state_callback(
            stream,
            [](pa_stream* s, void* self) {
                auto* impl = static_cast<Impl*>(self);
                if (impl->started && impl->link == Link::live && !PA_STREAM_IS_GOOD(pa_stream_get_state(s))) {
                    impl->lose(serverError(impl->context));
                }
                pa_threaded_mainloop_signal(impl->loop, 0);
            },
            this);
        pa_stream_set_read_callback(
            stream,
            [](pa_stream*, std::size_t, void* self) {
                auto* impl = static_cast<Impl*>(self);
                if (impl->link == Link::live) impl->readAll();
            },
            this);
        pa_buffer_attr attributes{};
        attributes.maxlength = kSampleRate * kServerQueueMilliseconds / 1000 * kBytesPerFrame;
        attributes.fragsize = kSampleRate * kFragmentMilliseconds / 1000 * kBytesPerFrame;
        auto flags = PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING;
        if (keepToSource) flags |= PA_STREAM_DONT_MOVE;
        return pa_stream_connect_record(stream, source.c_str(), &attributes, static_cast<pa_stream_flags_t>(flags)) >= 0;
    }

    // With the loop locked.
    void openStream() {
        if (!newStream()) fail("Cannot record from \"" + source + "\": " + serverError(context) + ".");
        const auto settled = [this] {
            auto state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        };
        if (!waitLocked(loop, context, settled, deadlineAfter(kStreamReadyTimeout))) {
            fail(noAnswerMessage(kStreamReadyTimeout));
        }
        if (pa_stream_get_state(stream) != PA_STREAM_READY) {
            fail("Cannot record from \"" + source + "\": " + serverError(context) + ".");
        }
        started = true;
        link = Link::live;
        timeline.begin(hostTimeNow());
        supervisor = std::thread([this] { supervise(); });
    }

    // With the loop locked: asks the server whether it holds any sound for this stream; the
    // answer tells how far silence may be filled.
    void askWhetherDrained() {
        if (timingPending || stream == nullptr) return;
        timingPending = true;
        timingAskedAt = hostTimeNow();
        pa_operation* operation = pa_stream_update_timing_info(
            stream,
            [](pa_stream* s, int success, void* self) {
                auto* impl = static_cast<Impl*>(self);
                impl->timingPending = false;
                const pa_timing_info* timing = success != 0 ? pa_stream_get_timing_info(s) : nullptr;
                // What the server took in for us, less what reached this side and was read.
                bool drained = timing != nullptr && timing->write_index_corrupt == 0 &&
                               timing->read_index_corrupt == 0 && timing->write_index <= timing->read_index &&
                               pa_stream_readable_size(s) == 0;
                impl->drainedAt = drained ? impl->timingAskedAt : MediaTime::invalid();
            },
            this);
        if (operation == nullptr) {
            timingPending = false;
        } else {
            pa_operation_unref(operation);
        }
    }

    // With the loop locked: gives up this attempt (and the server connection, when that is
    // what failed); the next one comes a while later.
    void retryLater(MediaTime now, bool serverFailed = false) {
        dropStream();
        if (serverFailed) dropContext();
        link = Link::lost;
        nextAttempt = now + milliseconds(kReconnectIntervalMilliseconds);
    }

    // With the loop locked, on a ready context.
    void connectStream(MediaTime now) {
        if (newStream()) {
            link = Link::connectingStream;
        } else {
            retryLater(now);
        }
    }

    // With the loop locked: one step towards recording again.
    void reconnect(MediaTime now) {
        if (now < nextAttempt) return;
        switch (link) {
        case Link::lost:
            dropStream();
            if (context != nullptr && pa_context_get_state(context) == PA_CONTEXT_READY) {
                connectStream(now);
                break;
            }
            // The server itself went away: a new connection first.
            dropContext();
            if (newContext()) {
                link = Link::connectingContext;
            } else {
                retryLater(now, true);
            }
            break;
        case Link::connectingContext: {
            auto state = pa_context_get_state(context);
            if (state == PA_CONTEXT_READY) {
                followDefaultSink();
                connectStream(now);
            } else if (!PA_CONTEXT_IS_GOOD(state)) {
                retryLater(now, true);
            }
            break;
        }
        case Link::connectingStream: {
            auto state = pa_stream_get_state(stream);
            if (state == PA_STREAM_READY) {
                link = Link::live;
                failureReported = false;
                timeline.statistics().reconnections += 1;
                if (log) log("capture_source_resumed source=" + source);
                moveToSource();  // the default output may have changed while it connected
            } else if (!PA_STREAM_IS_GOOD(state)) {
                retryLater(now);
            }
            break;
        }
        case Link::live:
            break;
        }
    }

    // Fills silence where it is due, reports a lost source once and connects again.
    void supervise() {
        while (!stopped) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kCheckMilliseconds));
            pa_threaded_mainloop_lock(loop);
            pa_threaded_mainloop_signal(loop, 0);
            if (!stopped) {
                MediaTime now = hostTimeNow();
                if (link == Link::live && timeline.isHolding(now)) {
                    // Sound held back to learn when it started: no silence over its time yet.
                } else if (link == Link::live) {
                    SourceQuiet quiet;
                    if (pa_stream_is_suspended(stream) == 1) {
                        quiet.kind = SourceQuiet::Kind::suspended;
                    } else if (drainedAt.isValid()) {
                        quiet = {SourceQuiet::Kind::drained, drainedAt};
                    }
                    fill(silenceFillEnd(now, quiet), kSilenceAfterFrames);
                    if (now - timeline.end() > milliseconds(kCheckMilliseconds)) askWhetherDrained();
                } else {
                    if (!failureReported) {
                        failureReported = true;
                        timeline.statistics().failures += 1;
                        if (failure) {
                            failure("Recording from the sound source \"" + source + "\" stopped: " + lostBecause +
                                    ". Silence is recorded until it is back.");
                        }
                    }
                    // Nothing of a lost stream can still arrive; a stream that is connecting
                    // may record from the moment it was asked for.
                    fill(link == Link::connectingStream ? streamAskedAt : silenceFillEnd(now, {SourceQuiet::Kind::gone, {}}),
                         0);
                    reconnect(now);
                }
            }
            pa_threaded_mainloop_unlock(loop);
        }
    }
};

void RecordedTimeline::begin(MediaTime origin) { origin_ = origin.convertedTo(PulseRecordStream::kSampleRate); }

MediaTime RecordedTimeline::end() const { return deliveredUntil_.isValid() ? deliveredUntil_ : origin_; }

bool RecordedTimeline::isHolding(MediaTime now) const {
    return !held_.empty() && now - heldSince_ < milliseconds(kLateStampHoldMilliseconds);
}

void RecordedTimeline::addReal(MediaTime captured, const std::uint8_t* bytes, std::int64_t frameCount, MediaTime now) {
    if (frameCount <= 0) return;
    MediaTime stamp = captured.convertedTo(PulseRecordStream::kSampleRate);
    if (!held_.empty()) {
        auto heldFrames = static_cast<std::int64_t>(held_.size() / kBytesPerFrame);
        // Where the held run started, if this buffer follows it without a break.
        MediaTime start = stamp - MediaTime(heldFrames, PulseRecordStream::kSampleRate);
        if (start.value - heldStart_.value <= kContinuityToleranceFrames) {
            heldStart_ = std::min(heldStart_, start);
            held_.insert(held_.end(), bytes, bytes + frameCount * kBytesPerFrame);
            return;
        }
        // A break after the held run: it is complete.
        release();
    }
    if (deliveredUntil_.isValid() && !lastWasSilence_ &&
        stamp.value - deliveredUntil_.value > kContinuityToleranceFrames) {
        held_.assign(bytes, bytes + frameCount * kBytesPerFrame);
        heldStart_ = stamp;
        heldSince_ = now;
        return;
    }
    deliver(stamp, bytes, frameCount, true);
}

void RecordedTimeline::release() {
    if (held_.empty()) return;
    auto bytes = std::move(held_);
    held_.clear();
    // At the earliest start its blocks imply, as any buffer: where the sound before it was
    // stamped late and reaches over that start, the overlap is cut here. Kept whole, the run
    // would end after it was read, and the next buffer would lose the overlap instead.
    deliver(heldStart_, bytes.data(), static_cast<std::int64_t>(bytes.size() / kBytesPerFrame), true);
}

void RecordedTimeline::fillSilence(MediaTime end, std::int64_t minimumFrames) {
    release();
    MediaTime from = this->end();
    std::int64_t frames = end.convertedTo(PulseRecordStream::kSampleRate).value - from.value;
    if (frames <= 0 || frames < minimumFrames) return;
    std::vector<std::uint8_t> zeros(static_cast<std::size_t>(frames) * kBytesPerFrame, 0);
    deliver(from, zeros.data(), frames, false);
}

void RecordedTimeline::deliver(MediaTime start, const std::uint8_t* bytes, std::int64_t frameCount, bool real) {
    constexpr int kSampleRate = PulseRecordStream::kSampleRate;
    start = start.convertedTo(kSampleRate);
    if (deliveredUntil_.isValid()) {
        std::int64_t drift = start.value - deliveredUntil_.value;
        if (std::llabs(drift) <= kContinuityToleranceFrames) {
            start = deliveredUntil_;
        } else if (drift < 0) {
            std::int64_t covered = std::min(-drift, frameCount);
            if (real) (lastWasSilence_ ? statistics_.realFramesCut : statistics_.realFramesOverlapped) += covered;
            if (covered >= frameCount) return;
            bytes += covered * kBytesPerFrame;
            frameCount -= covered;
            start = deliveredUntil_;
        }
    }
    if (frameCount <= 0) return;
    (real ? statistics_.realFrames : statistics_.silenceFrames) += frameCount;
    auto copy = std::make_shared<std::vector<std::uint8_t>>(bytes, bytes + frameCount * kBytesPerFrame);
    SampleBuffer sample;
    sample.presentationTime = start;
    sample.duration = MediaTime(frameCount, kSampleRate);
    sample.payload = AudioBuffer{AudioSampleFormat::float32, kSampleRate, PulseRecordStream::kChannels, std::move(copy)};
    deliveredUntil_ = start + sample.duration;
    lastWasSilence_ = !real;
    if (emit_) emit_(std::move(sample));
}

PulseRecordStream::PulseRecordStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PulseRecordStream::~PulseRecordStream() { stop(); }

std::unique_ptr<PulseRecordStream> PulseRecordStream::start(const AudioSourceChoice& source, Receive receive,
                                                            Failure failure, Log log) {
    auto impl = std::make_unique<Impl>();
    impl->receive = std::move(receive);
    impl->failure = std::move(failure);
    impl->log = std::move(log);
    impl->kind = source.kind;
    impl->loop = pa_threaded_mainloop_new();
    if (impl->loop == nullptr) impl->fail("Cannot start the sound server connection.");
    pa_threaded_mainloop_lock(impl->loop);
    try {
        impl->connect();
        impl->source = impl->resolveSource(source);
        impl->openStream();
        impl->followDefaultSink();
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

void PulseRecordStream::awaitSound(std::chrono::steady_clock::time_point deadline) {
    if (impl_->loop == nullptr) return;
    pa_threaded_mainloop_lock(impl_->loop);
    impl_->awaitSound(deadline);
    pa_threaded_mainloop_unlock(impl_->loop);
}

std::string PulseRecordStream::sourceName() const {
    if (impl_->loop == nullptr) return impl_->source;
    pa_threaded_mainloop_lock(impl_->loop);
    std::string name = impl_->source;
    pa_threaded_mainloop_unlock(impl_->loop);
    return name;
}

PulseRecordStream::Statistics PulseRecordStream::statistics() const {
    if (impl_->loop == nullptr) return impl_->timeline.statistics();
    pa_threaded_mainloop_lock(impl_->loop);
    Statistics copy = impl_->timeline.statistics();
    pa_threaded_mainloop_unlock(impl_->loop);
    return copy;
}

}  // namespace yux::platform

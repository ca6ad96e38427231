#include "platform/audio/pulse_source_directory.hpp"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/async/locked.hpp"

namespace yux::platform {

namespace {

// How long opening a meter waits for its stream before giving up.
constexpr std::chrono::seconds kMeterStartTimeout{2};
// About 20 ms per fragment: levels stay fresh without waking the server often.
constexpr std::uint32_t kMeterFragmentMilliseconds = 20;

std::string serverError(pa_context* context) { return pa_strerror(pa_context_errno(context)); }

}  // namespace

std::vector<float> channelDecibels(const std::vector<float>& interleaved, int channels) {
    std::vector<float> result;
    if (channels <= 0) return result;
    std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
    for (int c = 0; c < channels; ++c) {
        double sum = 0;
        for (std::size_t i = 0; i < frames; ++i) {
            double v = interleaved[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
            sum += v * v;
        }
        double rms = frames > 0 ? std::sqrt(sum / static_cast<double>(frames)) : 0;
        float db = rms > 0 ? static_cast<float>(20 * std::log10(rms)) : PulseLevelMeter::kSilenceDecibels;
        result.push_back(std::max(db, PulseLevelMeter::kSilenceDecibels));
    }
    return result;
}

struct PulseSourceDirectory::Core {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    Locked<std::vector<PulseSource>> sources;
    std::atomic<bool> connected{false};
    std::atomic<bool> closing{false};
    pa_time_event* retry = nullptr;

    mutable std::mutex listedMutex;
    mutable std::condition_variable listedChanged;
    bool listed = false;

    ~Core() {
        if (loop == nullptr) return;
        closing = true;
        pa_threaded_mainloop_lock(loop);
        if (retry != nullptr) {
            pa_threaded_mainloop_get_api(loop)->time_free(retry);
            retry = nullptr;
        }
        dropContext();
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }

    // With the loop locked.
    void dropContext() {
        if (context == nullptr) return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    // With the loop locked.
    void connect() {
        dropContext();
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Yux");
        if (context == nullptr) {
            scheduleRetry();
            return;
        }
        pa_context_set_state_callback(context, [](pa_context* c, void* self) { static_cast<Core*>(self)->onState(c); },
                                      this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) scheduleRetry();
    }

    void scheduleRetry() {
        if (closing || retry != nullptr) return;
        timeval when{};
        pa_gettimeofday(&when);
        pa_timeval_add(&when, std::chrono::duration_cast<std::chrono::microseconds>(kRetryInterval).count());
        retry = pa_threaded_mainloop_get_api(loop)->time_new(
            pa_threaded_mainloop_get_api(loop), &when,
            [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* self) {
                auto* core = static_cast<Core*>(self);
                api->time_free(event);
                core->retry = nullptr;
                if (!core->closing) core->connect();
            },
            this);
    }

    void onState(pa_context* c) {
        auto state = pa_context_get_state(c);
        if (state == PA_CONTEXT_READY) {
            connected = true;
            pa_context_set_subscribe_callback(
                c,
                [](pa_context*, pa_subscription_event_type_t, std::uint32_t, void* self) {
                    static_cast<Core*>(self)->requestListing();
                },
                this);
            pa_operation_unref(pa_context_subscribe(c, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr));
            requestListing();
        } else if (!PA_CONTEXT_IS_GOOD(state)) {
            connected = false;
            sources.with([](auto& all) { all.clear(); });
            pa_threaded_mainloop_signal(loop, 0);
            scheduleRetry();
        }
        pa_threaded_mainloop_signal(loop, 0);
    }

    struct Listing {
        Core* core;
        std::vector<PulseSource> found;
    };

    // With the loop locked: the whole list again, which is small.
    void requestListing() {
        if (context == nullptr) return;
        auto* listing = new Listing{this, {}};
        auto* operation = pa_context_get_source_info_list(
            context,
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* listing = static_cast<Listing*>(data);
                if (eol == 0 && info != nullptr) {
                    if (info->monitor_of_sink == PA_INVALID_INDEX) {
                        listing->found.push_back({info->name != nullptr ? info->name : "",
                                                  info->description != nullptr ? info->description : "",
                                                  std::max<int>(1, info->channel_map.channels)});
                    }
                    return;
                }
                if (eol > 0) listing->core->publish(std::move(listing->found));
                delete listing;
            },
            listing);
        if (operation == nullptr) {
            delete listing;
            return;
        }
        pa_operation_unref(operation);
    }

    void publish(std::vector<PulseSource> found) {
        sources.with([&](auto& all) { all = std::move(found); });
        {
            std::lock_guard lock(listedMutex);
            listed = true;
        }
        listedChanged.notify_all();
    }
};

std::shared_ptr<PulseSourceDirectory> PulseSourceDirectory::start() {
    auto core = std::make_shared<Core>();
    core->loop = pa_threaded_mainloop_new();
    if (core->loop == nullptr) throw std::runtime_error("Cannot start the sound server connection.");
    pa_threaded_mainloop_lock(core->loop);
    if (pa_threaded_mainloop_start(core->loop) < 0) {
        pa_threaded_mainloop_unlock(core->loop);
        throw std::runtime_error("Cannot start the sound server connection.");
    }
    core->connect();
    pa_threaded_mainloop_unlock(core->loop);
    return std::shared_ptr<PulseSourceDirectory>(new PulseSourceDirectory(std::move(core)));
}

PulseSourceDirectory::PulseSourceDirectory(std::shared_ptr<Core> core) : core_(std::move(core)) {}
PulseSourceDirectory::~PulseSourceDirectory() = default;

std::vector<PulseSource> PulseSourceDirectory::sources() const { return core_->sources.copy(); }

bool PulseSourceDirectory::isConnected() const { return core_->connected; }

bool PulseSourceDirectory::waitForFirstListing(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(core_->listedMutex);
    return core_->listedChanged.wait_for(lock, timeout, [&] { return core_->listed; });
}

struct PulseLevelMeter::Stream {
    pa_threaded_mainloop* loop = nullptr;
    pa_stream* stream = nullptr;
    int channels = 1;
    std::atomic<bool> running{false};
    std::atomic<bool> ended{false};
    // The newest samples, at most one window, interleaved.
    Locked<std::deque<float>> recent;
};

std::unique_ptr<PulseLevelMeter> PulseSourceDirectory::openMeter(const std::string& sourceName) {
    auto all = sources();
    auto found = std::ranges::find(all, sourceName, &PulseSource::name);
    if (found == all.end()) throw std::runtime_error("The sound server has no source named \"" + sourceName + "\".");
    auto state = std::make_shared<PulseLevelMeter::Stream>();
    state->channels = std::clamp(found->channels, 1, static_cast<int>(PA_CHANNELS_MAX));

    auto* loop = core_->loop;
    pa_threaded_mainloop_lock(loop);
    if (!core_->connected || core_->context == nullptr) {
        pa_threaded_mainloop_unlock(loop);
        throw std::runtime_error("The sound server does not answer.");
    }
    pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, PulseLevelMeter::kSampleRate, static_cast<std::uint8_t>(state->channels)};
    state->stream = pa_stream_new(core_->context, "Yux level", &spec, nullptr);
    if (state->stream == nullptr) {
        std::string why = serverError(core_->context);
        pa_threaded_mainloop_unlock(loop);
        throw std::runtime_error("Cannot meter \"" + sourceName + "\": " + why + ".");
    }
    // The stream callbacks hold only a raw pointer: the meter clears them before it lets go.
    state->loop = loop;
    auto* callbackContext = state.get();
    pa_stream_set_state_callback(
        state->stream,
        [](pa_stream* s, void* data) {
            auto* stream = static_cast<PulseLevelMeter::Stream*>(data);
            auto streamState = pa_stream_get_state(s);
            stream->running = streamState == PA_STREAM_READY;
            if (!PA_STREAM_IS_GOOD(streamState)) stream->ended = true;
            pa_threaded_mainloop_signal(stream->loop, 0);
        },
        callbackContext);
    pa_stream_set_read_callback(
        state->stream,
        [](pa_stream* s, std::size_t, void* data) {
            auto* stream = static_cast<PulseLevelMeter::Stream*>(data);
            const std::size_t keep = static_cast<std::size_t>(PulseLevelMeter::kSampleRate) *
                                     PulseLevelMeter::kWindow.count() / 1000 * static_cast<std::size_t>(stream->channels);
            while (pa_stream_readable_size(s) > 0) {
                const void* bytes = nullptr;
                std::size_t length = 0;
                if (pa_stream_peek(s, &bytes, &length) < 0 || length == 0) return;
                if (bytes != nullptr) {
                    const auto* samples = static_cast<const float*>(bytes);
                    std::size_t count = length / sizeof(float);
                    count -= count % static_cast<std::size_t>(stream->channels);
                    stream->recent.with([&](std::deque<float>& recent) {
                        recent.insert(recent.end(), samples, samples + count);
                        if (recent.size() > keep) recent.erase(recent.begin(), recent.begin() + (recent.size() - keep));
                    });
                }
                pa_stream_drop(s);
            }
        },
        callbackContext);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.fragsize = PulseLevelMeter::kSampleRate * kMeterFragmentMilliseconds / 1000 * sizeof(float) *
                          static_cast<std::uint32_t>(state->channels);
    // Pinned: when the source goes, the meter ends instead of following the server elsewhere.
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    bool connected = pa_stream_connect_record(state->stream, sourceName.c_str(), &attributes, flags) >= 0;
    auto deadline = std::chrono::steady_clock::now() + kMeterStartTimeout;
    while (connected && !state->running && !state->ended && std::chrono::steady_clock::now() < deadline) {
        // Polled rather than waited for: a server that never answers must not hang the caller.
        pa_threaded_mainloop_unlock(loop);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pa_threaded_mainloop_lock(loop);
    }
    bool running = state->running;
    std::string why = running ? "" : serverError(core_->context);
    pa_threaded_mainloop_unlock(loop);
    auto meter = std::unique_ptr<PulseLevelMeter>(new PulseLevelMeter(core_, state, sourceName));
    if (!running) {
        meter.reset();
        throw std::runtime_error("Cannot meter \"" + sourceName + "\": " + why + ".");
    }
    return meter;
}

PulseLevelMeter::PulseLevelMeter(std::shared_ptr<PulseSourceDirectory::Core> core, std::shared_ptr<Stream> stream,
                                 std::string source)
    : core_(std::move(core)), stream_(std::move(stream)), source_(std::move(source)) {}

PulseLevelMeter::~PulseLevelMeter() {
    pa_threaded_mainloop_lock(core_->loop);
    if (stream_->stream != nullptr) {
        pa_stream_set_state_callback(stream_->stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream_->stream, nullptr, nullptr);
        if (pa_stream_get_state(stream_->stream) == PA_STREAM_READY) pa_stream_disconnect(stream_->stream);
        pa_stream_unref(stream_->stream);
        stream_->stream = nullptr;
    }
    pa_threaded_mainloop_unlock(core_->loop);
}

bool PulseLevelMeter::isRunning() const { return stream_->running && core_->connected; }

std::vector<float> PulseLevelMeter::decibels() const {
    if (!isRunning()) return {};
    auto recent = stream_->recent.copy();
    return channelDecibels(std::vector<float>(recent.begin(), recent.end()), stream_->channels);
}

}  // namespace yux::platform

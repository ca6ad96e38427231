#include "platform/audio/pulse_source_directory.hpp"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>

#include "platform/async/locked.hpp"
#include "platform/audio/pulse_deadline.hpp"

namespace yux::platform {

namespace {

// How long opening a meter waits for its stream before giving up: a running server sets it up
// within milliseconds, one that has stopped never does, and a microphone's start must not hang.
constexpr std::chrono::seconds kMeterStartTimeout{2};
// About 20 ms per fragment: levels stay fresh without waking the server often.
constexpr std::uint32_t kMeterFragmentMilliseconds = 20;

std::string serverError(pa_context* context) { return pa_strerror(pa_context_errno(context)); }

// The newest samples a meter keeps: one window of its channels.
std::size_t meterWindowSamples(int channels) {
    return static_cast<std::size_t>(PulseLevelMeter::kSampleRate) * PulseLevelMeter::kWindow.count() / 1000 *
           static_cast<std::size_t>(channels);
}

// The connection to the real sound server, on a loop thread of its own.
struct LiveConnection {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    PulseSourceDirectoryOperations::Events events;
    std::vector<std::pair<pa_time_event*, std::function<void()>*>> timers;

    // Locks the loop unless called on its own thread, where it is locked already.
    class Guard {
    public:
        explicit Guard(pa_threaded_mainloop* loop) : loop_(pa_threaded_mainloop_in_thread(loop) ? nullptr : loop) {
            if (loop_ != nullptr) pa_threaded_mainloop_lock(loop_);
        }
        ~Guard() {
            if (loop_ != nullptr) pa_threaded_mainloop_unlock(loop_);
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    // With the loop locked.
    void dropContext() {
        if (context == nullptr) return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    void connect() {
        Guard guard(loop);
        dropContext();
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Yux");
        if (context == nullptr) {
            events.lost();
            return;
        }
        pa_context_set_state_callback(
            context, [](pa_context* c, void* self) { static_cast<LiveConnection*>(self)->onState(c); }, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) events.lost();
    }

    void after(std::chrono::milliseconds delay, std::function<void()> due) {
        Guard guard(loop);
        timeval when{};
        pa_gettimeofday(&when);
        pa_timeval_add(&when, std::chrono::duration_cast<std::chrono::microseconds>(delay).count());
        auto* call = new std::function<void()>(std::move(due));
        auto* api = pa_threaded_mainloop_get_api(loop);
        auto* event = api->time_new(
            api, &when,
            [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* self) {
                auto* connection = static_cast<LiveConnection*>(self);
                auto found = std::ranges::find(connection->timers, event, &std::pair<pa_time_event*, std::function<void()>*>::first);
                if (found == connection->timers.end()) return;
                std::unique_ptr<std::function<void()>> call(found->second);
                connection->timers.erase(found);
                api->time_free(event);
                (*call)();
            },
            this);
        timers.emplace_back(event, call);
    }

    void onState(pa_context* c) {
        auto state = pa_context_get_state(c);
        if (state == PA_CONTEXT_READY) {
            events.connected();
            pa_context_set_subscribe_callback(
                c,
                [](pa_context*, pa_subscription_event_type_t, std::uint32_t, void* self) {
                    static_cast<LiveConnection*>(self)->requestListing();
                },
                this);
            pa_operation_unref(pa_context_subscribe(c, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr));
            requestListing();
        } else if (!PA_CONTEXT_IS_GOOD(state)) {
            events.lost();
        }
        pa_threaded_mainloop_signal(loop, 0);
    }

    struct Listing {
        LiveConnection* connection;
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
                if (eol > 0) listing->connection->events.listed(std::move(listing->found));
                delete listing;
            },
            listing);
        if (operation == nullptr) {
            delete listing;
            return;
        }
        pa_operation_unref(operation);
    }

    struct MeterStream {
        std::shared_ptr<LiveConnection> connection;
        pa_stream* stream = nullptr;
        int channels = 1;
        std::atomic<bool> running{false};
        std::atomic<bool> ended{false};
        // The newest samples, at most one window, interleaved.
        Locked<std::deque<float>> recent;

        ~MeterStream() {
            pa_threaded_mainloop_lock(connection->loop);
            if (stream != nullptr) {
                pa_stream_set_read_callback(stream, nullptr, nullptr);
                if (pa_stream_get_state(stream) == PA_STREAM_CREATING) {
                    // Given up on a server that was slow to answer: the stream can be ended only
                    // once it is set up, or it would record on the connection until it closes.
                    pa_stream_set_state_callback(
                        stream,
                        [](pa_stream* s, void*) {
                            if (pa_stream_get_state(s) == PA_STREAM_READY) pa_stream_disconnect(s);
                        },
                        nullptr);
                } else {
                    pa_stream_set_state_callback(stream, nullptr, nullptr);
                }
                if (pa_stream_get_state(stream) == PA_STREAM_READY) pa_stream_disconnect(stream);
                pa_stream_unref(stream);
                stream = nullptr;
            }
            pa_threaded_mainloop_unlock(connection->loop);
        }
    };

    static PulseMeterFeed openMeter(const std::shared_ptr<LiveConnection>& self, const std::string& sourceName,
                                    int channels) {
        auto state = std::make_shared<MeterStream>();
        state->connection = self;
        state->channels = std::clamp(channels, 1, static_cast<int>(PA_CHANNELS_MAX));
        auto* loop = self->loop;
        pa_threaded_mainloop_lock(loop);
        if (self->context == nullptr || pa_context_get_state(self->context) != PA_CONTEXT_READY) {
            pa_threaded_mainloop_unlock(loop);
            throw std::runtime_error("The sound server does not answer.");
        }
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, PulseLevelMeter::kSampleRate, static_cast<std::uint8_t>(state->channels)};
        state->stream = pa_stream_new(self->context, "Yux level", &spec, nullptr);
        if (state->stream == nullptr) {
            std::string why = serverError(self->context);
            pa_threaded_mainloop_unlock(loop);
            throw std::runtime_error("Cannot meter \"" + sourceName + "\": " + why + ".");
        }
        // The stream callbacks hold only a raw pointer: the stream clears them before it lets go.
        auto* callbackContext = state.get();
        pa_stream_set_state_callback(
            state->stream,
            [](pa_stream* s, void* data) {
                auto* stream = static_cast<MeterStream*>(data);
                auto streamState = pa_stream_get_state(s);
                stream->running = streamState == PA_STREAM_READY;
                if (!PA_STREAM_IS_GOOD(streamState)) stream->ended = true;
                pa_threaded_mainloop_signal(stream->connection->loop, 0);
            },
            callbackContext);
        pa_stream_set_read_callback(
            state->stream,
            [](pa_stream* s, std::size_t, void* data) {
                auto* stream = static_cast<MeterStream*>(data);
                const std::size_t keep = meterWindowSamples(stream->channels);
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
        bool answered =
            connected && waitLocked(loop, self->context, [&] { return state->running || state->ended; },
                                    std::chrono::steady_clock::now() + kMeterStartTimeout);
        bool running = state->running;
        std::string why = running ? "" : serverError(self->context);
        pa_threaded_mainloop_unlock(loop);
        if (!running) {
            state.reset();
            if (connected && !answered) throw std::runtime_error(noAnswerMessage(kMeterStartTimeout));
            throw std::runtime_error("Cannot meter \"" + sourceName + "\": " + why + ".");
        }
        PulseMeterFeed feed;
        feed.isRunning = [stream = state.get()] { return stream->running.load(); };
        feed.recentSamples = [stream = state.get()] {
            auto recent = stream->recent.copy();
            return std::vector<float>(recent.begin(), recent.end());
        };
        feed.keepAlive = std::move(state);
        return feed;
    }

    void close() {
        if (loop == nullptr) return;
        pa_threaded_mainloop_lock(loop);
        auto* api = pa_threaded_mainloop_get_api(loop);
        for (auto& [event, call] : timers) {
            api->time_free(event);
            delete call;
        }
        timers.clear();
        dropContext();
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
    }
};

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

// What the directory knows, kept current by the connection's events.
struct PulseSourceDirectory::Core {
    PulseSourceDirectoryOperations operations;
    Locked<std::vector<PulseSource>> sources;
    std::atomic<bool> connected{false};
    std::atomic<bool> closing{false};
    // On the connection's thread only.
    bool retryPending = false;

    mutable std::mutex listedMutex;
    mutable std::condition_variable listedChanged;
    bool listed = false;

    ~Core() {
        closing = true;
        if (operations.close) operations.close();
    }

    void begin() {
        operations.setEvents({[this] { connected = true; }, [this] { onLost(); },
                              [this](std::vector<PulseSource> found) { publish(std::move(found)); }});
        operations.connect();
    }

    void onLost() {
        connected = false;
        sources.with([](auto& all) { all.clear(); });
        scheduleRetry();
    }

    void scheduleRetry() {
        if (closing || retryPending) return;
        retryPending = true;
        operations.after(kRetryInterval, [this] {
            retryPending = false;
            if (!closing) operations.connect();
        });
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

struct PulseSourceDirectory::NullServer {
    std::shared_ptr<ScriptedPulseServer> server;
    PulseSourceDirectoryOperations::Events events;
    bool up = false;
    bool closed = false;
    std::chrono::milliseconds now{0};
    struct Timer {
        std::chrono::milliseconds due;
        std::function<void()> call;
    };
    std::vector<Timer> timers;

    bool hasSource(const std::string& name) const {
        return std::ranges::find(server->sources, name, &PulseSource::name) != server->sources.end();
    }
};

std::shared_ptr<PulseSourceDirectory> PulseSourceDirectory::create() {
    auto connection = std::make_shared<LiveConnection>();
    connection->loop = pa_threaded_mainloop_new();
    if (connection->loop == nullptr) throw std::runtime_error("Cannot start the sound server connection.");
    if (pa_threaded_mainloop_start(connection->loop) < 0) {
        pa_threaded_mainloop_free(connection->loop);
        connection->loop = nullptr;
        throw std::runtime_error("Cannot start the sound server connection.");
    }
    PulseSourceDirectoryOperations operations;
    operations.setEvents = [connection](PulseSourceDirectoryOperations::Events events) {
        connection->events = std::move(events);
    };
    operations.connect = [connection] { connection->connect(); };
    operations.after = [connection](std::chrono::milliseconds delay, std::function<void()> due) {
        connection->after(delay, std::move(due));
    };
    operations.openMeter = [connection](const std::string& sourceName, int channels) {
        return LiveConnection::openMeter(connection, sourceName, channels);
    };
    operations.close = [connection] { connection->close(); };
    return std::shared_ptr<PulseSourceDirectory>(new PulseSourceDirectory(std::move(operations), nullptr));
}

std::shared_ptr<PulseSourceDirectory> PulseSourceDirectory::create_null(std::shared_ptr<ScriptedPulseServer> server) {
    auto null = std::make_shared<NullServer>();
    null->server = std::move(server);
    PulseSourceDirectoryOperations operations;
    std::weak_ptr<NullServer> weak = null;
    operations.setEvents = [weak](PulseSourceDirectoryOperations::Events events) {
        if (auto null = weak.lock()) null->events = std::move(events);
    };
    operations.connect = [weak] {
        auto null = weak.lock();
        if (!null || null->closed) return;
        null->server->connectAttempts += 1;
        null->up = null->server->answers;
        if (!null->up) {
            null->events.lost();
            return;
        }
        null->events.connected();
        null->events.listed(null->server->sources);
    };
    operations.after = [weak](std::chrono::milliseconds delay, std::function<void()> due) {
        auto null = weak.lock();
        if (!null || null->closed) return;
        null->server->delaysAsked.push_back(delay);
        null->timers.push_back({null->now + delay, std::move(due)});
    };
    operations.openMeter = [weak](const std::string& sourceName, int) {
        auto null = weak.lock();
        if (!null || !null->up) throw std::runtime_error("The sound server does not answer.");
        if (null->server->meterSamples.empty()) throw std::runtime_error("Cannot meter \"" + sourceName + "\": Refused.");
        PulseMeterFeed feed;
        feed.isRunning = [weak, sourceName] {
            auto null = weak.lock();
            return null && null->up && null->hasSource(sourceName);
        };
        feed.recentSamples = [weak] {
            auto null = weak.lock();
            return null ? null->server->meterSamples : std::vector<float>{};
        };
        return feed;
    };
    operations.close = [weak] {
        if (auto null = weak.lock()) {
            null->closed = true;
            null->timers.clear();
        }
    };
    return std::shared_ptr<PulseSourceDirectory>(new PulseSourceDirectory(std::move(operations), std::move(null)));
}

PulseSourceDirectory::PulseSourceDirectory(PulseSourceDirectoryOperations operations, std::shared_ptr<NullServer> null)
    : core_(std::make_shared<Core>()), null_(std::move(null)) {
    core_->operations = std::move(operations);
    core_->begin();
}

PulseSourceDirectory::~PulseSourceDirectory() = default;

std::vector<PulseSource> PulseSourceDirectory::sources() const { return core_->sources.copy(); }

bool PulseSourceDirectory::isConnected() const { return core_->connected; }

bool PulseSourceDirectory::waitForFirstListing(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(core_->listedMutex);
    return core_->listedChanged.wait_for(lock, timeout, [&] { return core_->listed; });
}

std::unique_ptr<PulseLevelMeter> PulseSourceDirectory::openMeter(const std::string& sourceName) {
    auto all = sources();
    auto found = std::ranges::find(all, sourceName, &PulseSource::name);
    if (found == all.end()) throw std::runtime_error("The sound server has no source named \"" + sourceName + "\".");
    if (!core_->connected) throw std::runtime_error("The sound server does not answer.");
    int channels = std::max(1, found->channels);
    auto feed = core_->operations.openMeter(sourceName, channels);
    return std::unique_ptr<PulseLevelMeter>(new PulseLevelMeter(core_, std::move(feed), sourceName, channels));
}

void PulseSourceDirectory::simulate_sourcesChanged() {
    if (null_ && null_->up && !null_->closed) null_->events.listed(null_->server->sources);
}

void PulseSourceDirectory::simulate_serverLost() {
    if (!null_) return;
    null_->server->answers = false;
    if (null_->up && !null_->closed) {
        null_->up = false;
        null_->events.lost();
    }
}

void PulseSourceDirectory::simulate_serverBack() {
    if (null_) null_->server->answers = true;
}

void PulseSourceDirectory::simulate_timePasses(std::chrono::milliseconds elapsed) {
    if (!null_) return;
    const auto until = null_->now + elapsed;
    for (;;) {
        auto next = std::ranges::min_element(null_->timers, {}, &NullServer::Timer::due);
        if (next == null_->timers.end() || next->due > until) break;
        null_->now = next->due;
        auto call = std::move(next->call);
        null_->timers.erase(next);
        call();
    }
    null_->now = until;
}

PulseLevelMeter::PulseLevelMeter(std::shared_ptr<PulseSourceDirectory::Core> core, PulseMeterFeed feed,
                                 std::string source, int channels)
    : core_(std::move(core)), feed_(std::move(feed)), source_(std::move(source)), channels_(channels) {}

PulseLevelMeter::~PulseLevelMeter() = default;

bool PulseLevelMeter::isRunning() const { return feed_.isRunning() && core_->connected; }

std::vector<float> PulseLevelMeter::decibels() const {
    if (!isRunning()) return {};
    return channelDecibels(feed_.recentSamples(), channels_);
}

}  // namespace yux::platform

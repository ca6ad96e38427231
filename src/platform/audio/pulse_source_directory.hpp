#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace yux::platform {

// A sound-server source that records sound from outside (not the monitor of an output).
struct PulseSource {
    std::string name;
    std::string description;
    int channels = 2;
    bool operator==(const PulseSource&) const = default;
};

// What a meter's stream offers: whether it runs and its newest samples.
struct PulseMeterFeed {
    std::function<bool()> isRunning;
    // At most one meter window, interleaved.
    std::function<std::vector<float>()> recentSamples;
    // Holds the stream; dropping it ends the stream.
    std::shared_ptr<void> keepAlive;
};

// Every call the directory makes to the sound server. The events are called on the
// connection's own thread, one at a time.
struct PulseSourceDirectoryOperations {
    struct Events {
        std::function<void()> connected;
        // The server refused or dropped the connection.
        std::function<void()> lost;
        // The whole list of sources, after connecting and after each change.
        std::function<void(std::vector<PulseSource>)> listed;
    };
    // Attaches the events; called once, before anything else.
    std::function<void(Events)> setEvents;
    // Starts a connection attempt in the background; its outcome arrives as an event.
    std::function<void()> connect;
    // Calls `due` once, `delay` from now, on the connection's thread.
    std::function<void(std::chrono::milliseconds delay, std::function<void()> due)> after;
    // Meters a source; blocks until the stream runs. Throws std::runtime_error with an English sentence.
    std::function<PulseMeterFeed(const std::string& sourceName, int channels)> openMeter;
    // Ends the connection; no event comes after it returns.
    std::function<void()> close;
};

// A sound server a test scripts.
class ScriptedPulseServer {
public:
    // Whether a connection attempt succeeds.
    bool answers = true;
    std::vector<PulseSource> sources;
    // Levels each opened meter reads, interleaved; empty: opening fails.
    std::vector<float> meterSamples = {0.0f, 0.0f};
    // What the directory asked for.
    int connectAttempts = 0;
    std::vector<std::chrono::milliseconds> delaysAsked;
};

class PulseLevelMeter;

// The sound server's microphones, kept current by the server's change events on one
// connection. Reading the list never blocks; a lost server empties it and is reconnected to
// every 2 s.
class PulseSourceDirectory {
public:
    static constexpr std::chrono::seconds kRetryInterval{2};

    // Connects in the background; a missing server is not an error (the list stays empty).
    static std::shared_ptr<PulseSourceDirectory> create();
    // Over a scripted server. Nothing runs by itself: events and due timers come from the
    // simulate_ calls, on the caller's thread.
    static std::shared_ptr<PulseSourceDirectory> create_null(std::shared_ptr<ScriptedPulseServer> server =
                                                                 std::make_shared<ScriptedPulseServer>());
    ~PulseSourceDirectory();
    PulseSourceDirectory(const PulseSourceDirectory&) = delete;
    PulseSourceDirectory& operator=(const PulseSourceDirectory&) = delete;

    std::vector<PulseSource> sources() const;
    // The connection is up: the server accepts us.
    bool isConnected() const;
    // Blocks until the first listing after connecting arrived, at most `timeout`; true when it did.
    bool waitForFirstListing(std::chrono::milliseconds timeout) const;
    // Meters the source on this connection; blocks until the stream runs. Throws
    // std::runtime_error with an English sentence.
    std::unique_ptr<PulseLevelMeter> openMeter(const std::string& sourceName);

    // Null directories only. The scripted server's sources changed (added, removed, renamed).
    void simulate_sourcesChanged();
    // The server went away: the connection drops and connecting fails until it is back.
    void simulate_serverLost();
    // The server answers again (the next retry finds it).
    void simulate_serverBack();
    // Time passes: timers due within it fire.
    void simulate_timePasses(std::chrono::milliseconds elapsed);

    struct Core;

private:
    struct NullServer;
    PulseSourceDirectory(PulseSourceDirectoryOperations operations, std::shared_ptr<NullServer> null);
    std::shared_ptr<Core> core_;
    // Only for null directories: the scripted server the simulate_ calls act on.
    std::shared_ptr<NullServer> null_;
};

// A low-rate record stream pinned to one source (never moved to another) that keeps its last
// ~100 ms of sound to answer the level per channel.
class PulseLevelMeter {
public:
    // Reported for silence and for a channel without sound yet.
    static constexpr float kSilenceDecibels = -160;
    static constexpr int kSampleRate = 16000;
    static constexpr std::chrono::milliseconds kWindow{100};

    ~PulseLevelMeter();
    PulseLevelMeter(const PulseLevelMeter&) = delete;
    PulseLevelMeter& operator=(const PulseLevelMeter&) = delete;

    // The stream runs: false once the source is gone or the server lost.
    bool isRunning() const;
    // dBFS of each channel's RMS over the window; empty while not running.
    std::vector<float> decibels() const;
    const std::string& sourceName() const { return source_; }

private:
    friend class PulseSourceDirectory;
    PulseLevelMeter(std::shared_ptr<PulseSourceDirectory::Core> core, PulseMeterFeed feed, std::string source,
                    int channels);
    std::shared_ptr<PulseSourceDirectory::Core> core_;
    PulseMeterFeed feed_;
    std::string source_;
    int channels_;
};

// dBFS of the RMS of each channel of interleaved samples; kSilenceDecibels for silence.
std::vector<float> channelDecibels(const std::vector<float>& interleaved, int channels);

}  // namespace yux::platform

#pragma once

#include <chrono>
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

class PulseLevelMeter;

// The sound server's microphones, kept current by the server's change events on one
// connection. Reading the list never blocks; a lost server empties it and is reconnected to
// every 2 s.
class PulseSourceDirectory {
public:
    static constexpr std::chrono::seconds kRetryInterval{2};

    // Connects in the background; a missing server is not an error (the list stays empty).
    static std::shared_ptr<PulseSourceDirectory> start();
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

    struct Core;

private:
    explicit PulseSourceDirectory(std::shared_ptr<Core> core);
    std::shared_ptr<Core> core_;
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

    struct Stream;

private:
    friend class PulseSourceDirectory;
    PulseLevelMeter(std::shared_ptr<PulseSourceDirectory::Core> core, std::shared_ptr<Stream> stream, std::string source);
    std::shared_ptr<PulseSourceDirectory::Core> core_;
    std::shared_ptr<Stream> stream_;
    std::string source_;
};

// dBFS of the RMS of each channel of interleaved samples; kSilenceDecibels for silence.
std::vector<float> channelDecibels(const std::vector<float>& interleaved, int channels);

}  // namespace yux::platform

#pragma once

// Sound for desktop tests: a sound server of a test's own, and a player that keeps sounding a
// tone (or silence) into a sink while the test's event loop runs.

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include <sys/types.h>

namespace yux::testing {

// A sound server on a private socket with one null sink, "yux_private", that can be stopped
// and started again on the same socket; the environment's server is left alone.
class PrivateSoundServer {
public:
    explicit PrivateSoundServer(std::filesystem::path folder) : socket_(std::move(folder) / "pulse.sock") {}
    ~PrivateSoundServer() { stop(); }
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    std::string address() const { return "unix:" + socket_.string(); }
    const std::filesystem::path& socket() const { return socket_; }
    // Starts the daemon and waits until it takes a connection; false when it never did.
    bool start();
    void stop();
    // Stops the daemon where it is (SIGSTOP): its socket takes connections, nothing answers.
    void freeze() const;
    // Lets a frozen daemon run on (SIGCONT).
    void thaw() const;
    // Plays a loud tone into its sink for `milliseconds`; returns when it has sounded.
    void playTone(int milliseconds) const;

private:
    std::filesystem::path socket_;
    pid_t pid_ = 0;
};

// Plays into one sink of the environment's server from its own thread until destroyed: a sine
// tone at the amplitude set, silence at zero. Made with low buffering, it is already sounding
// (silence), and a change is heard within a few tens of milliseconds.
class TonePlayer {
public:
    // How far ahead the player queues: `low` so a change is heard at once; `serverDefault`, as a
    // media player that asks for nothing, lets the server mix far ahead.
    enum class Buffering { low, serverDefault };
    // Starts at `amplitude`. Throws std::runtime_error when the sink cannot be played into.
    explicit TonePlayer(const std::string& sink, Buffering buffering = Buffering::low, float amplitude = 0.0f);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    void setAmplitude(float amplitude) { amplitude_ = amplitude; }

private:
    void run(void* player);
    std::atomic<float> amplitude_{0};
    std::atomic<long> written_{0};  // frames
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Points this process's sound server connections elsewhere while it lives.
class SoundServerAddress {
public:
    explicit SoundServerAddress(const std::string& address);
    ~SoundServerAddress();
    SoundServerAddress(const SoundServerAddress&) = delete;
    SoundServerAddress& operator=(const SoundServerAddress&) = delete;

private:
    bool had_ = false;
    std::string previous_;
};

}  // namespace yux::testing

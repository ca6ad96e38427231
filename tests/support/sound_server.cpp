#include "support/sound_server.hpp"

#include <fcntl.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace yux::testing {

namespace {

constexpr int kRate = 48000;
// The player's chunk and what the server may hold queued: short, so a change sounds soon.
constexpr int kChunkFrames = kRate / 100;
constexpr int kQueuedMilliseconds = 40;
// A fresh stream into a null sink takes over a second before its writes start to flow; the
// player is ready once this much has gone through.
constexpr int kWarmUpFrames = kRate / 5;
constexpr auto kWarmUpLimit = std::chrono::seconds(5);

}  // namespace

bool PrivateSoundServer::start() {
    pid_ = fork();
    if (pid_ == 0) {
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        std::string protocol = "module-native-protocol-unix socket=" + socket_.string() + " auth-anonymous=1";
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
               "--disallow-exit=yes", "-L", protocol.c_str(), "-L", "module-null-sink sink_name=yux_private",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    // Answering once its socket takes a connection.
    for (int attempt = 0; attempt < 100; ++attempt) {
        int error = 0;
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kRate, 2};
        if (pa_simple* probe = pa_simple_new(address().c_str(), "yux-test", PA_STREAM_PLAYBACK, "yux_private", "probe",
                                             &spec, nullptr, nullptr, &error)) {
            pa_simple_free(probe);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void PrivateSoundServer::stop() {
    if (pid_ <= 0) return;
    thaw();  // a frozen daemon would not end
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
}

void PrivateSoundServer::freeze() const {
    if (pid_ > 0) kill(pid_, SIGSTOP);
}

void PrivateSoundServer::thaw() const {
    if (pid_ > 0) kill(pid_, SIGCONT);
}

void PrivateSoundServer::playTone(int milliseconds) const {
    pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kRate, 2};
    int error = 0;
    pa_simple* player = pa_simple_new(address().c_str(), "yux-test", PA_STREAM_PLAYBACK, "yux_private", "tone", &spec,
                                      nullptr, nullptr, &error);
    if (player == nullptr) return;
    std::vector<float> tone(static_cast<std::size_t>(kRate * milliseconds / 1000) * 2, 0.5f);
    pa_simple_write(player, tone.data(), tone.size() * sizeof(float), &error);
    pa_simple_drain(player, &error);
    pa_simple_free(player);
}

TonePlayer::TonePlayer(const std::string& sink, Buffering buffering, float amplitude) : amplitude_(amplitude) {
    pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kRate, 2};
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(kRate * kQueuedMilliseconds / 1000 * 2 * sizeof(float));
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    int error = 0;
    pa_simple* player = pa_simple_new(nullptr, "yux-test", PA_STREAM_PLAYBACK, sink.c_str(), "tone", &spec, nullptr,
                                      buffering == Buffering::low ? &attributes : nullptr, &error);
    if (player == nullptr) throw std::runtime_error(std::string("cannot play into ") + sink + ": " + pa_strerror(error));
    thread_ = std::thread([this, player] { run(player); });
    if (buffering == Buffering::serverDefault) return;  // the server mixes its first sound ahead at once
    const auto deadline = std::chrono::steady_clock::now() + kWarmUpLimit;
    while (written_ < kWarmUpFrames && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TonePlayer::~TonePlayer() {
    stopping_ = true;
    thread_.join();
}

void TonePlayer::run(void* handle) {
    auto* player = static_cast<pa_simple*>(handle);
    std::vector<float> chunk(kChunkFrames * 2);
    std::size_t frame = 0;
    while (!stopping_) {
        const float amplitude = amplitude_;
        for (int i = 0; i < kChunkFrames; ++i, ++frame) {
            float value = amplitude * static_cast<float>(std::sin(2 * M_PI * 440.0 * static_cast<double>(frame) / kRate));
            chunk[2 * i] = chunk[2 * i + 1] = value;
        }
        int error = 0;
        // Blocks while the server's queue is full: this paces the thread.
        if (pa_simple_write(player, chunk.data(), chunk.size() * sizeof(float), &error) < 0) break;
        written_ += kChunkFrames;
    }
    pa_simple_free(player);
}

SoundServerAddress::SoundServerAddress(const std::string& address) {
    if (const char* value = std::getenv("PULSE_SERVER")) {
        had_ = true;
        previous_ = value;
    }
    setenv("PULSE_SERVER", address.c_str(), 1);
}

SoundServerAddress::~SoundServerAddress() {
    if (had_) setenv("PULSE_SERVER", previous_.c_str(), 1);
    else unsetenv("PULSE_SERVER");
}

}  // namespace yux::testing

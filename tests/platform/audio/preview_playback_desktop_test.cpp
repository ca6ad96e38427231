// The preview player's sound as the default output's monitor hears it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/async/locked.hpp"
#include "platform/audio/pulse_playback_stream.hpp"
#include "platform/audio/pulse_record_stream.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/preview_player.hpp"
#include "support/temporary_directory.hpp"
#include "support/timed_movie.hpp"

using namespace yux::platform;
using namespace std::chrono_literals;
namespace support = yux::testing;

namespace {

constexpr int kRate = 48000;
// Stretches of 5 ms: a tone is counted to within one of them at each end.
constexpr int kWindowFrames = kRate / 200;

class MonitorRecorder {
public:
    MonitorRecorder()
        : stream_(PulseRecordStream::start(AudioSourceChoice::systemPlayback(), [this](SampleBuffer sample) {
              const auto* audio = sample.audio();
              std::vector<float> samples(static_cast<std::size_t>(audio->frameCount()) * 2);
              std::memcpy(samples.data(), audio->bytes->data(), samples.size() * sizeof(float));
              received_.with([&](auto& all) { all.insert(all.end(), samples.begin(), samples.end()); });
          })) {}
    std::vector<float> stop() {
        stream_->stop();
        return received_.copy();
    }

private:
    Locked<std::vector<float>> received_;
    std::unique_ptr<PulseRecordStream> stream_;
};

// Seconds of the recording that carry a loud sound, counted in 5 ms stretches of samples.
double toneSeconds(const std::vector<float>& interleaved, double* loudest = nullptr) {
    int loud = 0;
    double peak = 0;
    for (std::size_t start = 0; start + kWindowFrames * 2 <= interleaved.size(); start += kWindowFrames * 2) {
        double sum = 0;
        for (int i = 0; i < kWindowFrames; ++i) sum += interleaved[start + 2 * i] * interleaved[start + 2 * i];
        double rms = std::sqrt(sum / kWindowFrames);
        peak = std::max(peak, rms);
        if (rms > 0.1) ++loud;
    }
    if (loudest != nullptr) *loudest = peak;
    return static_cast<double>(loud) * kWindowFrames / kRate;
}

class PreviewPlaybackDesktop : public ::testing::Test {
protected:
    support::TemporaryDirectory folder;
    std::string path = folder.file("tone.mov");

    void SetUp() override {
        // 2 s of a 1000 Hz tone, with silence before and after it.
        support::TimedMovieOptions options;
        options.durationSeconds = 3.5;
        options.screen = {{0, support::Rgb{20, 20, 20}}};
        options.audio = {support::TimedAudioTrack{"systemAudio", 0, 3.5, {{0.5, 2.5, 1000, 0.5}}}};
        support::writeTimedMovie(path, options);
    }

    // Plays the movie at `rate` through the default output while its monitor records.
    std::vector<float> playAndRecord(double rate, bool muted) {
        MonitorRecorder recorder;
        auto player = PreviewPlayer::create(PulsePlaybackStream::output(PulsePlaybackStream::create("Yux preview test")));
        auto tracks = MovieTrackReader(path).tracks();
        player->prepare(tracks);
        for (const auto& track : tracks) {
            if (track.type == MediaTrackType::audio) player->setAudioMix({{track.trackID, muted ? 0.0f : 1.0f}});
        }
        // The test server's null sink starts at a latency of seconds and comes down to the
        // stream's own within about a second; until then it plays in bursts. An editor is on
        // screen longer than that before anyone presses play.
        std::this_thread::sleep_for(1500ms);
        player->seek(0);
        player->setRate(rate);
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (player->currentTime() < 3.2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
        EXPECT_GE(player->currentTime(), 3.2) << "the sound clock runs";
        player->setRate(0);
        std::this_thread::sleep_for(150ms);
        return recorder.stop();
    }
};

}  // namespace

TEST_F(PreviewPlaybackDesktop, AtRateTwoTwoSecondsOfToneSoundForOneSecond) {
    double loudest = 0;
    double seconds = toneSeconds(playAndRecord(2.0, false), &loudest);
    std::printf("tone heard for %.3f s (loudest 5 ms: %.3f)\n", seconds, loudest);
    EXPECT_NEAR(seconds, 1.0, 0.05);
}

TEST_F(PreviewPlaybackDesktop, AMutedSourceIsNotHeard) {
    double loudest = 0;
    double seconds = toneSeconds(playAndRecord(1.0, true), &loudest);
    EXPECT_EQ(seconds, 0);
    EXPECT_LT(loudest, 0.01);
}

TEST_F(PreviewPlaybackDesktop, AtRateOneTheToneLastsTwoSeconds) {
    EXPECT_NEAR(toneSeconds(playAndRecord(1.0, false)), 2.0, 0.05);
}

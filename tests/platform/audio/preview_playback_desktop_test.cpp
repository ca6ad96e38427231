// The preview player's sound as the default output's monitor hears it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "platform/audio/pulse_playback_stream.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/preview_player.hpp"
#include "support/sink_monitor.hpp"
#include "support/sound_server.hpp"
#include "support/temporary_directory.hpp"
#include "support/timed_movie.hpp"

using namespace yux::platform;
using namespace std::chrono_literals;
namespace support = yux::testing;

namespace {

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
        support::SinkMonitor recorder;
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

// Fills what the stream takes with silence, up to a second of it.
void feedSilence(PulsePlaybackStream& stream) {
    constexpr int kRate = PulsePlaybackStream::kSampleRate;
    static const std::vector<float> silence(static_cast<std::size_t>(kRate) * PulsePlaybackStream::kChannels, 0.0f);
    const int writable = std::min(stream.writableFrames(), kRate);
    if (writable > 0) stream.write(silence.data(), writable);
}

}  // namespace

TEST_F(PreviewPlaybackDesktop, AtRateTwoTwoSecondsOfToneSoundForOneSecond) {
    double loudest = 0;
    double seconds = support::loudSeconds(playAndRecord(2.0, false), &loudest);
    std::printf("tone heard for %.3f s (loudest 5 ms: %.3f)\n", seconds, loudest);
    EXPECT_NEAR(seconds, 1.0, 0.05);
}

TEST_F(PreviewPlaybackDesktop, AMutedSourceIsNotHeard) {
    double loudest = 0;
    double seconds = support::loudSeconds(playAndRecord(1.0, true), &loudest);
    EXPECT_EQ(seconds, 0);
    EXPECT_LT(loudest, 0.01);
}

TEST_F(PreviewPlaybackDesktop, AtRateOneTheToneLastsTwoSeconds) {
    EXPECT_NEAR(support::loudSeconds(playAndRecord(1.0, false)), 2.0, 0.05);
}

// The played count is the preview's clock: it stands while the stream is corked, however long,
// and runs with the sound from the moment the stream is uncorked, never ahead of it.
TEST(PulsePlaybackStreamDesktop, PlayedCountStandsWhileCorkedAndRunsOnceUncorked) {
    constexpr int kRate = PulsePlaybackStream::kSampleRate;
    auto stream = PulsePlaybackStream::create("Yux clock test");
    ASSERT_TRUE(stream->open());
    auto feed = [&] { feedSilence(*stream); };
    auto standCorked = [&](std::chrono::milliseconds length) {
        auto from = stream->playedFrames();
        auto until = std::chrono::steady_clock::now() + length;
        while (std::chrono::steady_clock::now() < until) {
            feed();
            std::this_thread::sleep_for(5ms);
        }
        return stream->playedFrames() - from;
    };
    // Seconds from uncorking until `seconds` have played (10 when they never do), and how much
    // had played by the clock when that much time had passed.
    auto playFor = [&](double seconds) {
        stream->flush();
        feed();
        stream->cork(false);
        auto sent = std::chrono::steady_clock::now();
        auto mark = stream->playedFrames();
        for (;;) {
            feed();
            double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
            double played = static_cast<double>(stream->playedFrames() - mark) / kRate;
            if (played >= seconds) {
                EXPECT_GE(elapsed, played - 0.05) << "the clock runs ahead of the sound";
                return elapsed;
            }
            if (elapsed > 10) return 10.0;
            std::this_thread::sleep_for(5ms);
        }
    };

    // A trim window stands a while before the first Play, and again while paused.
    // How soon it runs is the sound server's: a busy machine starves it.
    EXPECT_LT(standCorked(1500ms), kRate / 20) << "time passed while corked";
    EXPECT_LT(playFor(0.5), 10.0) << "the count stood once uncorked";
    stream->cork(true);
    EXPECT_LT(standCorked(1500ms), kRate / 20) << "time passed while corked";
    EXPECT_LT(playFor(0.5), 10.0) << "the count stood once uncorked";
    stream->cork(true);
}

// The player's calls come from the main thread: a sound server that stops answering (stopped,
// hung) must cost each call a bounded wait, never a frozen window, and the preview's clock, the
// played count, must run on without it.
TEST(PulsePlaybackStreamDesktop, AStoppedSoundServerHoldsNoCallAndTheClockRunsOn) {
    constexpr int kRate = PulsePlaybackStream::kSampleRate;
    // Far above the stream's own wait for an answer, so a busy machine cannot fail it.
    constexpr double kBoundSeconds = 6.0;
    support::TemporaryDirectory folder;
    support::PrivateSoundServer server(folder.path());
    ASSERT_TRUE(server.start());
    support::SoundServerAddress address(server.address());

    auto stream = PulsePlaybackStream::create("Yux stall test");
    ASSERT_TRUE(stream->open());
    auto feed = [&] { feedSilence(*stream); };
    auto secondsFor = [](auto call) {
        auto sent = std::chrono::steady_clock::now();
        call();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    };
    feed();
    stream->cork(false);
    std::this_thread::sleep_for(200ms);

    server.freeze();
    const struct {
        const char* call;
        std::function<void()> run;
    } calls[] = {
        {"played", [&] { stream->playedFrames(); }},
        {"feed", feed},
        {"pause", [&] { stream->cork(true); }},
        {"play", [&] { stream->cork(false); }},
        {"flush", [&] { stream->flush(); }},
        {"played after", [&] { stream->playedFrames(); }},
    };
    double slowest = 0;
    for (const auto& [call, run] : calls) {
        const double seconds = secondsFor(run);
        EXPECT_LT(seconds, kBoundSeconds) << call;
        slowest = std::max(slowest, seconds);
    }
    std::printf("slowest call on the stopped server: %.3f s\n", slowest);

    // Playing, silent: the count goes on with the host clock, paced by what is written.
    feed();
    const auto from = stream->playedFrames();
    for (int step = 0; step < 60; ++step) {
        feed();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GT(stream->playedFrames() - from, kRate / 10) << "the clock stopped with the server";

    auto second = PulsePlaybackStream::create("Yux stall test 2");
    bool opened = true;
    EXPECT_LT(secondsFor([&] { opened = second->open(); }), kBoundSeconds) << "open";
    EXPECT_FALSE(opened) << "a stopped server reported as open";
    EXPECT_LT(secondsFor([&] { stream->close(); }), kBoundSeconds) << "close";

    // Nothing is left waiting on the server: once it runs again, a new stream plays.
    server.thaw();
    auto third = PulsePlaybackStream::create("Yux stall test 3");
    EXPECT_TRUE(third->open());
}

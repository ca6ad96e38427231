#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cmath>

#include "platform/audio/pulse_playback_stream.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/preview_player.hpp"
#include "support/synthetic_media.hpp"
#include "support/preview_test_clock.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"

using namespace yux;
using namespace yux::platform;
using namespace yux::testing;

namespace {

Rgb colorAt(const PixelBuffer& picture, int x, int y) {
    const std::uint8_t* p = picture.row(y) + 4 * x;
    return {p[2], p[1], p[0]};
}

std::optional<PixelBuffer> nextPicture(PreviewPlayer& player) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 3000) {
        if (auto picture = player.takeNewestPicture()) return picture;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::nullopt;
}

class PreviewPlayerMedia : public ::testing::Test {
protected:
    TemporaryDirectory directory;
    std::string moviePath(const TestMovieOptions& options, const std::string& name = "take.mov") {
        auto path = (directory.path() / name).string();
        writeTestMovie(path, options);
        return path;
    }
};

// Samples the player sends to a null output until `seconds` of output have been written.
std::vector<float> playedOutput(PreviewPlayer& player, PulsePlaybackStream& stream,
                                OutputTracker<std::vector<float>>& writes, double seconds) {
    std::vector<float> all;
    std::size_t taken = 0;  // chunks already copied (clearing the tracker could drop one written meanwhile)
    QElapsedTimer timer;
    timer.start();
    while (all.size() < static_cast<std::size_t>(seconds * 48000 * 2) && timer.elapsed() < 10000) {
        stream.simulate_played(480);
        auto chunks = writes.data();
        for (; taken < chunks.size(); ++taken) all.insert(all.end(), chunks[taken].begin(), chunks[taken].end());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    (void)player;
    return all;
}

// Lets the null output play `frames` more, as the player keeps it filled.
void playFrames(PulsePlaybackStream& stream, std::int64_t frames) {
    std::int64_t target = stream.playedFrames() + frames;
    QElapsedTimer timer;
    timer.start();
    while (stream.playedFrames() < target && timer.elapsed() < 10000) {
        stream.simulate_played(std::min<std::int64_t>(480, target - stream.playedFrames()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

double levelOf(const std::vector<float>& samples, std::size_t skipFrames, double hz) {
    std::vector<float> part(samples.begin() + static_cast<std::ptrdiff_t>(std::min(samples.size(), skipFrames * 2)), samples.end());
    return toneLevel(AudioBuffer::fromFloat(part, 48000, 2), hz);
}

}  // namespace

TEST_F(PreviewPlayerMedia, SeekHandsOverThePictureShowingAtThatTime) {
    TestMovieOptions options;
    options.durationSeconds = 2;
    options.systemAudio = false;
    auto path = moviePath(options);
    auto player = PreviewPlayer::create(std::nullopt, ManualClock().function());
    player->prepare(MovieTrackReader(path).tracks());
    for (double t : {0.0, 1.0 / 30 - 0.001, 1.0 / 30, 0.5, 1.75, 0.25, 1.99}) {
        SCOPED_TRACE(t);
        player->seek(t);
        auto picture = nextPicture(*player);
        ASSERT_TRUE(picture);
        EXPECT_EQ(frameIndexOf(*picture), static_cast<int>(std::floor(t * 30 + 1e-9)));
        EXPECT_TRUE(near(colorAt(*picture, 10, options.height - 10), screenColorAt(static_cast<int>(t))));
    }
}

TEST_F(PreviewPlayerMedia, CameraShowsInsideItsBubbleAndThePictureFitsTheView) {
    TestMovieOptions options;
    options.durationSeconds = 1;
    options.camera = true;
    auto path = moviePath(options);
    auto player = PreviewPlayer::create(std::nullopt, ManualClock().function());
    player->prepare(MovieTrackReader(path).tracks());
    player->seek(0.5);
    auto picture = nextPicture(*player);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width(), 320);
    auto bubble = bubbleCircle(320, 180);
    EXPECT_TRUE(near(colorAt(*picture, static_cast<int>(bubble.centerX), static_cast<int>(bubble.centerY)), kCameraColor));
    EXPECT_TRUE(near(colorAt(*picture, 10, 170), screenColorAt(0)));
    EXPECT_TRUE(near(colorAt(*picture, static_cast<int>(bubble.centerX - bubble.radius - 8), static_cast<int>(bubble.centerY)),
                     screenColorAt(0)));

    // Never larger than the source, whatever the view asks.
    player->setViewSize(160, 200);
    auto small = nextPicture(*player);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width(), 160);
    EXPECT_EQ(small->height(), 90);
    player->setViewSize(4000, 4000);
    auto large = nextPicture(*player);
    ASSERT_TRUE(large);
    EXPECT_EQ(large->width(), 320);
}

// A take smaller than the view is drawn at its own size, whatever its width (the converter works
// in blocks of 16 pixels; these widths are not multiples of 16, and a player that wrote past its
// picture aborted on going away).
TEST_F(PreviewPlayerMedia, APictureSmallerThanTheViewIsDrawnWholeAtItsOwnSize) {
    for (auto [width, height] : {std::pair{24, 24}, {40, 30}, {266, 150}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        TestMovieOptions options;
        options.width = width;
        options.height = height;
        options.durationSeconds = 1;
        options.systemAudio = false;
        auto path = moviePath(options, "take-" + std::to_string(width) + ".mov");
        auto player = PreviewPlayer::create(std::nullopt, ManualClock().function());
        player->setViewSize(800, 450);
        player->prepare(MovieTrackReader(path).tracks());
        player->seek(0.5);
        auto picture = nextPicture(*player);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->width(), width);
        EXPECT_EQ(picture->height(), height);
        EXPECT_TRUE(near(colorAt(*picture, width - 1, height - 1), screenColorAt(0)));
        picture.reset();
        player.reset();
    }
}

TEST_F(PreviewPlayerMedia, WithoutSoundTheHostClockRunsAtTheRate) {
    TestMovieOptions options;
    options.durationSeconds = 1;
    options.systemAudio = false;
    auto path = moviePath(options);
    ManualClock clock;
    auto player = PreviewPlayer::create(PulsePlaybackStream::output(PulsePlaybackStream::create_null()), clock.function());
    player->prepare(MovieTrackReader(path).tracks());
    player->seek(1);
    player->setRate(2);
    clock.advance(1);
    EXPECT_DOUBLE_EQ(player->currentTime(), 3);
    player->setRate(0);
    clock.advance(5);
    EXPECT_DOUBLE_EQ(player->currentTime(), 3);
    player->setRate(0.5);
    clock.advance(2);
    EXPECT_DOUBLE_EQ(player->currentTime(), 4);
    player->seek(0.25);
    EXPECT_DOUBLE_EQ(player->currentTime(), 0.25);
}

TEST_F(PreviewPlayerMedia, SoundKeepsItsPitchAtRateTwoAndAMutedSourceAddsNothing) {
    TestMovieOptions options;
    options.durationSeconds = 3;
    options.microphone = true;  // 440 Hz system audio, 880 Hz microphone
    auto path = moviePath(options);
    auto stream = PulsePlaybackStream::create_null();
    auto writes = stream->track_writes();
    ManualClock clock;
    auto player = PreviewPlayer::create(PulsePlaybackStream::output(stream), clock.function());
    auto tracks = MovieTrackReader(path).tracks();
    player->prepare(tracks);
    player->setAudioMix({{tracks[1].trackID, 1.0f}, {tracks[2].trackID, 0.0f}});
    player->seek(0);
    player->setRate(2);
    writes.clear();  // what was written before the rate came is flushed
    auto output = playedOutput(*player, *stream, writes, 1.0);
    ASSERT_GE(output.size(), 48000u * 2);
    EXPECT_GT(levelOf(output, 4800, 440), 0.2) << "the tone keeps its pitch";
    EXPECT_LT(levelOf(output, 4800, 880), 0.01) << "the muted microphone is silent, and 440 Hz did not become 880 Hz";

    // The clock follows what was played: 1 s of output at rate 2 is 2 s of source.
    double time = player->currentTime();
    playFrames(*stream, 48000);
    EXPECT_NEAR(player->currentTime() - time, 2.0, 0.05);
}

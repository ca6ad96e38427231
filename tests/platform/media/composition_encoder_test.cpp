#include "platform/media/composition_encoder.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/async/errors.hpp"
#include "platform/media/media_asset.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"

using namespace yux::platform;
using yux::testing::Rgb;
using yux::testing::TemporaryDirectory;

namespace {

struct Source {
    std::string path;
    MediaAsset asset;
};

Source makeSource(const TemporaryDirectory& folder, bool camera, double microphoneAmplitude = 0.5) {
    yux::testing::TestMovieOptions options;
    options.durationSeconds = 4;
    options.camera = camera;
    options.microphone = true;
    options.microphoneAmplitude = microphoneAmplitude;
    std::string path = folder.file(camera ? "camera.mov" : "screen.mov");
    yux::testing::writeTestMovie(path, options);
    return {path, MediaAsset::open(path)};
}

EditComposition compose(const MediaAsset& asset, const std::vector<EditSection>& sections) {
    auto tracks = asset.tracksOf(MediaTrackType::video);
    auto audio = asset.tracksOf(MediaTrackType::audio);
    tracks.insert(tracks.end(), audio.begin(), audio.end());
    return EditComposition::build(tracks, sections);
}

CompositionEncodeSettings fullFrame(int width = 320, int height = 180) {
    CompositionEncodeSettings settings;
    settings.videoBitsPerSecond = 2'000'000;
    settings.frameRate = 30;
    settings.geometry = {width, height, 0, 0, width, height};
    return settings;
}

}  // namespace

TEST(CompositionEncoder, CutAndSpedUpSectionsShowTheRightSourceTime) {
    TemporaryDirectory folder;
    auto source = makeSource(folder, true);
    // Second 0 at speed 1, then seconds 2 to 4 at speed 2: two seconds of output.
    auto composition = compose(source.asset, {{0, 1, 1}, {2, 4, 2}});
    std::string out = folder.file("out.mov");
    double lastProgress = -1;
    CompositionEncoder::encode(source.path, out, composition, fullFrame(), [&](double t) { lastProgress = t; }, CancelToken());
    EXPECT_GT(lastProgress, 1.9);

    auto result = MediaAsset::open(out);
    ASSERT_EQ(result.tracksOf(MediaTrackType::video).size(), 1u);
    ASSERT_EQ(result.tracksOf(MediaTrackType::audio).size(), 1u);
    EXPECT_EQ(result.codecTag(result.tracks[0]), "avc1");
    EXPECT_NEAR(result.tracks[0].duration.seconds(), 2.0, 1.0 / 30 + 1e-6);
    auto audio = yux::testing::readAudio(out);
    EXPECT_NEAR(static_cast<double>(audio.frames) / 48000, result.tracks[0].duration.seconds(), 1024.0 / 48000);

    // Screen colour outside the bubble, camera colour inside it.
    EXPECT_TRUE(yux::testing::near(yux::testing::pixelAt(out, 0.5, 40, 120), yux::testing::screenColorAt(0)));
    EXPECT_TRUE(yux::testing::near(yux::testing::pixelAt(out, 1.25, 40, 120), yux::testing::screenColorAt(2)));
    EXPECT_TRUE(yux::testing::near(yux::testing::pixelAt(out, 1.75, 40, 120), yux::testing::screenColorAt(3)));
    auto bubble = yux::testing::bubbleCircle(320, 180);
    EXPECT_TRUE(yux::testing::near(yux::testing::pixelAt(out, 0.5, static_cast<int>(bubble.centerX), static_cast<int>(bubble.centerY)),
                                   yux::testing::kCameraColor));
}

TEST(CompositionEncoder, MutedMicrophoneLeavesSystemAudioAsLoudAsAlone) {
    TemporaryDirectory folder;
    auto source = makeSource(folder, false);
    auto composition = compose(source.asset, {{0, 2, 1}});
    auto settings = fullFrame();
    settings.volumes[source.asset.tracks[2].trackID] = 0.0f;  // microphone
    std::string muted = folder.file("muted.mov");
    CompositionEncoder::encode(source.path, muted, composition, settings, {}, CancelToken());
    // The system tone alone is a 0.5 sine: RMS 0.354.
    EXPECT_NEAR(yux::testing::readAudio(muted).rms, 0.5 / std::sqrt(2.0), 0.02);
}

TEST(CompositionEncoder, CropsAndScalesToTheGivenEvenSize) {
    TemporaryDirectory folder;
    auto source = makeSource(folder, false);
    auto composition = compose(source.asset, {{0, 1, 1}});
    auto settings = fullFrame();
    settings.codec = VideoCodec::hevc;
    // Half scale (160 × 90), then the right half of that.
    settings.geometry = {160, 90, 80, 0, 80, 90};
    std::string out = folder.file("cropped.mov");
    CompositionEncoder::encode(source.path, out, composition, settings, {}, CancelToken());
    auto result = MediaAsset::open(out);
    EXPECT_EQ(result.tracks[0].width, 80);
    EXPECT_EQ(result.tracks[0].height, 90);
    EXPECT_EQ(result.codecTag(result.tracks[0]), "hvc1");
    EXPECT_TRUE(yux::testing::near(yux::testing::pixelAt(out, 0.5, 40, 60), yux::testing::screenColorAt(0)));
}

TEST(CompositionEncoder, CancellationRemovesTheDestination) {
    TemporaryDirectory folder;
    auto source = makeSource(folder, false);
    auto composition = compose(source.asset, {{0, 4, 1}});
    std::string out = folder.file("cancelled.mov");
    CancelToken token;
    auto cancelMidway = [&](double t) {
        if (t >= 1.0) token.cancel();
    };
    EXPECT_THROW(CompositionEncoder::encode(source.path, out, composition, fullFrame(), cancelMidway, token), CancelledError);
    EXPECT_FALSE(std::filesystem::exists(out));
}

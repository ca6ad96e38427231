#include "platform/media/composition_encoder.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include <csignal>
#include <sys/resource.h>

#include "platform/async/errors.hpp"
#include "platform/media/media_asset.hpp"
#include "platform/media/media_failure.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"
#include "support/timed_movie.hpp"

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
    constexpr Rgb kLeft{200, 30, 30}, kRight{30, 30, 200};
    yux::testing::TimedMovieOptions options;
    options.durationSeconds = 1;
    options.screen = {{0, kLeft, kRight}};
    std::string source = folder.file("halves.mov");
    yux::testing::writeTimedMovie(source, options);
    auto composition = compose(MediaAsset::open(source), {{0, 1, 1}});
    auto settings = fullFrame();
    settings.codec = VideoCodec::hevc;
    // Half scale (160 × 90), then the right half of that.
    settings.geometry = {160, 90, 80, 0, 80, 90};
    std::string out = folder.file("cropped.mov");
    CompositionEncoder::encode(source, out, composition, settings, {}, CancelToken());
    auto result = MediaAsset::open(out);
    EXPECT_EQ(result.tracks[0].width, 80);
    EXPECT_EQ(result.tracks[0].height, 90);
    EXPECT_EQ(result.codecTag(result.tracks[0]), "hvc1");
    // The right half from edge to edge: the left half, or a crop taken before the scale, is red.
    for (int x : {4, 75}) EXPECT_TRUE(yux::testing::near(yux::testing::pixelAt(out, 0.5, x, 45), kRight)) << x;
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

namespace {

int brightness(Rgb c) { return (c.r + c.g + c.b) / 3; }

}  // namespace

TEST(CompositionEncoder, OddCropOriginIsNotShiftedByAPixel) {
    TemporaryDirectory folder;
    // The first picture has a black bar over columns 0-19 and rows 0-21, on red.
    for (bool camera : {false, true}) {
        auto source = makeSource(folder, camera);
        auto composition = compose(source.asset, {{0, 1, 1}});
        auto settings = fullFrame();
        settings.geometry = {320, 180, 1, 1, 318, 178};
        std::string out = folder.file(camera ? "odd-camera.mov" : "odd.mov");
        CompositionEncoder::encode(source.path, out, composition, settings, {}, CancelToken());
        // Output column 18 is source column 19 (bar), 19 is source 20 (red); rows alike.
        EXPECT_LT(brightness(yux::testing::pixelAt(out, 0, 17, 8)), 30) << camera;
        EXPECT_GT(brightness(yux::testing::pixelAt(out, 0, 19, 8)), 60) << camera;
        EXPECT_LT(brightness(yux::testing::pixelAt(out, 0, 8, 19)), 30) << camera;
        EXPECT_GT(brightness(yux::testing::pixelAt(out, 0, 8, 21)), 60) << camera;
    }
}

TEST(CompositionEncoder, HeaderClaimingHoursStopsAtTheEndOfTheMedia) {
    TemporaryDirectory folder;
    yux::testing::TimedMovieOptions options;
    options.durationSeconds = 3;
    options.screen = {{0, {200, 30, 30}}, {1.5, {30, 30, 200}}};
    options.audio = {{"systemAudio", 0, 3, {{0, 3, 440, 0.5}}}};
    std::string path = folder.file("lying.mov");
    yux::testing::writeTimedMovie(path, options);
    // The movie and media headers' durations (version 0: a 32-bit count after four 32-bit fields)
    // say 49 days.
    std::string bytes = yux::testing::readWholeFile(path);
    int patched = 0;
    for (const char* box : {"mvhd", "mdhd"}) {
        for (auto at = bytes.find(box); at != std::string::npos; at = bytes.find(box, at + 4)) {
            ASSERT_EQ(bytes[at + 4], 0);
            for (int i = 0; i < 4; ++i) bytes[at + 20 + i] = static_cast<char>(0xff);
            ++patched;
        }
    }
    ASSERT_GE(patched, 3);
    yux::testing::writeWholeFile(path, bytes);
    // The probe reads the tracks' own length past the lying headers; the section below still
    // asks for an hour.
    auto asset = MediaAsset::open(path);

    auto composition = compose(asset, {{0, 3600, 1}});
    std::string out = folder.file("out.mov");
    CompositionEncoder::encode(path, out, composition, fullFrame(), {}, CancelToken());
    auto result = MediaAsset::open(out);
    EXPECT_NEAR(result.tracks[0].duration.seconds(), 3.0, 0.05);
    EXPECT_NEAR(static_cast<double>(yux::testing::readAudio(out).frames) / 48000, 3.0, 0.05);
}

TEST(CompositionEncoder, DestinationThatAppearedAfterTheCheckIsLeftAlone) {
    TemporaryDirectory folder;
    auto source = makeSource(folder, false);
    auto composition = compose(source.asset, {{0, 1, 1}});
    std::string out = folder.file("taken.mov");
    yux::testing::writeWholeFile(out, "another program's file");
    EXPECT_THROW(CompositionEncoder::encode(source.path, out, composition, fullFrame(), {}, CancelToken()), OutputFileExistsError);
    EXPECT_EQ(yux::testing::readWholeFile(out), "another program's file");
}

TEST(CompositionEncoder, VideoOnlyCompositionWritesNoAudioTrack) {
    TemporaryDirectory folder;
    auto source = makeSource(folder, false);
    auto composition = EditComposition::build(source.asset.tracksOf(MediaTrackType::video), {{0, 1, 1}});
    std::string out = folder.file("video.mov");
    CompositionEncoder::encode(source.path, out, composition, fullFrame(), {}, CancelToken());
    auto result = MediaAsset::open(out);
    ASSERT_EQ(result.tracks.size(), 1u);
    EXPECT_NEAR(result.tracks[0].duration.seconds(), 1.0, 1e-3);
}

TEST(CompositionEncoder, FailedWriteMidExportIsToldPlainlyAndLeavesNoFile) {
    TemporaryDirectory folder;
    auto source = makeSource(folder, false);
    auto composition = compose(source.asset, {{0, 4, 1}});
    std::string out = folder.file("limited.mov");
    // A file-size limit stops the writes part way (no other file is written meanwhile).
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit{20000, previous.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    std::string result = "no failure";
    try {
        CompositionEncoder::encode(source.path, out, composition, fullFrame(), {}, CancelToken());
    } catch (const MediaFailure& failure) {
        result = std::string(failure.what()) + (failure.cause().empty() ? "" : " (with cause)");
    } catch (const std::exception& other) {
        result = std::string("other: ") + other.what();
    }
    setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(result, "The exported movie cannot be written. (with cause)");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(CompositionEncoder, DestinationThatCannotBeCreatedSaysWhy) {
    TemporaryDirectory folder;
    auto source = makeSource(folder, false);
    auto composition = compose(source.asset, {{0, 1, 1}});
    std::string out = folder.file("no-such-folder/out.mov");
    try {
        CompositionEncoder::encode(source.path, out, composition, fullFrame(), {}, CancelToken());
        ADD_FAILURE() << "no error";
    } catch (const MediaFailure& failure) {
        EXPECT_EQ(std::string(failure.what()), "Cannot create " + out + ": a parent folder is missing.");
        EXPECT_FALSE(failure.isFixedText());
    }
}

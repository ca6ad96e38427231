// Where pictures and sounds land in an export: frame rate of idle and still screens, late tracks,
// cuts and speed changes, levels, and recordings without sound.
#include "editor/ffmpeg_recording_trim_boundary.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "model/app_error.hpp"
#include "model/recording_preset.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/media_asset.hpp"
#include "editor/export_presets.hpp"
#include "support/recording_debug_log.hpp"
#include "support/temporary_directory.hpp"
#include "support/timed_movie.hpp"

using namespace yux;
using platform::waitForTask;
namespace support = yux::testing;
using support::untouchedPreset;
using support::Rgb;
using ::testing::HasSubstr;

namespace {

constexpr Rgb kRed{230, 30, 30}, kGreen{30, 200, 40}, kBlue{30, 60, 230}, kYellow{230, 220, 40}, kCyan{40, 210, 220},
    kWhite{240, 240, 240}, kDark{40, 40, 40};

// Half size: forces a re-encode and nothing else.
RecordingPreset halfSize() {
    auto preset = untouchedPreset();
    preset.resolutionScale = 0.5;
    return preset;
}

TrimSelection sections(std::vector<RecordingEdit::Section> list, std::map<std::int32_t, RecordingAudioLevel> levels = {}) {
    return TrimSelection(std::move(list), {}, std::move(levels));
}

const platform::MediaTrack& firstTrack(const platform::MediaAsset& asset, platform::MediaTrackType type) {
    for (const auto& track : asset.tracks) {
        if (track.type == type) return track;
    }
    throw std::runtime_error("no such track");
}

class ExportTimingTest : public ::testing::Test {
protected:
    std::string timedMovie(const std::string& name, const support::TimedMovieOptions& options) {
        std::string path = folder.file(name);
        support::writeTimedMovie(path, options);
        return path;
    }
    // A still screen over one sound track, as a slide with a voice-over records.
    std::string stillWithSound(const std::string& name, double seconds, support::TimedAudioTrack sound) {
        support::TimedMovieOptions options;
        options.durationSeconds = seconds;
        options.screen = {{0, kDark}};
        options.audio = {std::move(sound)};
        return timedMovie(name, options);
    }
    std::string exported(const std::string& source, const std::string& name, const TrimSelection& selection,
                         const RecordingPreset& preset) {
        std::string destination = folder.file(name);
        waitForTask(boundary.exportTrimmedSegment(source, destination, selection, preset, {}));
        return destination;
    }
    std::string lastMode() const {
        auto line = debugLog->lines().back();
        return line.substr(line.rfind(" mode=") + 6);
    }

    support::TemporaryDirectory folder;
    std::shared_ptr<support::RecordingDebugLog> debugLog = std::make_shared<support::RecordingDebugLog>();
    FfmpegRecordingTrimBoundary boundary{debugLog};
};

}  // namespace

TEST_F(ExportTimingTest, IdleScreenExportsAtItsStoredRateWithEachPictureAtItsTime) {
    support::TimedMovieOptions options;
    options.durationSeconds = 2;
    // Three pictures on the 60 fps grid, an idle stretch, a picture half an interval late, another
    // idle stretch: the smallest gap alone would say 120 fps.
    options.screen = {{0, kRed}, {1.0 / 60, kGreen}, {2.0 / 60, kBlue}, {0.5, kYellow}, {0.5 + 1.0 / 120, kCyan}, {1.5, kWhite}};
    options.screenFrameRate = "60";
    auto movie = timedMovie("idle.mov", options);
    auto out = exported(movie, "out.mov", TrimSelection(0, 2), halfSize());

    auto times = support::pictureTimes(out);
    ASSERT_EQ(times.size(), 120u);
    for (std::size_t n = 0; n < times.size(); ++n) EXPECT_NEAR(times[n], n / 60.0, 1e-4) << n;
    auto shown = support::picturesAt(out, 80, 45);
    ASSERT_EQ(shown.size(), 120u);
    for (const auto& picture : shown) {
        // The source picture on screen at that time; idle stretches hold the last one.
        Rgb expected = options.screen.front().color;
        for (const auto& source : options.screen) {
            if (source.seconds <= picture.seconds + 1e-6) expected = source.color;
        }
        EXPECT_TRUE(support::near(picture.color, expected, 20)) << picture.seconds;
    }
}

TEST_F(ExportTimingTest, TakeFromTheScratchWriterWithIdleGapsExportsAtItsNominalRate) {
    // Pictures only on change, as a damage-paced screen delivers them: a still stretch of over a
    // second, then one picture half an interval off the grid; the writer stores the nominal 60.
    const std::vector<support::TimedPicture> screen{{0, kRed}, {1.0 / 60, kGreen}, {1.25, kBlue}, {1.25 + 1.0 / 120, kYellow}};
    const double stop = 2;
    std::string movie = folder.file("take.mov");
    // The sound runs to the stop, as in any take; the screen sent nothing after its last change.
    support::writeScratchTake(movie, screen, stop, "60");

    auto out = exported(movie, "out.mov", TrimSelection(0, stop), halfSize());
    auto shown = support::picturesAt(out, 80, 45);
    EXPECT_EQ(shown.size(), 120u);
    for (const auto& picture : shown) {
        Rgb expected = screen.front().color;
        for (const auto& source : screen) {
            if (source.seconds <= picture.seconds + 1e-6) expected = source.color;
        }
        EXPECT_TRUE(support::near(picture.color, expected, 20)) << picture.seconds;
    }
}

TEST_F(ExportTimingTest, StillScreenExportsWithCutSpeedAndCropAtItsStoredRateOr30) {
    support::TimedMovieOptions options;
    options.durationSeconds = 4;
    options.screen = {{0, kGreen}};
    options.audio = {{"systemAudio", 0, 4, {{0, 4, 440, 0.5}}}};
    for (std::optional<std::string> stored : {std::optional<std::string>(), std::optional<std::string>("24")}) {
        options.screenFrameRate = stored;
        auto movie = timedMovie("still.mov", options);
        // 1 s at speed 1, then 2 s at speed 2, the left half of the picture: 2 s of output.
        auto selection = sections({{0.5, 1.5, 1, true}, {2, 4, 2, true}});
        selection.crop.set(RecordingCrop::Field::width, 160, Size{320, 180});
        selection.crop.move(Point{0, 0}, Size{320, 180});
        auto out = exported(movie, "still-out.mov", selection, untouchedPreset());

        double rate = stored ? 24 : 30;
        auto asset = platform::MediaAsset::open(out);
        const auto& video = firstTrack(asset, platform::MediaTrackType::video);
        EXPECT_EQ(video.width, 160);
        EXPECT_EQ(support::pictureTimes(out).size(), static_cast<std::size_t>(2 * rate));
        EXPECT_NEAR(video.duration.seconds(), 2.0, 1e-3);
        EXPECT_NEAR(static_cast<double>(support::readAudio(out).frames) / 48000, 2.0, 1024.0 / 48000);
        for (const auto& picture : support::picturesAt(out, 80, 90)) EXPECT_TRUE(support::near(picture.color, kGreen, 20));
        std::filesystem::remove(movie);
        std::filesystem::remove(out);
    }
}

TEST_F(ExportTimingTest, SparsePicturesWithoutAStoredRateStillEndWithTheSound) {
    // Two pictures 3.5 s apart and no stored rate: the export runs at 1 / 3.5 s, and its last
    // picture lasts to the end of the sound, not a whole interval past it.
    support::TimedMovieOptions options;
    options.durationSeconds = 4;
    options.screen = {{0, kGreen}, {3.5, kBlue}};
    options.audio = {{"systemAudio", 0, 4, {{0, 4, 440, 0.5}}}};
    auto movie = timedMovie("sparse.mov", options);
    auto out = exported(movie, "out.mov", TrimSelection(0, 4), halfSize());
    EXPECT_EQ(support::pictureTimes(out).size(), 2u);
    auto asset = platform::MediaAsset::open(out);
    EXPECT_NEAR(firstTrack(asset, platform::MediaTrackType::video).duration.seconds(), 4.0, 1e-3);
    EXPECT_NEAR(asset.durationSeconds, 4.0, 0.03);
}

TEST_F(ExportTimingTest, StillScreenWithMovingCameraKeepsEveryCameraPictureAndEndsWithItsSound) {
    support::TimedMovieOptions options;
    options.durationSeconds = 6;
    options.screen = {{0, kDark}};
    for (int k = 0; k < 180; ++k) options.camera.push_back(k / 30.0);
    options.audio = {{"systemAudio", 0, 6, {{0, 6, 440, 0.5}}}};
    auto movie = timedMovie("camera.mov", options);
    auto out = exported(movie, "out.mov", TrimSelection(0, 6), untouchedPreset());
    EXPECT_EQ(lastMode(), "encode");

    auto shown = support::cameraPicturesShown(out, 180);
    ASSERT_EQ(shown.size(), 180u);
    for (int k = 0; k < 180; ++k) EXPECT_EQ(shown[static_cast<std::size_t>(k)], k);
    auto asset = platform::MediaAsset::open(out);
    double videoSeconds = firstTrack(asset, platform::MediaTrackType::video).duration.seconds();
    double audioSeconds = static_cast<double>(support::readAudio(out).frames) / 48000;
    EXPECT_NEAR(videoSeconds, 6.0, 1e-3);
    EXPECT_NEAR(audioSeconds, 6.0, 1024.0 / 48000);
}

TEST_F(ExportTimingTest, AudioTrackThatStartsLateKeepsItsOffsetThroughCutsAndSpeed) {
    // The track's media begins at 1 s with a tone that lasts a second.
    auto movie = stillWithSound("late.mov", 3, {"systemAudio", 1, 3, {{1, 2, 1000, 0.5}}});
    auto asset = platform::MediaAsset::open(movie);
    ASSERT_NEAR(firstTrack(asset, platform::MediaTrackType::audio).start.seconds(), 1.0, 0.03);

    struct Case {
        std::vector<RecordingEdit::Section> sections;
        double toneAt;
    };
    int index = 0;
    for (const auto& c : {Case{{{0, 3, 1, true}}, 1.0}, Case{{{0.5, 3, 1, true}}, 0.5}, Case{{{0, 3, 2, true}}, 0.5}}) {
        auto out = exported(movie, "late-" + std::to_string(index++) + ".mov", sections(c.sections), halfSize());
        EXPECT_NEAR(support::firstSoundAt(out), c.toneAt, 0.02) << index;
    }
}

TEST_F(ExportTimingTest, FlashAndBeepLandTogetherAfterACutAtOneAndTwiceTheSpeed) {
    support::TimedMovieOptions options;
    options.durationSeconds = 6;
    options.screen = {{0, kDark}, {3.0, kWhite}, {3.2, kDark}};
    options.screenFrameRate = "30";
    options.audio = {{"systemAudio", 0, 6, {{3.0, 3.2, 1000, 0.8}}}};
    auto movie = timedMovie("sync.mov", options);
    for (double speed : {1.0, 2.0}) {
        // Second 0 to 1, then 2 to 4 at `speed`: source second 3 plays at 1 + 1 / speed.
        auto out = exported(movie, "sync-" + std::to_string(static_cast<int>(speed)) + ".mov",
                            sections({{0, 1, 1, true}, {2, 4, speed, true}}), untouchedPreset());
        EXPECT_EQ(lastMode(), "encode");
        double expected = 1 + 1 / speed;
        EXPECT_NEAR(support::firstPictureShowing(out, kWhite, 160, 90), expected, 1.0 / 30 + 1e-3) << speed;

        EXPECT_NEAR(support::firstSoundAt(out), expected, 0.02) << speed;
    }
}

TEST_F(ExportTimingTest, TrackGainOfAHalfHalvesTheLevel) {
    auto movie = stillWithSound("tone.mov", 2, {"systemAudio", 0, 2, {{0, 2, 440, 0.5}}});
    auto id = firstTrack(platform::MediaAsset::open(movie), platform::MediaTrackType::audio).trackID;

    auto unity = exported(movie, "unity.mov", TrimSelection(0, 2), halfSize());
    auto half = exported(movie, "half.mov", sections({{0, 2, 1, true}}, {{id, RecordingAudioLevel{0.5f, false}}}), untouchedPreset());
    EXPECT_EQ(lastMode(), "encode");
    double full = support::readAudio(unity).rms;
    EXPECT_NEAR(full, 0.5 / std::sqrt(2.0), 0.02);
    EXPECT_NEAR(support::readAudio(half).rms / full, 0.5, 0.02);
}

TEST_F(ExportTimingTest, CroppingOnlyTheBottomIsAReencode) {
    support::TestMovieOptions options;
    options.durationSeconds = 1;
    std::string movie = folder.file("plain.mov");
    support::writeTestMovie(movie, options);
    TrimSelection selection(0, platform::MediaAsset::open(movie).durationSeconds);
    selection.crop.set(RecordingCrop::Field::height, 90, Size{320, 180});
    selection.crop.move(Point{0, 0}, Size{320, 180});
    ASSERT_EQ(selection.crop.rect(), (Rect{0, 0, 1, 0.5}));
    auto out = exported(movie, "bottom.mov", selection, untouchedPreset());
    EXPECT_EQ(lastMode(), "encode");
    auto video = firstTrack(platform::MediaAsset::open(out), platform::MediaTrackType::video);
    EXPECT_EQ(video.width, 320);
    EXPECT_EQ(video.height, 90);
}

TEST_F(ExportTimingTest, RecordingWithoutSoundIsCopiedAndReencodedWithoutAnAudioTrack) {
    support::TestMovieOptions options;
    options.durationSeconds = 2;
    options.systemAudio = false;
    std::string movie = folder.file("silent.mov");
    support::writeTestMovie(movie, options);
    double duration = platform::MediaAsset::open(movie).durationSeconds;

    auto copy = exported(movie, "copy.mov", TrimSelection(0, duration), untouchedPreset());
    EXPECT_EQ(lastMode(), "copy");
    auto encoded = exported(movie, "encoded.mov", TrimSelection(0.5, duration), halfSize());
    EXPECT_EQ(lastMode(), "encode");
    for (const auto& [path, seconds] : {std::pair{copy, duration}, std::pair{encoded, duration - 0.5}}) {
        auto asset = platform::MediaAsset::open(path);
        ASSERT_EQ(asset.tracks.size(), 1u) << path;
        EXPECT_EQ(asset.tracks[0].type, platform::MediaTrackType::video);
        EXPECT_NEAR(asset.tracks[0].duration.seconds(), seconds, 1.0 / 30 + 1e-3) << path;
    }
}

TEST_F(ExportTimingTest, UnreadableSourceIsToldInOurWordsWithTheLibrarysInTheLog) {
    std::string movie = folder.file("garbage.mov");
    support::writeWholeFile(movie, std::string(4096, 'x'));
    try {
        waitForTask(boundary.exportTrimmedSegment(movie, folder.file("out.mov"), TrimSelection(0, 1), untouchedPreset(), {}));
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "The source movie cannot be read.");
    }
    EXPECT_THAT(debugLog->lines().back(),
                ::testing::StartsWith("trim_export_failed source=" + movie + " detail=The source movie cannot be read. cause="));
    EXPECT_FALSE(std::filesystem::exists(folder.file("out.mov")));
}

TEST_F(ExportTimingTest, EncoderThatCannotStartIsToldWithThePipelinesTextAndTheLibrarysInTheLog) {
    // The HEVC encoder takes no picture smaller than 16 pixels; the crop may be 2.
    support::TestMovieOptions options;
    options.durationSeconds = 1;
    std::string movie = folder.file("plain.mov");
    support::writeTestMovie(movie, options);
    TrimSelection selection(0, 0.5);
    selection.crop.set(RecordingCrop::Field::width, 2, Size{320, 180});
    auto preset = untouchedPreset();
    preset.codec = RecordingVideoCodec::hevc;
    std::string destination = folder.file("tiny.mov");
    try {
        waitForTask(boundary.exportTrimmedSegment(movie, destination, selection, preset, {}));
        ADD_FAILURE() << "no error";
    } catch (const AppError& error) {
        EXPECT_EQ(error.detail(), "Encoder could not start");
    }
    auto line = debugLog->lines().back();
    EXPECT_THAT(line, ::testing::StartsWith("trim_export_failed source=" + movie +
                                            " detail=outputFinalizationFailed(\"Encoder could not start\") cause="));
    EXPECT_THAT(line, HasSubstr("Opening the video encoder failed"));
    EXPECT_FALSE(std::filesystem::exists(destination));
}

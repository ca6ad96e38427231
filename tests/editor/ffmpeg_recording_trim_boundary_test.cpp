#include "editor/ffmpeg_recording_trim_boundary.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <mutex>

#include "model/log_text.hpp"
#include "model/app_error.hpp"
#include "model/recording_preset.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/media_asset.hpp"
#include "editor/export_presets.hpp"
#include "support/recording_debug_log.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"

using namespace yux;
using platform::waitForTask;
namespace support = yux::testing;
using support::untouchedPreset;
using support::RecordingDebugLog;
using support::TemporaryDirectory;
using ::testing::HasSubstr;

namespace {

class Progress {
public:
    RecordingTrimBoundary::ProgressHandler handler() {
        return [this](const RecordingExportProgress& p) {
            std::lock_guard guard(mutex_);
            reports_.push_back(p);
        };
    }
    std::vector<RecordingExportProgress> reports() const {
        std::lock_guard guard(mutex_);
        return reports_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<RecordingExportProgress> reports_;
};

class TrimBoundaryTest : public ::testing::Test {
protected:
    std::string makeMovie(const std::string& name, support::TestMovieOptions options) {
        std::string path = folder.file(name);
        support::writeTestMovie(path, options);
        return path;
    }
    // Screen and system audio only: the layout that can be copied.
    std::string simpleMovie(double seconds = 2) {
        support::TestMovieOptions options;
        options.durationSeconds = seconds;
        return makeMovie("simple.mov", options);
    }

    std::string exportFailure(const std::string& source, const std::string& destination, TrimSelection selection,
                              RecordingPreset preset = untouchedPreset(), platform::CancelToken cancel = {}) {
        try {
            waitForTask(boundary.exportTrimmedSegment(source, destination, selection, preset, {}, cancel));
        } catch (const AppError& error) {
            return error.detail();
        } catch (const platform::CancelledError&) {
            return "cancelled";
        }
        return "no failure";
    }

    TemporaryDirectory folder;
    std::shared_ptr<RecordingDebugLog> debugLog = std::make_shared<RecordingDebugLog>();
    FfmpegRecordingTrimBoundary boundary{debugLog};
};

}  // namespace

TEST_F(TrimBoundaryTest, ProbesTheDurationAndRefusesAMovieWithoutOne) {
    auto movie = simpleMovie(2);
    EXPECT_NEAR(waitForTask(boundary.loadDurationSeconds(movie)), 2.0, 0.05);
    EXPECT_THROW(waitForTask(boundary.loadDurationSeconds(folder.file("missing.mov"))), std::runtime_error);
    // A raw stream states no duration at all.
    support::TestMovieOptions raw;
    raw.systemAudio = false;
    raw.container = "h264";
    auto stream = makeMovie("stream.h264", raw);
    try {
        waitForTask(boundary.loadDurationSeconds(stream));
        ADD_FAILURE() << "no error";
    } catch (const AppError& error) {
        EXPECT_EQ(error.detail(), "Invalid media duration");
    }
    EXPECT_TRUE(debugLog->lines().empty());
    // The export refuses it too, rather than letting any section through.
    EXPECT_EQ(exportFailure(stream, folder.file("out.mov"), TrimSelection(0, 1)), "Invalid media duration");
    EXPECT_FALSE(std::filesystem::exists(folder.file("out.mov")));
}

TEST_F(TrimBoundaryTest, ValidatesSectionsWithTheirTexts) {
    auto movie = simpleMovie(2);
    auto destination = folder.file("out.mov");
    double duration = platform::MediaAsset::open(movie).durationSeconds;
    double nan = std::numeric_limits<double>::quiet_NaN();

    EXPECT_EQ(exportFailure(movie, movie, TrimSelection(0, 1)), "Export cannot replace source");
    EXPECT_TRUE(debugLog->lines().empty());

    EXPECT_EQ(exportFailure(movie, destination, TrimSelection()), "Select at least one valid section");
    EXPECT_EQ(exportFailure(movie, destination, TrimSelection(0, duration + 0.0011)), "Select at least one valid section");
    EXPECT_EQ(exportFailure(movie, destination, TrimSelection(nan, 1)), "Select at least one valid section");
    EXPECT_EQ(exportFailure(movie, destination, TrimSelection(1, 1)), "Select at least one valid section");
    EXPECT_EQ(exportFailure(movie, destination, TrimSelection({{0, 1, 3, true}}, {}, {})), "Select at least one valid section");
    EXPECT_EQ(exportFailure(movie, destination, TrimSelection({{0, 1, 1, true}, {0.5, 2, 1, true}}, {}, {})), "Sections overlap");
    EXPECT_EQ(exportFailure(movie, destination, TrimSelection({{1, 2, 1, true}, {0, 1, 1, true}}, {}, {})), "Sections overlap");
    EXPECT_FALSE(std::filesystem::exists(destination));

    auto lines = debugLog->lines();
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[0], "trim_export_progress phase=preparing fraction=0 source=" + movie);
    EXPECT_EQ(lines[1], "trim_export_failed source=" + movie +
                            " detail=outputFinalizationFailed(\"Select at least one valid section\")");
    EXPECT_EQ(lines[13], "trim_export_failed source=" + movie + " detail=outputFinalizationFailed(\"Sections overlap\")");

    // A section ending within a millisecond past the end is accepted (and copies the whole movie).
    Progress progress;
    waitForTask(boundary.exportTrimmedSegment(movie, destination, TrimSelection(0, duration + 0.0009), untouchedPreset(),
                                              progress.handler()));
    EXPECT_TRUE(std::filesystem::exists(destination));
}

TEST_F(TrimBoundaryTest, RecordingWithoutPicturesIsRefused) {
    support::TestMovieOptions options;
    options.screen = false;
    options.durationSeconds = 1;
    auto movie = makeMovie("sound.mov", options);
    EXPECT_EQ(exportFailure(movie, folder.file("out.mov"), TrimSelection(0, 0.5)), "Recording has no video track");
}

TEST_F(TrimBoundaryTest, UnchangedRecordingIsCopiedWithItsStreams) {
    auto movie = simpleMovie(2);
    double duration = platform::MediaAsset::open(movie).durationSeconds;
    auto destination = folder.file("new/folder/copy.mov");
    Progress progress;
    TrimSelection touching({{0, 1, 1, true}, {1, duration, 1, true}}, {}, {{2, RecordingAudioLevel{}}});
    waitForTask(boundary.exportTrimmedSegment(movie, destination, touching, untouchedPreset(), progress.handler()));

    auto in = platform::MediaAsset::open(movie);
    auto out = platform::MediaAsset::open(destination);
    EXPECT_DOUBLE_EQ(out.durationSeconds, in.durationSeconds);
    ASSERT_EQ(out.tracks.size(), in.tracks.size());
    for (std::size_t i = 0; i < in.tracks.size(); ++i) {
        EXPECT_EQ(out.tracks[i].title, in.tracks[i].title);
        EXPECT_EQ(out.tracks[i].trackID, in.tracks[i].trackID);
        EXPECT_EQ(out.codecTag(out.tracks[i]), in.codecTag(in.tracks[i]));
    }
    auto reports = progress.reports();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports.front().section, 1);
    EXPECT_LE(reports.front().fraction, 0.99);
    EXPECT_EQ(reports.back().fraction, 1.0);
    EXPECT_EQ(reports.back().section, 2);
    EXPECT_EQ(reports.back().sectionCount, 2);
    EXPECT_EQ(reports.back().remainingSeconds, 0.0);
    EXPECT_THAT(debugLog->lines().back(), HasSubstr("trim_export_progress phase=completed fraction=1 elapsed="));
    EXPECT_THAT(debugLog->lines().back(), HasSubstr(" mode=copy"));
}

TEST_F(TrimBoundaryTest, ExistingDestinationIsRefusedAndKept) {
    auto movie = simpleMovie(1);
    auto destination = folder.file("taken.mov");
    support::writeWholeFile(destination, "precious");
    EXPECT_EQ(exportFailure(movie, destination, TrimSelection(0, 0.5)), "Export destination already exists");
    EXPECT_EQ(support::readWholeFile(destination), "precious");
}

TEST_F(TrimBoundaryTest, CancellationRemovesTheDestinationOfACopyAndOfAnEncode) {
    support::TestMovieOptions options;
    options.durationSeconds = 3;
    auto movie = makeMovie("long.mov", options);
    double duration = platform::MediaAsset::open(movie).durationSeconds;

    for (bool encode : {false, true}) {
        auto destination = folder.file(encode ? "encode.mov" : "copy.mov");
        platform::CancelToken cancel;
        auto handler = [&](const RecordingExportProgress&) { cancel.cancel(); };
        TrimSelection selection(0, encode ? 2.0 : duration);
        auto task = boundary.exportTrimmedSegment(movie, destination, selection, untouchedPreset(), handler, cancel);
        EXPECT_THROW(waitForTask(task), platform::CancelledError);
        EXPECT_FALSE(std::filesystem::exists(destination));
        EXPECT_EQ(debugLog->lines().back(), "trim_export_failed source=" + movie + " detail=CancelledError()");
    }
}

TEST_F(TrimBoundaryTest, EditedRecordingIsEncodedWithCutsSpeedCropAndScale) {
    support::TestMovieOptions options;
    options.durationSeconds = 4;
    options.camera = true;
    options.microphone = true;
    auto movie = makeMovie("four.mov", options);
    auto destination = folder.file("edited.mov");
    auto preset = untouchedPreset();
    preset.resolutionScale = 0.5;
    // Seconds 0-1 at speed 1, then 2-4 at speed 2; the left half of the picture.
    TrimSelection selection({{0, 1, 1, true}, {2, 4, 2, true}}, {}, {});
    selection.crop.set(RecordingCrop::Field::width, 80, Size{160, 90});
    selection.crop.move(Point{0, 0}, Size{160, 90});
    Progress progress;
    waitForTask(boundary.exportTrimmedSegment(movie, destination, selection, preset, progress.handler()));

    auto out = platform::MediaAsset::open(destination);
    auto videos = out.tracksOf(platform::MediaTrackType::video);
    ASSERT_EQ(videos.size(), 1u);
    ASSERT_EQ(out.tracksOf(platform::MediaTrackType::audio).size(), 1u);
    EXPECT_EQ(videos[0].width, 80);
    EXPECT_EQ(videos[0].height, 90);
    EXPECT_NEAR(videos[0].duration.seconds(), 2.0, 1.0 / 30 + 1e-6);
    EXPECT_NEAR(static_cast<double>(support::readAudio(destination).frames) / 48000, videos[0].duration.seconds(),
                1024.0 / 48000);
    EXPECT_TRUE(support::near(support::pixelAt(destination, 1.25, 20, 60), support::screenColorAt(2)));
    EXPECT_THAT(debugLog->lines().back(), HasSubstr(" mode=encode"));
    EXPECT_THAT(debugLog->lines(), ::testing::Contains(HasSubstr("trim_export_progress phase=encoding fraction=0.0 elapsed=")));
    EXPECT_EQ(progress.reports().back().fraction, 1.0);
}


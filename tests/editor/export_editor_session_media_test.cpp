// The editor over real movies and the live player (silent, on a clock the test moves).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "editor_session_support.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/media_asset.hpp"
#include "support/app_error_expectations.hpp"
#include "support/preview_test_clock.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"
#include "support/timed_movie.hpp"

using namespace yux;
using namespace yux::testing;
using platform::waitForTask;

namespace {

// Exports through the real pipeline into `destination`.
class PipelineSaveHandler : public TrimPreviewSaveHandling {
public:
    PipelineSaveHandler(std::string source, std::string destination)
        : source_(std::move(source)), destination_(std::move(destination)) {}

    QCoro::Task<RecordingExportResult> saveTrimPreview(TrimSelection selection, RecordingPreset profile,
                                                       ProgressHandler progress, platform::CancelToken cancel) override {
        auto exporting = boundary_.exportTrimmedSegment(source_, destination_, std::move(selection), std::move(profile),
                                                        std::move(progress), cancel);
        co_await exporting;
        co_return RecordingExportResult{{destination_, Date::now()},
                                        static_cast<std::int64_t>(std::filesystem::file_size(destination_))};
    }

private:
    FfmpegRecordingTrimBoundary boundary_{std::make_shared<RecordingDebugLog>()};
    std::string source_;
    std::string destination_;
};

class ExportEditorMedia : public ::testing::Test {
protected:
    TemporaryDirectory folder;
    std::shared_ptr<RecordingDebugLog> log = std::make_shared<RecordingDebugLog>();
    ScriptedSaveHandler scripted;
    ManualClock clock;

    std::shared_ptr<ExportEditorSession> open(const std::string& path, TrimPreviewSaveHandling* handler = nullptr,
                                              PendingRecordingArtifact artifact = artifactWith(bestH264Preset())) {
        EditorServices services{platform::PreviewPlayer::create(std::nullopt, clock.function()),
                                EditorPreviewLoaders::forMovie(path), {}};
        return waitForTask(ExportEditorSession::open(path, std::move(artifact), handler ? handler : &scripted, log,
                                                     [](TrimPreviewOutcome) {}, std::move(services)));
    }
    std::string movie(const TestMovieOptions& options, const std::string& name = "take.mov") {
        auto path = folder.file(name);
        writeTestMovie(path, options);
        return path;
    }
};

}  // namespace

TEST_F(ExportEditorMedia, OpeningRefusesWhatCannotBeEdited) {
    TestMovieOptions soundOnly;
    soundOnly.screen = false;
    auto noVideo = movie(soundOnly, "sound.mov");
    expectAppError([&] { open(noVideo); }, AppError::outputFinalizationFailed("Recording has no video track"));

    auto take = movie({});
    expectAppError([&] { open(take, nullptr, artifactWith(bestH264Preset(), 1, "medium")); },
                   AppError::outputFinalizationFailed("Default export preset unavailable"));

    // The screen's picture description turned into an unknown format, with or without its size.
    auto unknownFormat = [&](const std::string& name, bool keepSize) {
        auto path = movie({}, name);
        std::string bytes;
        {
            std::ifstream in(path, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        auto entry = bytes.find("avc1", bytes.find("stsd"));
        EXPECT_NE(entry, std::string::npos);
        bytes.replace(entry, 4, "zzzz");
        // Width and height follow the format by 28 bytes in a picture description.
        if (!keepSize) bytes.replace(entry + 28, 4, std::string(4, '\0'));
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return path;
    };
    expectAppError([&] { open(unknownFormat("unsized.mov", false)); },
                   AppError::outputFinalizationFailed("Recording metadata unavailable"));
    expectAppError([&] { open(unknownFormat("undecodable.mov", true)); },
                   AppError::outputFinalizationFailed("Cannot prepare source preview"));

    // A raw stream states no duration.
    TestMovieOptions raw;
    raw.container = "h264";
    raw.systemAudio = false;
    auto stream = movie(raw, "take.h264");
    expectAppError([&] { open(stream); }, AppError::outputFinalizationFailed("Invalid recording duration"));
}

TEST_F(ExportEditorMedia, OpeningReadsTheFirstPictureTrack) {
    TestMovieOptions options;
    options.camera = true;
    options.microphone = true;
    auto path = movie(options);
    auto session = open(path);
    EXPECT_EQ(session->sourceSize(), (Size{320, 180}));
    EXPECT_EQ(session->sourceFrameRate(), 30);
    EXPECT_EQ(session->sourceCodec(), RecordingVideoCodec::h264);
    ASSERT_EQ(session->sources().size(), 4u);
    EXPECT_EQ(session->sources()[1].kind, RecordingSourceKind::camera);
    EXPECT_NEAR(session->edit().duration(), 3, 0.05);
    EXPECT_EQ(session->reasons().front(), "camera");

    session->start();
    ASSERT_TRUE(runUntil([&] { return session->thumbnails().size() == 2 && session->waveforms().size() == 2; }));
    const QImage& camera = session->thumbnails().at(session->sources()[1].id).front();
    EXPECT_EQ(camera.format(), QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(camera.pixel(0, 0)), 0) << "the camera's transparency is kept";
    EXPECT_FALSE(session->waveformError());
    session->completeWithDiscardIfNeeded();
}

TEST_F(ExportEditorMedia, AStillScreenOpensPlaysAndExports) {
    TimedMovieOptions options;
    options.durationSeconds = 2;
    options.screen = {{0, Rgb{40, 200, 60}}};
    options.audio = {TimedAudioTrack{"systemAudio", 0, 2, {{0, 2, 440, 0.5}}}};
    auto path = folder.file("still.mov");
    writeTimedMovie(path, options);
    PipelineSaveHandler handler(path, folder.file("out.mov"));
    auto session = open(path, &handler);
    EXPECT_EQ(session->sourceFrameRate(), 30);

    session->start();
    session->togglePlayback();
    EXPECT_TRUE(session->playing());
    std::optional<platform::PixelBuffer> picture;
    ASSERT_TRUE(runUntil([&] { return (picture = session->player().takeNewestPicture()).has_value(); }));
    const std::uint8_t* pixel = picture->row(90) + 4 * 160;
    EXPECT_TRUE(near(Rgb{pixel[2], pixel[1], pixel[0]}, Rgb{40, 200, 60}));

    session->seek(0.5);
    session->split();
    session->seek(1.0);
    session->toggleRemoval();  // only [0, 0.5) stays
    session->exportRecording();
    ASSERT_TRUE(runUntil([&] { return !session->isExporting(); }));
    ASSERT_FALSE(session->errorMessage()) << *session->errorMessage();
    ASSERT_TRUE(session->saved());
    EXPECT_NEAR(platform::MediaAsset::open(folder.file("out.mov")).durationSeconds, 0.5, 0.05);
}

TEST_F(ExportEditorMedia, PlaybackNeverStaysInsideARemovedSection) {
    TestMovieOptions options;
    options.durationSeconds = 2;
    options.systemAudio = false;
    auto path = movie(options);
    auto session = open(path);
    session->start();
    session->seek(0.5);
    session->split();
    session->seek(1.5);
    session->split();
    session->seek(1.0);
    session->toggleRemoval();
    session->seek(0);
    auto& player = session->player();
    session->togglePlayback();
    ASSERT_TRUE(session->playing());

    std::set<int> removedShown;
    auto collect = [&] {
        while (auto picture = player.takeNewestPicture()) {
            int index = frameIndexOf(*picture);
            if (index >= 15 && index < 45) removedShown.insert(index);
        }
    };
    for (int step = 0; step < 200 && session->playing(); ++step) {
        double before = session->playhead();
        clock.advance(platform::PreviewPlayer::kObserverIntervalSeconds);
        ASSERT_TRUE(runUntil([&] { return session->playhead() != before || !session->playing(); }));
        EXPECT_FALSE(session->playhead() > 0.5 && session->playhead() < 1.5) << session->playhead();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        collect();
    }
    EXPECT_FALSE(session->playing()) << "playback stops at the end";
    EXPECT_EQ(session->playhead(), 0);
    EXPECT_LE(removedShown.size(), 1u) << "removed pictures show for one tick at most";
    session->completeWithDiscardIfNeeded();
}

// A still screen records few pictures; the camera bubble over it moves at the stored rate.
TEST_F(ExportEditorMedia, AMostlyStillScreenPlaysAtItsStoredRate) {
    constexpr int kRate = 60;
    TimedMovieOptions options;
    options.durationSeconds = 2;
    options.screen = {{0, Rgb{40, 200, 60}}, {1.5, Rgb{200, 60, 40}}};
    for (int k = 0; k < 2 * kRate; ++k) options.camera.push_back(static_cast<double>(k) / kRate);
    options.screenFrameRate = std::to_string(kRate);
    auto path = folder.file("sparse.mov");
    writeTimedMovie(path, options);
    auto session = open(path);
    EXPECT_EQ(session->sourceFrameRate(), kRate);

    session->start();
    session->togglePlayback();
    ASSERT_TRUE(session->playing());
    auto& player = session->player();
    auto showsCameraPicture = [](const platform::PixelBuffer& picture, int k) {
        auto centre = cameraSquareCenter(k);
        const std::uint8_t* pixel = picture.row(centre.y) + 4 * centre.x;
        return near(Rgb{pixel[2], pixel[1], pixel[0]}, kCameraSquareColor, 40);
    };
    // Half a picture in, then one picture a step: every step shows the camera's next picture.
    clock.advance(0.5 / kRate);
    for (int k = 0; k < 12; ++k) {
        SCOPED_TRACE(k);
        if (k > 0) clock.advance(1.0 / kRate);
        std::optional<platform::PixelBuffer> picture;
        ASSERT_TRUE(runUntil([&] {
            while (auto next = player.takeNewestPicture()) picture = next;
            return picture && showsCameraPicture(*picture, k);
        })) << "the preview did not draw the camera's picture " << k;
    }
    session->completeWithDiscardIfNeeded();
}

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "model/file_recent_recording_store.hpp"
#include "model/recording_encoding_policy.hpp"
#include "model/temporary_directory_scratch_storage.hpp"
#include "platform/async/wait_for.hpp"
#include "session/recording_export_session.hpp"
#include "support/recording_debug_log.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"

namespace yux {
namespace {

// The factory as the running program builds it, with its files in `folder`.
RecordingExportSessionFactory factoryIn(const testing::TemporaryDirectory& folder) {
    auto log = std::make_shared<testing::RecordingDebugLog>();
    RecordingExportSessionFactory::Replacements replacements;
    replacements.scratchStorage = TemporaryDirectoryScratchStorage::create(LocalFileSystem(), folder.file("Scratch"));
    return RecordingExportSessionFactory(nullptr, folder.path(), log, std::make_shared<SystemClock>(),
                                         std::make_shared<FfmpegRecordingTrimBoundary>(log), replacements);
}

TEST(RecordingExportSessionFactory, OpensARealScratchMovieWithItsMeasuredFacts) {
    testing::TemporaryDirectory folder;
    const std::string take = folder.file("take.mov");
    testing::TestMovieOptions options;
    options.durationSeconds = 2.0;
    options.frameRate = 30;
    testing::writeTestMovie(take, options);
    struct stat info {};
    ASSERT_EQ(::stat(take.c_str(), &info), 0);

    auto factory = factoryIn(folder);
    const Date created = Date::fromUnixSeconds(1'800'000'000);
    auto session = platform::waitForTask(factory.open(take, created));
    const auto& artifact = session->artifact();

    EXPECT_EQ(artifact.scratchPath(), take);
    EXPECT_EQ(artifact.createdAt(), created);
    EXPECT_NEAR(artifact.durationSeconds(), 2.0, 1.0 / options.frameRate);
    EXPECT_EQ(artifact.scratchByteSize(), static_cast<std::int64_t>(info.st_size));
    EXPECT_EQ(artifact.captureDiagnostics().config, RecordingCaptureConfig::fullFidelity());
    EXPECT_DOUBLE_EQ(artifact.captureDiagnostics().actualMegabytesPerMinute,
                     RecordingPresetEstimatePolicy().actualMegabytesPerMinute(info.st_size, artifact.durationSeconds()));
    EXPECT_GT(artifact.captureDiagnostics().actualMegabytesPerMinute, 0.0);
    EXPECT_EQ(artifact.exportPresetCatalog(), RecordingPresetCatalog::validated(RecordingPresetCatalog::builtIn()));
    EXPECT_EQ(artifact.defaultExportPresetID(), RecordingPresetID("high"));
}

TEST(RecordingExportSessionFactory, AScratchFileThatIsNoMovieFailsTheOpening) {
    testing::TemporaryDirectory folder;
    const std::string take = folder.file("broken.mov");
    FILE* file = std::fopen(take.c_str(), "w");
    std::fputs("not a movie", file);
    std::fclose(file);
    auto factory = factoryIn(folder);
    EXPECT_THROW(platform::waitForTask(factory.open(take, Date::now())), std::exception);
}

}  // namespace
}  // namespace yux

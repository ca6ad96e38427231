// An export of a take whose marker cannot be written, through the real markers and pipeline.
#include <filesystem>

#include <gtest/gtest.h>

#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "model/export_temporary.hpp"
#include "model/file_recent_recording_store.hpp"
#include "model/temporary_directory_scratch_storage.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/media_asset.hpp"
#include "session/recording_export_session.hpp"
#include "session/session_doubles.hpp"
#include "shell/pending_recording_markers.hpp"
#include "support/recording_debug_log.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"

namespace yux {
namespace {

namespace fs = std::filesystem;
using platform::waitForTask;

// A folder stands where the take's marker goes: the note answers false, the export is written
// under its final name, and no hidden temporary is left in the save folder.
TEST(PendingRecordingMarkersMediaTest, AnExportWhoseNoteCannotBeWrittenGoesUnderItsOwnName) {
    testing::TemporaryDirectory folder;
    const fs::path scratch = folder.path() / "Scratch";
    const fs::path save = folder.path() / "Videos";
    fs::create_directories(scratch);
    fs::create_directories(save);
    const std::string take = (scratch / "8A1F2C3D-0000-4000-8000-000000000001.mov").string();
    testing::writeTestMovie(take, {});
    const std::string marker = PendingRecordingMarkers::markerPath(take);
    fs::create_directory(marker);

    auto log = std::make_shared<testing::RecordingDebugLog>();
    auto markers = std::make_shared<PendingRecordingMarkers>(log);
    EXPECT_FALSE(waitForTask(
        markers->noteExportTemporary(take, Date{100}, ExportTemporary::pathIn(save.string(), QUuid::createUuid()))));

    testing::Journal journal;
    testing::AwaitGates gates;
    auto settings = std::make_shared<testing::FakeSettings>(journal, gates);
    settings->settings = AppSettings::initial(SaveFolderBookmark{save.string(), {}});
    RecordingExportSessionFactory::Replacements replacements;
    replacements.saveFolderAuthority = std::make_shared<testing::FakeSaveFolderAuthority>(journal);
    replacements.scratchStorage = TemporaryDirectoryScratchStorage::create(LocalFileSystem(), scratch.string());
    replacements.recentStore =
        std::make_shared<FileRecentRecordingStore>(FileRecentRecordingStore::create_null("/support/recent.json"));
    replacements.pendingRecordings = markers;
    RecordingExportSessionFactory factory(settings, folder.path(), log, std::make_shared<SystemClock>(),
                                          std::make_shared<FfmpegRecordingTrimBoundary>(log), replacements);
    auto session = waitForTask(factory.open(take, Date{100}));
    const auto result = waitForTask(session->saveTrimPreview(
        TrimSelection(0, session->artifact().durationSeconds()), *RecordingPresetCatalog::builtIn().preset("high"), {}));

    EXPECT_EQ(fs::path(result.file.path).parent_path(), save);
    EXPECT_GT(platform::MediaAsset::open(result.file.path).durationSeconds, 0.5);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(save)) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{fs::path(result.file.path).filename().string()});
    EXPECT_TRUE(fs::is_directory(marker));
}

}  // namespace
}  // namespace yux

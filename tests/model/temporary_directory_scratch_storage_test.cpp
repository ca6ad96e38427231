#include "model/temporary_directory_scratch_storage.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "model/app_error.hpp"
#include "platform/async/wait_for.hpp"
#include "support/app_error_expectations.hpp"
#include "support/temporary_directory.hpp"

using yux::AppError;
using yux::LocalFileSystem;
using yux::LocalRecordingScratchFileSizeReader;
using yux::ScratchReservation;
using yux::TemporaryDirectoryScratchStorage;
using yux::platform::waitForTask;
using yux::testing::TemporaryDirectory;
using yux::testing::writeWholeFile;

namespace {

const QUuid kSession("{6f1c2d3e-4b5a-4c7d-8e9f-0a1b2c3d4e5f}");

template <class Action>
void expectFinalizationError(Action action, const std::string& detail) {
    yux::testing::expectAppError(action, AppError::outputFinalizationFailed(detail));
}

}  // namespace

TEST(TemporaryDirectoryScratchStorage, ReservesOneUpperCaseNamedMoviePerSessionWithoutCreatingIt) {
    auto storage = TemporaryDirectoryScratchStorage::create_null("/cache/Yux/Scratch");
    auto reservation = waitForTask(storage->reserveScratchDestination(kSession));
    EXPECT_EQ(reservation,
              (ScratchReservation{kSession, "/cache/Yux/Scratch/6F1C2D3E-4B5A-4C7D-8E9F-0A1B2C3D4E5F.mov"}));
    EXPECT_EQ(waitForTask(storage->reserveScratchDestination(kSession)), reservation);

    auto defaultFolder = TemporaryDirectoryScratchStorage::defaultBaseDirectory();
    EXPECT_TRUE(defaultFolder.ends_with("/Yux/Scratch")) << defaultFolder;
}

TEST(TemporaryDirectoryScratchStorage, DeletesExistingFilesOnlyAndRecordsEachRemoval) {
    const std::string movie = "/cache/Scratch/6F1C2D3E-4B5A-4C7D-8E9F-0A1B2C3D4E5F.mov";
    auto storage = TemporaryDirectoryScratchStorage::create_null("/cache/Scratch", {{movie, "moov"}});
    auto deleted = storage->track_deletedFiles();
    waitForTask(storage->deleteScratchFile("/cache/Scratch/never-written.mov"));
    EXPECT_TRUE(deleted->paths().empty());
    waitForTask(storage->deleteScratchFile(movie));
    waitForTask(storage->deleteScratchFile(movie));
    EXPECT_EQ(deleted->paths(), std::vector<std::string>{movie});
}

TEST(TemporaryDirectoryScratchStorage, DeletesOnlyARegularFileDirectlyInsideTheScratchFolder) {
    auto storage = TemporaryDirectoryScratchStorage::create_null(
        "/cache/Scratch", {{"/cache/Scratch/folder.mov/document.txt", "keep"}, {"/home/ann/notes.txt", "keep"}});
    auto deleted = storage->track_deletedFiles();
    for (std::string path : {"/cache/Scratch/folder.mov", "/home/ann/notes.txt", "/cache/Scratch/../../home/ann/notes.txt",
                             "/cache/Scratch", "/cache/Scratch/", "/cache/Scratch/folder.mov/document.txt",
                             "relative.mov"}) {
        expectFinalizationError([&] { waitForTask(storage->deleteScratchFile(path)); }, "scratch delete failed");
    }
    EXPECT_TRUE(deleted->paths().empty());
}

TEST(TemporaryDirectoryScratchStorageOnDisk, AFolderOrALinkPassedForDeletionSurvives) {
    TemporaryDirectory folder;
    auto base = folder.path() / "Scratch";
    auto storage = TemporaryDirectoryScratchStorage::create(LocalFileSystem(), base.string());
    waitForTask(storage->reserveScratchDestination(kSession));
    auto inner = base / "6F1C2D3E-4B5A-4C7D-8E9F-0A1B2C3D4E5F.mov";
    std::filesystem::create_directory(inner);
    writeWholeFile(inner / "document.txt", "keep");
    auto outside = folder.path() / "precious.mov";
    writeWholeFile(outside, "keep");
    auto link = base / "link.mov";
    std::filesystem::create_symlink(outside, link);

    for (const auto& path : {inner, link, outside}) {
        expectFinalizationError([&] { waitForTask(storage->deleteScratchFile(path.string())); }, "scratch delete failed");
    }
    EXPECT_EQ(yux::testing::readWholeFile(inner / "document.txt"), "keep");
    EXPECT_EQ(yux::testing::readWholeFile(outside), "keep");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(std::filesystem::is_directory(base));
}

// Only a movie that is gone for certain lets its marker go; one that cannot be looked at now
// (here a loop of links: ELOOP, as EACCES or EIO would) may still be there.
TEST(TemporaryDirectoryScratchStorageOnDisk, AMovieIsGoneOnlyWhenNothingIsThereForCertain) {
    TemporaryDirectory folder;
    auto storage = TemporaryDirectoryScratchStorage::create(LocalFileSystem(), folder.path().string());
    const auto movie = folder.path() / "take.mov";
    writeWholeFile(movie, "moov");
    const auto loop = folder.path() / "loop.mov";
    std::filesystem::create_symlink(loop, loop);
    struct stat info {};
    ASSERT_NE(::stat(loop.c_str(), &info), 0);
    ASSERT_EQ(errno, ELOOP);
    const std::pair<std::filesystem::path, bool> cases[] = {
        {movie, true},
        {folder.path() / "gone.mov", false},  // ENOENT
        {movie / "inside.mov", false},        // ENOTDIR
        {loop, true},
    };
    for (const auto& [path, there] : cases) {
        EXPECT_EQ(waitForTask(storage->scratchFileExists(path.string())), there) << path;
    }
}

TEST(TemporaryDirectoryScratchStorage, AFolderThatCannotBeMadeIsUnavailable) {
    auto storage = TemporaryDirectoryScratchStorage::create_null("/cache/Scratch", {{"/cache/Scratch", "a file"}});
    expectFinalizationError([&] { waitForTask(storage->reserveScratchDestination(kSession)); },
                            "scratch directory unavailable");
}

TEST(TemporaryDirectoryScratchStorageOnDisk, TheScratchFolderIsPrivateAndSizesAreRead) {
    TemporaryDirectory folder;
    auto base = folder.path() / "cache" / "Yux" / "Scratch";
    auto storage = TemporaryDirectoryScratchStorage::create(LocalFileSystem(), base.string());
    auto reservation = waitForTask(storage->reserveScratchDestination(kSession));
    struct stat info {};
    ASSERT_EQ(::stat(base.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_FALSE(std::filesystem::exists(reservation.filePath));

    LocalRecordingScratchFileSizeReader sizes;
    expectFinalizationError([&] { waitForTask(sizes.byteSize(reservation.filePath)); }, "scratch size unavailable");
    writeWholeFile(reservation.filePath, "");
    EXPECT_EQ(waitForTask(sizes.byteSize(reservation.filePath)), 0);
    writeWholeFile(reservation.filePath, std::string(4096, 'x'));
    EXPECT_EQ(waitForTask(sizes.byteSize(reservation.filePath)), 4096);

    waitForTask(storage->deleteScratchFile(reservation.filePath));
    EXPECT_FALSE(std::filesystem::exists(reservation.filePath));
    EXPECT_TRUE(std::filesystem::is_directory(base));
}

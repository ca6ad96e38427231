#include "model/local_file_system.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <cstdlib>
#include <filesystem>

#include "support/temporary_directory.hpp"

using yux::FileError;
using yux::FileErrorCode;
using yux::LocalFileSystem;
using yux::testing::TemporaryDirectory;

namespace {
FileErrorCode codeOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const FileError& error) {
        return error.code();
    }
    ADD_FAILURE() << "operation did not fail";
    return FileErrorCode::fileWriteUnknown;
}
}  // namespace

TEST(LocalFileSystem, WritesReadsAppendsAndRemovesOnDisk) {
    TemporaryDirectory folder;
    LocalFileSystem files;
    auto nested = folder.file("a/b");
    files.ensureDirectory(nested);
    files.ensureDirectory(nested);  // an existing folder is no error
    auto path = nested + "/log.txt";
    EXPECT_THROW(files.appendFile(path, "x"), FileError);
    EXPECT_FALSE(files.fileExists(path));  // append never creates
    files.writeFile(path, "one\n");
    files.appendFile(path, "two\n");
    EXPECT_EQ(files.readFile(path), "one\ntwo\n");
    files.writeFile(path, "new");
    EXPECT_EQ(files.readFile(path), "new");
    files.removeFile(folder.file("a"));
    EXPECT_FALSE(files.fileExists(nested));
    EXPECT_EQ(codeOf([&] { files.readFile(path); }), FileErrorCode::fileReadNoSuchFile);
    EXPECT_EQ(codeOf([&] { files.removeFile(path); }), FileErrorCode::fileNoSuchFile);
}

TEST(LocalFileSystem, FailedAtomicWriteLeavesTheOldFileWhole) {
    TemporaryDirectory folder;
    LocalFileSystem files;
    auto path = folder.file("settings.json");
    files.writeFile(path, "old content");
    // A file-size limit makes the write fail the way a full disk does, even for root.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ::setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(files.writeFile(path, std::string(4096, 'n')), FileError);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);
    EXPECT_EQ(files.readFile(path), "old content");
    int entries = 0;  // no temporary file is left behind
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(LocalFileSystem, ExpandsALeadingTilde) {
    TemporaryDirectory home;
    std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", home.path().c_str(), 1);
    LocalFileSystem files;
    files.writeFile("~/note.txt", "hi");
    EXPECT_TRUE(files.fileExists("~/note.txt"));
    EXPECT_EQ(yux::testing::readWholeFile(home.path() / "note.txt"), "hi");
    EXPECT_EQ(yux::expandTilde("~"), home.path().string());
    EXPECT_EQ(yux::expandTilde("/a/~b"), "/a/~b");
    ::setenv("HOME", saved.c_str(), 1);
}

TEST(LocalFileSystem, RemovalsAreSeenOnlyWhileTheObserverIsHeld) {
    auto files = LocalFileSystem::create_null({{"/s/a.mov", "1"}, {"/s/b.mov", "2"}, {"/s/c.mov", "3"}});
    files.removeFile("/s/a.mov");
    {
        auto observer = files.track_removedFiles();
        files.removeFile("/s/b.mov");
        EXPECT_THROW(files.removeFile("/s/missing.mov"), FileError);  // failures are not recorded
        EXPECT_EQ(observer->paths(), std::vector<std::string>{"/s/b.mov"});
        EXPECT_EQ(files.track_removedFiles(), observer);
    }
    files.removeFile("/s/c.mov");
    EXPECT_TRUE(files.track_removedFiles()->paths().empty());
}

TEST(LocalFileSystem, InMemoryStoreKnowsFoldersOfItsFiles) {
    auto files = LocalFileSystem::create_null({{"/a/b/c.txt", "c"}, {"/ab", "file"}});
    EXPECT_TRUE(files.fileExists("/a"));
    EXPECT_TRUE(files.fileExists("/a/b"));
    EXPECT_EQ(codeOf([&] { files.writeFile("/x/y.txt", "y"); }), FileErrorCode::fileWriteUnknown);
    EXPECT_EQ(codeOf([&] { files.writeFile("/a/b", "y"); }), FileErrorCode::fileWriteUnknown);
    EXPECT_EQ(codeOf([&] { files.ensureDirectory("/a/b/c.txt/d"); }), FileErrorCode::fileWriteFileExists);
    files.ensureDirectory("/x");
    files.writeFile("/x/y.txt", "y");
    EXPECT_EQ(files.readFile("/x/y.txt"), "y");
    files.removeFile("/a");
    EXPECT_FALSE(files.fileExists("/a/b"));
    EXPECT_FALSE(files.fileExists("/a/b/c.txt"));
    EXPECT_TRUE(files.fileExists("/ab"));
    EXPECT_EQ(codeOf([&] { files.appendFile("/x/none", "z"); }), FileErrorCode::fileNoSuchFile);
}

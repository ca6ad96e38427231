#include "model/local_file_system.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "model/file_debug_log_store.hpp"
#include "model/file_recent_recording_store.hpp"
#include "model/json_coding.hpp"
#include "support/recording_debug_log.hpp"
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

// Yux's own data files replaced by links to large damaged files outside its folders, over three
// starts and quits: the link goes aside once, as the link, and nothing is copied from or written
// to its target.
TEST(StateFilesOnDisk, ADamagedFileBehindALinkIsSetAsideOnceAsTheLinkAndItsTargetIsNeverTouched) {
    using yux::testing::RecordingDebugLog;
    struct Case {
        std::string name;
        std::string damaged;  // what the store's reader refuses
        std::function<void(const std::string& path, const std::shared_ptr<RecordingDebugLog>& log)> start;
        // The lines logged over all starts, and what the fresh file holds afterwards.
        std::function<std::vector<std::string>(const std::string& path, const RecordingDebugLog& log)> logged;
        std::function<void(const std::string& fresh)> expectFresh;
    };
    std::string pattern;
    for (int i = 0; i < 251; ++i) pattern += static_cast<char>(i);
    auto filled = [&](std::size_t bytes) {
        std::string data;
        while (data.size() < bytes) data += pattern;
        data.resize(bytes);
        return data;
    };
    const std::vector<Case> cases = {
        {"debug-log.jsonl", filled(5 << 20),  // beyond what a log is ever read to
         [](const std::string& path, const auto&) {
             yux::FileDebugLogStore log(path, LocalFileSystem(), 1000);
             log.appendNow("app_started");
         },
         [](const std::string& path, const auto&) {
             std::vector<std::string> messages;
             std::stringstream lines(yux::testing::readWholeFile(path));
             for (std::string line; std::getline(lines, line);) messages.push_back(yux::json::Json::parse(line)["message"]);
             return messages;
         },
         [](const std::string& fresh) { EXPECT_EQ(std::count(fresh.begin(), fresh.end(), '\n'), 4) << fresh; }},
        {"recent-recordings.json", "[" + filled(3 << 20),  // no JSON
         [](const std::string& path, const auto& log) {
             yux::FileRecentRecordingStore store(path, LocalFileSystem(), log);
             EXPECT_TRUE(store.load().empty());
         },
         [](const std::string&, const RecordingDebugLog& log) { return log.lines(); },
         [](const std::string& fresh) { EXPECT_EQ(fresh, "[]"); }},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        TemporaryDirectory root;
        const auto data = root.path() / "Yux";
        const auto target = root.path() / "elsewhere" / "damaged";
        std::filesystem::create_directories(data);
        std::filesystem::create_directories(target.parent_path());
        yux::testing::writeWholeFile(target, test.damaged);
        const auto path = data / test.name;
        std::filesystem::create_symlink(target, path);

        auto log = std::make_shared<RecordingDebugLog>();
        for (int start = 0; start < 3; ++start) test.start(path.string(), log);

        EXPECT_TRUE(yux::testing::readWholeFile(target) == test.damaged) << "the target changed";
        std::vector<std::filesystem::path> entries;
        for (const auto& entry : std::filesystem::directory_iterator(data)) entries.push_back(entry.path());
        std::erase(entries, path);
        ASSERT_EQ(entries.size(), 1u) << "one link aside, and no copy";
        const auto aside = entries.front();
        EXPECT_TRUE(aside.filename().string().starts_with(test.name + ".corrupt-")) << aside;
        ASSERT_TRUE(std::filesystem::is_symlink(aside));
        EXPECT_EQ(std::filesystem::read_symlink(aside), target);
        ASSERT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)));
        test.expectFresh(yux::testing::readWholeFile(path));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target.parent_path()), {}), 1);

        std::vector<std::string> naming;
        for (const auto& line : test.logged(path.string(), *log)) {
            if (line.find(" moved_to=") != std::string::npos) naming.push_back(line);
        }
        ASSERT_EQ(naming.size(), 1u);
        EXPECT_NE(naming[0].find(" moved_to=" + aside.string() + " link_target=" + target.string() + " "),
                  std::string::npos)
            << naming[0];
    }
}

#include "model/file_debug_log_store.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <utility>

#include <sstream>

#include "model/json_coding.hpp"
#include "platform/async/wait_for.hpp"
#include "support/temporary_directory.hpp"

using yux::Date;
using yux::FileDebugLogStore;
using yux::LocalFileSystem;
using yux::json::Json;
using yux::platform::waitForTask;

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

Date fixedNow() { return Date::fromUnixSeconds(1769850307.25); }

}  // namespace

TEST(FileDebugLogStore, FirstAppendCreatesTheFolderAndOneLine) {
    yux::testing::TemporaryDirectory folder;
    auto path = folder.file("Yux/debug-log.jsonl");
    FileDebugLogStore log(path, LocalFileSystem(), 1000, fixedNow);
    waitForTask(log.append("save_folder_selected path=/tmp/x"));
    auto content = yux::testing::readWholeFile(path);
    EXPECT_EQ(content, R"({"message":"save_folder_selected path=/tmp/x","timestamp":"2026-01-31T09:05:07.250Z"})"
                       "\n");
}

TEST(FileDebugLogStore, KeepsTheNewestLinesOnceTheCapIsReached) {
    auto log = FileDebugLogStore::create_null("/support/Yux/debug-log.jsonl", 1000);
    for (int i = 1; i <= 1001; ++i) log->appendNow("line " + std::to_string(i));
    auto entries = log->entries();
    ASSERT_EQ(entries.size(), 1000u);
    EXPECT_EQ(Json::parse(entries.front())["message"], "line 2");
    EXPECT_EQ(Json::parse(entries.back())["message"], "line 1001");

    // After every append the file holds the cap, never a line more.
    std::size_t most = 0;
    for (int i = 1002; i <= 1200; ++i) {
        log->appendNow("line " + std::to_string(i));
        most = std::max(most, linesOf(log->fileSystem().readFile("/support/Yux/debug-log.jsonl")).size());
    }
    EXPECT_EQ(most, 1000u);
    auto content = log->fileSystem().readFile("/support/Yux/debug-log.jsonl");
    auto lines = linesOf(content);
    EXPECT_EQ(lines.size(), 1000u);
    EXPECT_EQ(Json::parse(lines.back())["message"], "line 1200");
    EXPECT_EQ(content.back(), '\n');
    entries = log->entries();
    ASSERT_EQ(entries.size(), 1000u);
    EXPECT_EQ(Json::parse(entries.front())["message"], "line 201");
}

TEST(FileDebugLogStore, AnInvalidByteOrATornLastLineDoesNotStopTheTrim) {
    const std::string path = "/l/log.jsonl";
    auto files = LocalFileSystem::create_null({{path, "{\"message\":\"bad \xff byte\"}\n{\"message\":\"cut sh"}});
    FileDebugLogStore log(path, files, 10, fixedNow);
    for (int i = 1; i <= 1001; ++i) log.appendNow("line " + std::to_string(i));
    auto lines = linesOf(files.readFile(path));
    ASSERT_EQ(lines.size(), 10u);
    for (const auto& line : lines) EXPECT_NO_THROW((void)Json::parse(line)) << line;
    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 10u);
    EXPECT_EQ(Json::parse(entries.front())["message"], "line 992");
    EXPECT_EQ(Json::parse(entries.back())["message"], "line 1001");

    // A torn line never swallows the next message.
    auto torn = LocalFileSystem::create_null({{path, "{\"message\":\"whole\"}\n{\"message\":\"cut sh"}});
    FileDebugLogStore fresh(path, torn, 10, fixedNow);
    fresh.appendNow("next");
    auto kept = linesOf(torn.readFile(path));
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(Json::parse(kept[0])["message"], "whole");
    EXPECT_EQ(Json::parse(kept[1])["message"], "next");
}

TEST(FileDebugLogStore, LinesQueuedAtOnceAreAllStoredInOrder) {
    struct Row {
        int lines;  // already in the file
        int cap;
        int queued;
    };
    // Below the cap, at it, where the waiting lines share rewrites, and across it from below.
    for (const auto& row : {Row{0, 1000, 50}, Row{10, 10, 25}, Row{0, 1000, 1001}}) {
        std::string file;
        for (int i = 0; i < row.lines; ++i) file += R"({"message":"old"})" "\n";
        auto files = LocalFileSystem::create_null({{"/l/log.jsonl", file}});
        // The first line's append waits until the others are queued, so they share one batch.
        std::promise<void> reached, release;
        auto released = release.get_future();
        bool held = false;
        auto operations = files.operations();
        operations.append = [&, append = operations.append](const std::string& path, const std::string& data) {
            if (!std::exchange(held, true)) {
                reached.set_value();
                released.wait();
            }
            append(path, data);
        };
        FileDebugLogStore log("/l/log.jsonl", LocalFileSystem(operations), row.cap, fixedNow);
        auto tracker = log.track_messages();
        std::vector<std::string> queued;
        std::vector<QCoro::Task<void>> pending;
        for (int i = 0; i < row.queued; ++i) {
            queued.push_back("message " + std::to_string(i));
            pending.push_back(log.append(queued.back()));
            if (i == 0) EXPECT_EQ(reached.get_future().wait_for(std::chrono::minutes(1)), std::future_status::ready);
        }
        release.set_value();
        for (auto& task : pending) waitForTask(task);
        EXPECT_EQ(tracker->messages(), queued) << row.cap;
        const auto content = files.readFile("/l/log.jsonl");
        auto lines = linesOf(content);
        const auto kept = static_cast<std::size_t>(std::min(row.cap, row.lines + row.queued));
        ASSERT_EQ(lines.size(), kept) << row.cap;
        for (std::size_t i = 0; i < kept; ++i) {
            EXPECT_EQ(Json::parse(lines[i])["message"], queued[queued.size() - kept + i]) << row.cap;
        }
        EXPECT_EQ(content.back(), '\n');
    }
}

TEST(FileDebugLogStoreOnDisk, SomethingThatIsNoLogFileNeitherBlocksNorStopsTheLog) {
    yux::testing::TemporaryDirectory folder;
    const auto path = folder.path() / "debug-log.jsonl";
    auto make = std::vector<std::function<void()>>{
        [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
        [&] { std::filesystem::create_symlink("/dev/zero", path); },
    };
    for (const auto& makeIt : make) {
        makeIt();
        FileDebugLogStore log(path.string(), LocalFileSystem(), 1000, fixedNow);
        waitForTask(log.append("first"));
        waitForTask(log.append("second"));
        // The fresh log begins with where the old one went.
        auto lines = linesOf(yux::testing::readWholeFile(path));
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_TRUE(Json::parse(lines[0])["message"].get<std::string>().starts_with(
            "debug_log_damaged path=" + path.string() + " moved_to=" + path.string() + ".corrupt-"))
            << lines[0];
        EXPECT_EQ(Json::parse(lines[2])["message"], "second");
        std::filesystem::remove(path);
    }
    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        aside += entry.path().filename().string().starts_with("debug-log.jsonl.corrupt-") ? 1 : 0;
    }
    EXPECT_EQ(aside, 2);
}

TEST(FileDebugLogStore, EmptyLinesAndOtherLineBreaksAreNotCountedAndGoAtTheNextRewrite) {
    struct Row {
        std::string file;
        int cap;
        std::string kept;  // before the new line
    };
    const std::string a = R"({"message":"a"})", b = R"({"message":"b"})", c = R"({"message":"c"})";
    const std::vector<Row> rows{
        {a + "\n\n\n" + b + "\n", 2, b + "\n"},
        // Kept lines that are not each ended by one line feed are written anew.
        {a + "\n" + b + "\r\n\n\v" + c + "\f\n", 3, b + "\n" + c + "\n"},
        {a + "\n" + b + "\u2028\n" + c + "\n", 3, b + "\n" + c + "\n"},
        // A multi-byte break just before the kept lines.
        {a + "\n" + a + "\u2029" + b + "\n" + c + "\n", 3, b + "\n" + c + "\n"},
        {a + "\n", 0, ""},
    };
    for (const auto& row : rows) {
        auto files = LocalFileSystem::create_null({{"/l/log.jsonl", row.file}});
        FileDebugLogStore log("/l/log.jsonl", files, row.cap, fixedNow);
        log.appendNow("new");
        const std::string added = row.cap > 0 ? log.serialize("new") + "\n" : "";
        EXPECT_EQ(files.readFile("/l/log.jsonl"), row.kept + added) << ::testing::PrintToString(row.file);
    }
}

TEST(FileDebugLogStore, EveryMessageStaysOneValidJsonLine) {
    auto log = FileDebugLogStore::create_null("/l/log.jsonl", 1000);
    const std::vector<std::string> messages{"a \"quoted\" word", "back\\slash", "two\nlines", "tab\there",
                                            "sep\u2028arator", "para\u2029graph", "next\u0085line", "ünïcødé ✓"};
    for (const auto& message : messages) log->appendNow(message);
    auto lines = linesOf(log->fileSystem().readFile("/l/log.jsonl"));
    ASSERT_EQ(lines.size(), messages.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        auto object = Json::parse(lines[i]);
        EXPECT_EQ(object["message"], messages[i]);
        EXPECT_EQ(object.size(), 2u);
    }
    // The file survives its own trim: the separators did not split lines.
    FileDebugLogStore reread("/l/log.jsonl", log->fileSystem(), static_cast<int>(messages.size()), fixedNow);
    reread.appendNow("last");
    auto after = linesOf(log->fileSystem().readFile("/l/log.jsonl"));
    ASSERT_EQ(after.size(), messages.size());
    EXPECT_EQ(Json::parse(after[0])["message"], messages[1]);
}

TEST(FileDebugLogStore, InvalidTextKeepsItsLineAndTimeWithReplacementCharacters) {
    FileDebugLogStore log("/l/log.jsonl", LocalFileSystem::create_null(), 10, fixedNow);
    struct Case {
        std::string message;
        std::string stored;
    };
    // A window title cut inside a character, a stray byte, a surrogate encoded in UTF-8.
    const std::vector<Case> cases = {
        {"window_title title=Caf\xC3", "window_title title=Caf\xEF\xBF\xBD"},
        {"bad \xff byte", "bad \xEF\xBF\xBD byte"},
        {"half \xED\xA0\x80 pair", "half \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD pair"},
    };
    for (const auto& [message, stored] : cases) {
        const auto line = Json::parse(log.serialize(message));
        EXPECT_EQ(line["message"], stored);
        EXPECT_EQ(line["timestamp"], fixedNow().iso8601(true));
    }
}

TEST(FileDebugLogStore, TrackerHoldsOnlyStoredMessagesAfterItWasMade) {
    auto files = LocalFileSystem::create_null({{"/blocked", "a file where the folder should be"}});
    FileDebugLogStore log("/l/log.jsonl", files, 10, fixedNow);
    log.appendNow("before");
    auto tracker = log.track_messages();
    log.appendNow("after");
    EXPECT_EQ(tracker->messages(), std::vector<std::string>{"after"});

    FileDebugLogStore failing("/blocked/log.jsonl", files, 10, fixedNow);
    auto failingTracker = failing.track_messages();
    failing.appendNow("lost");  // the folder cannot be made: silently dropped
    EXPECT_TRUE(failingTracker->messages().empty());

    // The line is appended but the trim cannot rewrite the file: not reported as stored.
    const std::string full = "/full/log.jsonl";
    auto untrimmable = LocalFileSystem::create_null({{full, log.serialize("old") + "\n"}}, {full});
    FileDebugLogStore cut(full, untrimmable, 1, fixedNow);
    auto cutTracker = cut.track_messages();
    cut.appendNow("untrimmed");
    EXPECT_EQ(linesOf(untrimmable.readFile(full)).size(), 2u);
    EXPECT_TRUE(cutTracker->messages().empty());
}

#include "model/persistent_output_library.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <ctime>
#include <functional>

#include "model/app_error.hpp"
#include "model/file_recent_recording_store.hpp"
#include "platform/async/wait_for.hpp"
#include "support/app_error_expectations.hpp"
#include "support/recording_debug_log.hpp"
#include "support/temporary_directory.hpp"

using yux::AppError;
using yux::Date;
using yux::FileRecentRecordingStore;
using yux::LocalFileSystem;
using yux::OutputFormat;
using yux::OutputReservation;
using yux::PersistentOutputLibrary;
using yux::RecordingFile;
using yux::TimestampFileNamingPolicy;
using yux::platform::waitForTask;
using yux::testing::expectAppError;
using yux::testing::readWholeFile;
using yux::testing::TemporaryDirectory;

namespace {

const QUuid kSession("{6f1c2d3e-4b5a-4c7d-8e9f-0a1b2c3d4e5f}");
// 2026-01-31 09:05:07.8 UTC
const Date kMorning = Date::fromUnixSeconds(1769850307.8);

struct FixedClock : yux::ClockBoundary {
    Date date = kMorning;
    Date now() const override { return date; }
};

TimestampFileNamingPolicy utcNaming() { return TimestampFileNamingPolicy{"en_US_POSIX", QTimeZone::utc()}; }

struct Library {
    std::shared_ptr<yux::testing::RecordingDebugLog> log = std::make_shared<yux::testing::RecordingDebugLog>();
    LocalFileSystem files;
    std::shared_ptr<FileRecentRecordingStore> recent;
    PersistentOutputLibrary library;

    explicit Library(std::map<std::string, std::string> existing = {},
                     std::optional<std::string> recentContents = std::nullopt)
        : files(LocalFileSystem::create_null(withRecent(std::move(existing), recentContents))),
          recent(std::make_shared<FileRecentRecordingStore>("/support/recent-recordings.json", files, log)),
          library(std::make_shared<LocalFileSystem>(files), std::make_shared<FixedClock>(), utcNaming(), recent) {}

    static std::map<std::string, std::string> withRecent(std::map<std::string, std::string> files,
                                                         const std::optional<std::string>& contents) {
        if (contents) files["/support/recent-recordings.json"] = *contents;
        return files;
    }
    std::string reserve(const std::string& folder) {
        return waitForTask(library.reserveDestination(kSession, OutputFormat::mov, folder)).filePath;
    }
};

}  // namespace

TEST(TimestampFileNamingPolicy, NamesByLocalTimeWithTwentyFourHourDigits) {
    EXPECT_EQ(utcNaming().makeFilename(kMorning, OutputFormat::mov), "Yux 2026-01-31 09.05.07.mov");
    TimestampFileNamingPolicy tokyo{"en_US_POSIX", QTimeZone("Asia/Tokyo")};
    EXPECT_EQ(tokyo.makeFilename(kMorning.addingSeconds(8 * 3600), OutputFormat::mov), "Yux 2026-02-01 02.05.07.mov");
    // A zone the toolkit cannot load: the C library's local time, not a name without a date.
    const auto seconds = static_cast<std::time_t>(std::floor(kMorning.unixSeconds()));
    std::tm local{};
    localtime_r(&seconds, &local);
    char expected[64];
    std::strftime(expected, sizeof expected, "Yux %Y-%m-%d %H.%M.%S.mov", &local);
    TimestampFileNamingPolicy unknown{"en_US_POSIX", QTimeZone("Nowhere/Land")};
    EXPECT_EQ(unknown.makeFilename(kMorning, OutputFormat::mov), expected);
}

TEST(PersistentOutputLibrary, ReservesTheFirstFreeNameWithoutCreatingIt) {
    const std::string first = "/out/Yux 2026-01-31 09.05.07.mov";
    EXPECT_EQ(Library().reserve("/out"), first);
    EXPECT_EQ(Library({{first, ""}}).reserve("/out/"), "/out/Yux 2026-01-31 09.05.07 (2).mov");
    Library crowded({{first, ""}, {"/out/Yux 2026-01-31 09.05.07 (2).mov", ""}});
    EXPECT_EQ(crowded.reserve("/out"), "/out/Yux 2026-01-31 09.05.07 (3).mov");
    EXPECT_EQ(crowded.reserve("/out"), "/out/Yux 2026-01-31 09.05.07 (3).mov");
    EXPECT_FALSE(crowded.files.fileExists("/out/Yux 2026-01-31 09.05.07 (3).mov"));
    auto reservation = waitForTask(crowded.library.reserveDestination(kSession, OutputFormat::mov, "/out"));
    EXPECT_EQ(reservation.sessionID, kSession);
}

TEST(PersistentOutputLibrary, ATildeFolderIsExpandedButReportedAsGiven) {
    const std::string home = yux::expandTilde("~");
    Library library;
    EXPECT_EQ(library.reserve("~/Videos/Yux"), home + "/Videos/Yux/Yux 2026-01-31 09.05.07.mov");
    EXPECT_TRUE(library.files.fileExists(home + "/Videos/Yux"));

    Library blocked({{home + "/Blocked", "a file, not a folder"}});
    expectAppError([&] { blocked.reserve("~/Blocked/Yux"); }, AppError::saveFolderUnusable("~/Blocked/Yux"));
}

TEST(PersistentOutputLibrary, CompletedFilesGoFirstAndOnlyExistingOnesAreListed) {
    std::map<std::string, std::string> onDisk;
    for (int i = 1; i <= 7; ++i) onDisk["/out/" + std::to_string(i) + ".mov"] = "";
    Library library(onDisk);
    for (int i = 1; i <= 10; ++i) {
        waitForTask(library.library.markCompleted("/out/" + std::to_string(i) + ".mov", Date{double(i)}));
    }
    // 10, 9 and 8 were never on disk; the stored list keeps them.
    auto recent = waitForTask(library.library.recentRecordings(5));
    std::vector<std::string> paths;
    for (const auto& file : recent) paths.push_back(file.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/out/7.mov", "/out/6.mov", "/out/5.mov", "/out/4.mov", "/out/3.mov"}));
    EXPECT_EQ(recent.front().createdAt, Date{7.0});
    EXPECT_EQ(library.recent->load().size(), 10u);
    EXPECT_TRUE(waitForTask(library.library.recentRecordings(0)).empty());
}

TEST(PersistentOutputLibrary, ADamagedListIsSetAsideAndTheNextExportStartsAFreshOne) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    for (const std::string& damaged : {std::string("[{\"path\": 3}]"), std::string("{\"path\""), deep}) {
        Library library({{"/out/a.mov", "movie"}}, damaged);
        EXPECT_TRUE(waitForTask(library.library.recentRecordings(5)).empty());
        auto completed = waitForTask(library.library.markCompleted("/out/a.mov", kMorning));
        EXPECT_EQ(waitForTask(library.library.recentRecordings(5)), std::vector<RecordingFile>{completed});

        // The damaged list is kept beside the new one, and the log says where.
        std::optional<std::string> aside;
        for (const auto& line : library.log->lines()) {
            auto at = line.find(" moved_to=");
            if (line.starts_with("recent_recordings_damaged path=/support/recent-recordings.json") &&
                at != std::string::npos) {
                aside = line.substr(at + 10, line.find(' ', at + 10) - at - 10);
            }
        }
        ASSERT_TRUE(aside.has_value());
        EXPECT_TRUE(aside->starts_with("/support/recent-recordings.json.corrupt-")) << *aside;
        EXPECT_EQ(library.files.readFile(*aside), damaged);
    }
}

TEST(PersistentOutputLibrary, OnlyRegularFilesAreRecentButAFolderStillTakesItsName) {
    const std::string first = "/out/Yux 2026-01-31 09.05.07.mov";
    Library library({{first + "/inside.txt", "a folder named like the movie"}, {"/out/b.mov", "movie"}});
    waitForTask(library.library.markCompleted("/out/b.mov", kMorning));
    waitForTask(library.library.markCompleted(first, kMorning));
    auto recent = waitForTask(library.library.recentRecordings(5));
    EXPECT_EQ(recent, (std::vector<RecordingFile>{{"/out/b.mov", kMorning}}));
    EXPECT_EQ(library.reserve("/out"), "/out/Yux 2026-01-31 09.05.07 (2).mov");
}

TEST(PersistentOutputLibrary, OnlyMoviesYuxWritesAreRecent) {
    const std::vector<std::string> notMovies = {"/etc/passwd", "/out/notes.txt", "/out/clip.MOV", "/out/clip.mov.part",
                                                "/out/.mov", "/out/movie"};
    std::map<std::string, std::string> onDisk = {{"/out/kept.mov", "movie"}};
    for (const auto& path : notMovies) onDisk[path] = "not a movie";
    Library library(onDisk);
    waitForTask(library.library.markCompleted("/out/kept.mov", kMorning));
    for (const auto& path : notMovies) waitForTask(library.library.markCompleted(path, kMorning));
    EXPECT_EQ(waitForTask(library.library.recentRecordings(20)), (std::vector<RecordingFile>{{"/out/kept.mov", kMorning}}));
}

TEST(PersistentOutputLibrary, ARelativeSaveFolderIsRefusedAndNeverCreated) {
    Library library;
    expectAppError([&] { library.reserve("Videos/Yux"); }, AppError::saveFolderUnusable("Videos/Yux"));
    EXPECT_FALSE(library.files.fileExists("Videos"));
    EXPECT_FALSE(std::filesystem::exists("Videos/Yux"));
}

TEST(FileRecentRecordingStore, AnAbsurdDateDecodesAndPrintsWithoutOverflow) {
    auto store = FileRecentRecordingStore::create_null("/r.json", R"([{"path":"/out/a.mov","createdAt":7e21},)"
                                                                  R"({"path":"/out/b.mov","createdAt":-7e21}])");
    auto files = store.load();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].createdAt.iso8601(false), "9999-12-31T23:59:59Z");
    EXPECT_EQ(files[1].createdAt.iso8601(true), "0001-01-01T00:00:00.000Z");
}

TEST(FileRecentRecordingStoreOnDisk, SomethingThatIsNoFileIsSetAsideWithoutBlocking) {
    TemporaryDirectory folder;
    const auto path = folder.path() / "recent-recordings.json";
    // A link goes aside as the link, and a fresh empty list takes its name.
    auto make = std::vector<std::pair<std::function<void()>, bool>>{
        {[&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, false},
        {[&] { std::filesystem::create_symlink("/dev/zero", path); }, true},
        {[&] { std::filesystem::create_directories(path / "inside"); }, false},
    };
    for (const auto& [makeIt, freshList] : make) {
        makeIt();
        FileRecentRecordingStore store(path.string(), LocalFileSystem());
        EXPECT_TRUE(store.load().empty());
        EXPECT_EQ(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)), freshList);
        if (!freshList) EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));
        store.save({RecordingFile{"/out/a.mov", Date{1}}});
        EXPECT_EQ(store.load().size(), 1u);
        std::filesystem::remove(path);
    }
    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        aside += entry.path().filename().string().starts_with("recent-recordings.json.corrupt-") ? 1 : 0;
    }
    EXPECT_EQ(aside, 3);
}

TEST(PersistentOutputLibrary, AListThatCannotBeWrittenIsAPersistError) {
    // The support "folder" is a file, so the list has nowhere to go.
    auto files = LocalFileSystem::create_null({{"/support", ""}});
    auto recent = std::make_shared<FileRecentRecordingStore>("/support/recent-recordings.json", files);
    PersistentOutputLibrary library(std::make_shared<LocalFileSystem>(files), std::make_shared<FixedClock>(),
                                    utcNaming(), recent);
    expectAppError([&] { waitForTask(library.markCompleted("/out/a.mov", kMorning)); },
                   AppError::recentRecordingPersistFailed("unable to persist recent recordings"));
}

TEST(FileRecentRecordingStore, AMissingFileIsAnEmptyListAndSavingWritesTheStoredShape) {
    auto store = FileRecentRecordingStore::create_null("/support/Yux/recent-recordings.json");
    EXPECT_TRUE(store.load().empty());
    store.save({RecordingFile{"/out/a.mov", Date{0.5}}});
    EXPECT_EQ(store.fileSystem().readFile("/support/Yux/recent-recordings.json"),
              R"([{"createdAt":0.5,"path":"/out/a.mov"}])");
    // A list that is no list is set aside (see below), never decoded as an empty one in place.
    auto damaged = FileRecentRecordingStore::create_null("/r.json", "{}");
    EXPECT_TRUE(damaged.load().empty());
    EXPECT_FALSE(damaged.fileSystem().fileExists("/r.json"));
}

TEST(PersistentOutputLibraryOnDisk, TwoRecordingsReservedAndCompletedAreListedNewestFirst) {
    TemporaryDirectory folder;
    const std::string saveFolder = folder.file("Videos/Yux");
    const std::string recentFile = folder.file("share/Yux/recent-recordings.json");
    auto clock = std::make_shared<FixedClock>();
    auto makeLibrary = [&] {
        LocalFileSystem files;
        return PersistentOutputLibrary(std::make_shared<LocalFileSystem>(files), clock, utcNaming(),
                                       std::make_shared<FileRecentRecordingStore>(recentFile, files));
    };

    auto library = makeLibrary();
    auto first = waitForTask(library.reserveDestination(kSession, OutputFormat::mov, saveFolder));
    yux::testing::writeWholeFile(first.filePath, "movie one");
    waitForTask(library.markCompleted(first.filePath, clock->date));
    auto second = waitForTask(library.reserveDestination(QUuid::createUuid(), OutputFormat::mov, saveFolder));
    EXPECT_EQ(second.filePath, saveFolder + "/Yux 2026-01-31 09.05.07 (2).mov");
    yux::testing::writeWholeFile(second.filePath, "movie two");
    waitForTask(library.markCompleted(second.filePath, clock->date.addingSeconds(1)));

    auto reopened = makeLibrary();
    auto recent = waitForTask(reopened.recentRecordings(5));
    EXPECT_EQ(recent, (std::vector<RecordingFile>{{second.filePath, clock->date.addingSeconds(1)},
                                                   {first.filePath, clock->date}}));
    EXPECT_FALSE(readWholeFile(recentFile).empty());
}

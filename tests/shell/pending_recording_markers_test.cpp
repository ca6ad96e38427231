#include "shell/pending_recording_markers.hpp"

#include <algorithm>
#include <fstream>

#include <unistd.h>

#include <gtest/gtest.h>

#include "model/export_temporary.hpp"
#include "model/pending_recording_artifact.hpp"
#include "platform/async/wait_for.hpp"
#include "support/recording_debug_log.hpp"
#include "support/temporary_directory.hpp"

namespace yux {
namespace {

namespace fs = std::filesystem;
using platform::waitForTask;

void touch(const fs::path& path, const std::string& text = "movie") { std::ofstream(path) << text; }

// Names in the folder that start with `prefix`.
std::vector<std::string> namesStartingWith(const fs::path& folder, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix)) names.push_back(name);
    }
    return names;
}

bool logged(const testing::RecordingDebugLog& log, const std::string& start) {
    for (const auto& line : log.lines())
        if (line.starts_with(start)) return true;
    return false;
}

struct Markers : ::testing::Test {
    testing::TemporaryDirectory folder;
    fs::path dir = folder.path();
    std::shared_ptr<testing::RecordingDebugLog> log = std::make_shared<testing::RecordingDebugLog>();
    PendingRecordingMarkers markers{log};

    std::string movie(const std::string& stem) const { return (dir / (stem + ".mov")).string(); }
    std::vector<PendingRecordingMarkers::Marker> waiting() const {
        return waitForTask(markers.waiting(PendingRecordingMarkers::presentIn(dir.string())));
    }
    std::optional<PendingRecordingMarkers::Marker> newest() const {
        auto found = waiting();
        if (found.empty()) return std::nullopt;
        return found.front();
    }
};

TEST_F(Markers, TheTakesWithTheirMoviesAreListedNewestFirstAndTheOthersAreSortedOut) {
    EXPECT_EQ(PendingRecordingMarkers::markerPath(movie("AB")), (dir / "AB.pending.json").string());
    touch(movie("old"));
    touch(movie("new"));
    waitForTask(markers.keep(movie("old"), Date{100}));
    waitForTask(markers.keep(movie("new"), Date{200}));
    waitForTask(markers.keep(movie("gone"), Date{300}));  // its movie was deleted meanwhile
    touch(dir / "broken.pending.json", "{not json");
    // A marker naming a movie elsewhere is never followed.
    touch(movie("elsewhere"));
    touch(dir / "stray.pending.json", R"({"scratchPath":")" + movie("elsewhere") + R"(","createdAt":400})");
    // Not ours to touch: a folder of a marker's name, with something inside.
    fs::create_directory(dir / "folder.pending.json");
    touch(dir / "folder.pending.json" / "keep.txt", "theirs");
    // Movies that are links, to a movie or to nothing: never opened, and neither they nor what
    // they point to is touched.
    touch(dir / "target.bin", "theirs");
    fs::create_symlink(dir / "target.bin", movie("linked"));
    fs::create_symlink(dir / "nowhere.bin", movie("dangling"));
    waitForTask(markers.keep(movie("linked"), Date{500}));
    waitForTask(markers.keep(movie("dangling"), Date{600}));
    // Listed at start, gone since: nothing to say about it.
    auto files = PendingRecordingMarkers::presentIn(dir.string());
    files.push_back((dir / "vanished.pending.json").string());

    const auto found = waitForTask(markers.waiting(files));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].scratchPath, movie("new"));
    EXPECT_EQ(found[0].createdAt, Date{200});
    EXPECT_EQ(found[1].scratchPath, movie("old"));
    EXPECT_TRUE(fs::exists(dir / "old.pending.json"));
    EXPECT_TRUE(fs::is_symlink(movie("linked")));
    EXPECT_TRUE(fs::is_symlink(movie("dangling")));
    std::string target;
    std::ifstream(dir / "target.bin") >> target;
    EXPECT_EQ(target, "theirs");
    EXPECT_FALSE(fs::exists(dir / "nowhere.bin"));
    EXPECT_EQ(namesStartingWith(dir, "linked.pending.json.corrupt-").size(), 1u);
    EXPECT_EQ(namesStartingWith(dir, "dangling.pending.json.corrupt-").size(), 1u);
    const auto lines = log->lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.ends_with(" reason=movie_is_a_link"); }),
              2);
    EXPECT_FALSE(logged(*log, "pending_marker_left_alone path=" + (dir / "vanished.pending.json").string()));
    EXPECT_FALSE(fs::exists(dir / "gone.pending.json"));
    // Damaged markers are kept aside, not lost, and their movies stay.
    EXPECT_EQ(namesStartingWith(dir, "broken.pending.json.corrupt-").size(), 1u);
    EXPECT_EQ(namesStartingWith(dir, "stray.pending.json.corrupt-").size(), 1u);
    EXPECT_TRUE(fs::exists(movie("elsewhere")));
    EXPECT_TRUE(fs::exists(dir / "folder.pending.json" / "keep.txt"));
    for (const char* line : {"pending_marker_removed path=", "pending_marker_set_aside path=",
                             "pending_marker_left_alone path="}) {
        EXPECT_TRUE(logged(*log, line)) << line;
    }

    // Set aside ones are not tried again.
    const auto again = newest();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->scratchPath, movie("new"));
    EXPECT_EQ(namesStartingWith(dir, "broken.pending.json.corrupt-").size(), 1u);
}

TEST_F(Markers, ReleasingRemovesOnlyTheMarkerFileAndLeavesAFolderOfItsNameAlone) {
    touch(movie("a"));
    waitForTask(markers.keep(movie("a"), Date{1}));
    waitForTask(markers.release(movie("a")));
    waitForTask(markers.release(movie("a")));  // twice is fine
    EXPECT_FALSE(fs::exists(dir / "a.pending.json"));
    EXPECT_TRUE(fs::exists(movie("a")));
    EXPECT_TRUE(log->lines().empty()) << log->lines().front();
    EXPECT_FALSE(newest());

    fs::create_directory(dir / "b.pending.json");
    touch(dir / "b.pending.json" / "inside.txt", "theirs");
    waitForTask(markers.release(movie("b")));
    EXPECT_TRUE(fs::exists(dir / "b.pending.json" / "inside.txt"));
    ASSERT_EQ(log->lines().size(), 1u);
    EXPECT_EQ(log->lines()[0], "pending_marker_left_alone path=" + (dir / "b.pending.json").string() +
                                   " reason=not_a_regular_file");

    // Nor does keeping a take write over it.
    waitForTask(markers.keep(movie("b"), Date{2}));
    EXPECT_TRUE(fs::is_directory(dir / "b.pending.json"));
    EXPECT_TRUE(fs::exists(dir / "b.pending.json" / "inside.txt"));
    EXPECT_TRUE(logged(*log, "pending_marker_failed scratch=" + movie("b")));
}

TEST_F(Markers, AMarkerOfAnEarlierRunHoldingTheWholeArtifactReadsAndOneSetAsideKeepsItsMovie) {
    touch(movie("legacy"));
    const PendingRecordingArtifact artifact(movie("legacy"), Date{50}, 2.0, 1000,
                                            RecordingCaptureDiagnostics{RecordingCaptureConfig::fullFidelity(), 0.0},
                                            RecordingPresetCatalog::builtIn(), RecordingPresetCatalog::highID);
    touch(dir / "legacy.pending.json", json::encodeText(artifact));
    const auto found = newest();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->scratchPath, movie("legacy"));
    EXPECT_EQ(found->createdAt, Date{50});

    waitForTask(markers.setAside(movie("legacy"), "not_adoptable"));
    EXPECT_FALSE(fs::exists(dir / "legacy.pending.json"));
    EXPECT_EQ(namesStartingWith(dir, "legacy.pending.json.corrupt-").size(), 1u);
    EXPECT_TRUE(fs::exists(movie("legacy")));
    EXPECT_TRUE(logged(*log, "pending_marker_set_aside path=" + (dir / "legacy.pending.json").string()));
    EXPECT_FALSE(newest());
}

// The one temporary noted with a take goes at the next start, export or discard, and only while
// it is still our own regular file of our naming; what stands at the path otherwise stays, and so
// does every file of that naming that was not noted.
TEST_F(Markers, TheNotedExportTemporaryAloneIsRemovedAndOnlyWhenItIsStillOurs) {
    const fs::path save = dir / "save";
    fs::create_directory(save);
    auto temporary = [&](int n) {
        return ExportTemporary::pathIn(save.string(), QUuid(QStringLiteral("{00000000-0000-4000-8000-%1}")
                                                                .arg(n, 12, 10, QLatin1Char('0'))));
    };
    enum class Thing { ownFile, link, folder, otherName, relative };
    struct Case {
        Thing thing;
        bool removed;
        std::string reason;  // of the log line when it stays
    };
    const Case cases[] = {{Thing::ownFile, true, ""},
                          {Thing::link, false, "not_a_regular_file"},
                          {Thing::folder, false, "not_a_regular_file"},
                          {Thing::otherName, false, "not_named_as_ours"},
                          {Thing::relative, false, "not_named_as_ours"}};
    enum class When { start, nextExport, discard };
    int n = 0;
    for (When when : {When::start, When::nextExport, When::discard}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(n));
            const std::string stem = "take" + std::to_string(n);
            // Where the thing stands, and what the marker notes.
            fs::path standing = temporary(++n);
            std::string noted = standing.string();
            const std::string unnoted = temporary(1000 + n);
            touch(unnoted, "not noted");
            touch(save / "target.mov", "theirs");
            switch (c.thing) {
                case Thing::ownFile: touch(standing, "partial"); break;
                case Thing::link: fs::create_symlink(save / "target.mov", standing); break;
                case Thing::folder: fs::create_directory(standing); touch(standing / "inside", "theirs"); break;
                case Thing::otherName:
                    standing = save / (stem + ".mov");
                    noted = standing.string();
                    touch(standing, "a movie");
                    break;
                case Thing::relative:
                    touch(standing, "partial");
                    noted = standing.filename().string();
                    break;
            }
            touch(movie(stem));
            waitForTask(markers.keep(movie(stem), Date{1}));
            ASSERT_TRUE(waitForTask(markers.noteExportTemporary(movie(stem), Date{1}, noted)));
            // Kept again (a quit, a take taken back): the note stays.
            waitForTask(markers.keep(movie(stem), Date{1}));
            switch (when) {
                case When::start: waiting(); break;
                case When::nextExport:
                    EXPECT_TRUE(waitForTask(markers.noteExportTemporary(movie(stem), Date{1}, temporary(2000 + n))));
                    break;
                case When::discard: waitForTask(markers.release(movie(stem))); break;
            }
            EXPECT_EQ(fs::exists(fs::symlink_status(standing)), !c.removed);
            EXPECT_EQ(logged(*log, "export_temporary_removed path=" + noted), c.removed);
            if (!c.removed) {
                EXPECT_TRUE(logged(*log, "export_temporary_left_alone path=" + noted + " reason=" + c.reason));
            }
            EXPECT_TRUE(fs::exists(unnoted));
            EXPECT_EQ(testing::readWholeFile(save / "target.mov"), "theirs");
            if (c.thing == Thing::folder) EXPECT_TRUE(fs::exists(standing / "inside"));
            waitForTask(markers.release(movie(stem)));
        }
    }
    // A file of someone else's is never ours, whatever its name.
    const std::string foreign = temporary(3000);
    touch(foreign);
    EXPECT_EQ(ExportTemporary::remove(foreign, ::getuid() + 1).removal, ExportTemporary::Removal::leftAlone);
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_EQ(ExportTemporary::remove(temporary(3001)).removal, ExportTemporary::Removal::missing);
}

}  // namespace
}  // namespace yux

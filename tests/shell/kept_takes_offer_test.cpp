#include "shell/kept_takes_offer.hpp"

#include <algorithm>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "platform/async/wait_for.hpp"
#include "support/recording_debug_log.hpp"
#include "support/temporary_directory.hpp"

namespace yux {
namespace {

namespace fs = std::filesystem;
using platform::waitForTask;

// `empty`: the movie reads and holds no sample (a take killed before its first fragment).
enum class Adopt { taken, busy, unreadable, empty };

struct Case {
    const char* name;
    // How the session answers each take; taken when not named.
    std::map<std::string, Adopt> adopt;
    // The session's state as each window closes, in turn; idle when the list runs out.
    std::vector<RecordingSessionState> closes;
    // What happened, in order: "adopt <take>", "present", "set aside <take>", "remove <take>".
    std::vector<std::string> expected;
    // Run while the first window is open.
    std::function<void(const fs::path& folder)> meanwhile = {};
    // The event during which Yux is asked to quit.
    std::string quitDuring = {};
};

TEST(KeptTakesOfferTest, TakesAreOfferedNewestFirstUntilAWindowFailsOrTheUserMovesOn) {
    const RecordingSessionState failed = RecordingSessionState::failed(AppError::outputFinalizationFailed("gone"));
    const std::vector<Case> cases = {
        {"each window saved or discarded", {}, {}, {"adopt new", "present", "adopt mid", "present", "adopt old", "present"}},
        {"a window that failed", {}, {failed}, {"adopt new", "present"}},
        {"a take that cannot be opened",
         {{"mid", Adopt::unreadable}},
         {},
         {"adopt new", "present", "adopt mid", "set aside mid", "adopt old", "present"}},
        {"a take that holds nothing",
         {{"mid", Adopt::empty}},
         {},
         {"adopt new", "present", "adopt mid", "remove mid", "adopt old", "present"}},
        {"a recording started as the window closed", {}, {RecordingSessionState::selecting()}, {"adopt new", "present"}},
        {"a session busy with the user's recording", {{"mid", Adopt::busy}}, {}, {"adopt new", "present", "adopt mid"}},
        {"a take whose movie went while the first window was open",
         {},
         {},
         {"adopt new", "present", "adopt old", "present"},
         [](const fs::path& folder) { fs::remove(folder / "mid.mov"); }},
        {"a quit while a window is open", {}, {}, {"adopt new", "present"}, {}, "present"},
        {"a quit while a take is taken back", {}, {}, {"adopt new"}, {}, "adopt new"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        testing::TemporaryDirectory folder;
        const fs::path dir = folder.path();
        auto log = std::make_shared<testing::RecordingDebugLog>();
        PendingRecordingMarkers markers(log);
        const auto movie = [&](const std::string& stem) { return (dir / (stem + ".mov")).string(); };
        const std::map<std::string, Date> kept = {{"old", Date{100}}, {"new", Date{300}}, {"mid", Date{200}}};
        for (const auto& [stem, createdAt] : kept) {
            testing::writeWholeFile(movie(stem), "movie");
            waitForTask(markers.keep(movie(stem), createdAt));
        }
        const std::vector<std::string> atStart = PendingRecordingMarkers::presentIn(dir.string());
        // Kept by this run: offered at the next start.
        testing::writeWholeFile(movie("now"), "movie");
        waitForTask(markers.keep(movie("now"), Date{400}));

        std::vector<std::string> events;
        std::size_t windows = 0;
        bool quitting = false;
        const KeptTakesOffer offer{
            .markers = markers,
            .debugLog = log,
            .adopt = [&](KeptTakesOffer::Marker take) -> QCoro::Task<bool> {
                const std::string stem = fs::path(take.scratchPath).stem().string();
                events.push_back("adopt " + stem);
                if (events.back() == test.quitDuring) quitting = true;
                EXPECT_EQ(take.createdAt, kept.at(stem));
                const auto answer = test.adopt.find(stem);
                if (answer != test.adopt.end() && (answer->second == Adopt::unreadable || answer->second == Adopt::empty)) {
                    throw AppError::outputFinalizationFailed("Invalid media duration");
                }
                co_return answer == test.adopt.end() || answer->second == Adopt::taken;
            },
            .holdsNothing = [&](std::string movie) -> QCoro::Task<bool> {
                const auto answer = test.adopt.find(fs::path(movie).stem().string());
                co_return answer != test.adopt.end() && answer->second == Adopt::empty;
            },
            .present = [&]() -> QCoro::Task<RecordingSessionState> {
                events.push_back("present");
                if (windows == 0 && test.meanwhile) test.meanwhile(dir);
                if (test.quitDuring == "present") quitting = true;
                const std::size_t window = windows++;
                co_return window < test.closes.size() ? test.closes[window] : RecordingSessionState::idle();
            },
            .quitting = [&] { return quitting; },
        };
        log->watch([&](const std::string& line) {
            const std::string removed = "pending_take_removed scratch=";
            if (line.starts_with(removed)) {
                const fs::path movie = line.substr(removed.size(), line.find(" marker=") - removed.size());
                events.push_back("remove " + movie.stem().string());
            }
            const std::string start = "pending_marker_set_aside path=";
            if (!line.starts_with(start)) return;
            const fs::path marker = line.substr(start.size(), line.find(" moved_to=") - start.size());
            events.push_back("set aside " + marker.stem().stem().string());
        });
        waitForTask(offer.run(atStart));
        EXPECT_EQ(events, test.expected);

        // What is not offered keeps its marker for the next start; what could not be opened keeps
        // its movie.
        EXPECT_TRUE(fs::exists(dir / "now.pending.json"));
        for (const auto& [stem, answer] : test.adopt) {
            if (answer == Adopt::empty) {
                EXPECT_FALSE(fs::exists(movie(stem)));
                EXPECT_FALSE(fs::exists(dir / (stem + ".pending.json")));
            }
            if (answer == Adopt::unreadable) {
                EXPECT_TRUE(fs::exists(movie(stem)));
                EXPECT_FALSE(fs::exists(dir / (stem + ".pending.json")));
                const auto lines = log->lines();
                EXPECT_NE(std::find(lines.begin(), lines.end(),
                                    "app_startup_pending_failed scratch=" + movie(stem) +
                                        " error=outputFinalizationFailed(\"Invalid media duration\")"),
                          lines.end());
            }
        }
    }
}

}  // namespace
}  // namespace yux

// Another program drives the real Yux through the automation folders, as a script would: it
// writes "<UUID>.json.tmp", renames it to "<UUID>.json" and reads the answer.
#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <thread>

#include <QProcess>
#include <QProcessEnvironment>
#include <QUuid>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/media/movie_track_reader.hpp"
#include "support/action_span.hpp"
#include "support/temporary_directory.hpp"
#include "yux_process_environment.hpp"

namespace yux {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr auto kStartTimeout = 20s;
// A record job's whole run on a loaded machine: start, recording, export.
constexpr auto kJobTimeout = 90s;
constexpr int kExitTimeoutMs = 20000;
// What a take's length may stray beyond its bounds: the frames and sound packets at its ends.
constexpr double kTakeMargin = 0.1;

struct AutomationProcess : ::testing::Test {
    testing::TemporaryDirectory home;

    std::filesystem::path base() const { return home.path() / "data" / "Yux" / "Automation" / "v1" / "production"; }

    void start(QProcess& process) const {
        // The first-run setup is done, as for a user who went through it before.
        std::filesystem::create_directories(home.path() / "config" / "Yux");
        std::ofstream(home.path() / "config" / "Yux" / "preferences.json")
            << R"({"yux.settings.captureInputs": {"setupCompleted": true, "microphoneEnabled": false,
                 "cameraEnabled": false, "ratio": "Free"}})";
        process.setProcessEnvironment(testing::yuxProcessEnvironment(home.path()));
        process.start(QStringLiteral(YUX_EXECUTABLE), {});
        ASSERT_TRUE(process.waitForStarted()) << process.errorString().toStdString();
    }

    static std::string newID() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString(); }

    void send(const Json& command) const {
        const std::string id = command.at("id");
        const auto folder = base() / "commands";
        std::ofstream(folder / (id + ".json.tmp")) << command.dump();
        std::filesystem::rename(folder / (id + ".json.tmp"), folder / (id + ".json"));
    }

    Json answer(const std::string& id) const {
        std::ifstream in(base() / "responses" / (id + ".json"));
        if (!in) return Json();
        return Json::parse(in, nullptr, false);
    }

    // Waits until the answer of `id` is in one of `phases`; notes in `seen` when each phase was
    // first seen.
    Json waitFor(QProcess& process, const std::string& id, std::vector<std::string> phases,
                 std::chrono::seconds timeout = kJobTimeout,
                 std::map<std::string, testing::ActionClock::time_point>* seen = nullptr) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        Json last;
        while (std::chrono::steady_clock::now() < deadline && process.state() != QProcess::NotRunning) {
            last = answer(id);
            const std::string phase = last.is_object() ? last.value("phase", "") : "";
            if (seen && !phase.empty()) seen->try_emplace(phase, testing::ActionClock::now());
            if (std::find(phases.begin(), phases.end(), phase) != phases.end()) return last;
            process.waitForFinished(50);
        }
        ADD_FAILURE() << "no answer in " << phases.front() << " for " << id << ", last: " << last.dump();
        return last;
    }

    bool waitForFolders(QProcess& process) const {
        const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
        while (std::chrono::steady_clock::now() < deadline && process.state() != QProcess::NotRunning) {
            if (std::filesystem::exists(base() / "responses")) return true;
            process.waitForFinished(50);
        }
        return false;
    }

    static void quit(QProcess& process) {
        process.terminate();
        if (!process.waitForFinished(kExitTimeoutMs)) process.kill();
    }
};

TEST_F(AutomationProcess, ATwoSecondRecordingOfTheDisplayIsExported) {
    QProcess yux;
    start(yux);
    ASSERT_TRUE(waitForFolders(yux));

    const std::string status = newID();
    send({{"id", status}, {"action", "status"}});
    Json report = waitFor(yux, status, {"completed", "failed"}, kStartTimeout);
    EXPECT_EQ(report["discovery"]["sessionState"], "idle") << report.dump();
    EXPECT_EQ(report["discovery"]["protocolVersion"], 1);

    const std::string job = newID();
    const auto sent = testing::ActionClock::now();
    send({{"id", job}, {"durationSeconds", 2}});
    std::map<std::string, testing::ActionClock::time_point> seen;
    Json done = waitFor(yux, job, {"completed", "failed", "cancelled"}, kJobTimeout, &seen);
    ASSERT_EQ(done["phase"], "completed") << done.dump();
    EXPECT_FALSE(done.contains("progress"));
    const std::string output = done["outputPath"];
    EXPECT_EQ(output.rfind(home.path().string(), 0), 0u) << output;
    platform::MovieTrackReader movie(output);
    bool screen = false;
    bool systemAudio = false;
    for (const auto& track : movie.tracks()) {
        if (track.type == platform::MediaTrackType::video && track.width == 1920 && track.height == 1080) screen = true;
        if (track.type == platform::MediaTrackType::audio) systemAudio = true;
    }
    EXPECT_TRUE(screen);
    EXPECT_TRUE(systemAudio);
    // Two seconds at least, and no longer than from the command to its stop being seen: a
    // phase skipped between two looks counts from the next one.
    auto stopSeen = testing::ActionClock::time_point::max();
    for (const char* phase : {"stopping", "exporting", "completed"}) {
        if (seen.contains(phase)) stopSeen = std::min(stopSeen, seen[phase]);
    }
    testing::expectWithin(movie.duration().seconds(), {2.0, testing::secondsBetween(sent, stopSeen)}, kTakeMargin,
                          "the take");

    const std::string after = newID();
    send({{"id", after}, {"action", "status"}});
    EXPECT_EQ(waitFor(yux, after, {"completed"}, kStartTimeout)["discovery"]["sessionState"], "idle");
    quit(yux);
}

// A program that starts Yux and drops a record command at once: the command waits for the
// inputs, which are still starting, instead of failing.
TEST_F(AutomationProcess, ARecordCommandDroppedAsYuxStartsCompletes) {
    std::filesystem::create_directories(base() / "commands");
    QProcess yux;
    start(yux);
    const std::string job = newID();
    send({{"id", job}, {"durationSeconds", 1}});
    Json done = waitFor(yux, job, {"completed", "failed", "cancelled"});
    EXPECT_EQ(done["phase"], "completed") << done.dump();
    quit(yux);
}

TEST_F(AutomationProcess, AnEditedExportHasTheEditedLengthAndSize) {
    QProcess yux;
    start(yux);
    ASSERT_TRUE(waitForFolders(yux));
    const std::string job = newID();
    send({{"id", job},
          {"durationSeconds", 3},
          {"export",
           {{"trimStart", 0.5},
            {"trimEnd", 2.5},
            {"edits", {{{"action", "split"}, {"time", 1.5}}, {{"action", "speed"}, {"time", 2}, {"value", 2}}}},
            {"scale", 0.5},
            {"codec", "h264"},
            {"systemAudioGain", 0.5}}}});
    Json done = waitFor(yux, job, {"completed", "failed", "cancelled"});
    ASSERT_EQ(done["phase"], "completed") << done.dump();
    platform::MovieTrackReader movie(done["outputPath"].get<std::string>());
    const platform::MediaTrack* picture = nullptr;
    for (const auto& track : movie.tracks()) {
        if (track.type == platform::MediaTrackType::video && !picture) picture = &track;
    }
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->width, 960);
    EXPECT_EQ(picture->height, 540);
    EXPECT_EQ(picture->codec, "h264");
    // 1 s at speed 1 and 1 s at speed 2, within one frame.
    EXPECT_NEAR(movie.duration().seconds(), 1.5, 1.0 / 30 + 0.001);
    quit(yux);
}

TEST_F(AutomationProcess, CancelWhileRecordingLeavesNothingBehind) {
    QProcess yux;
    start(yux);
    ASSERT_TRUE(waitForFolders(yux));
    const std::string job = newID();
    send({{"id", job}, {"durationSeconds", 30}});
    waitFor(yux, job, {"recording"});
    const std::string cancel = newID();
    send({{"id", cancel}, {"action", "cancel"}, {"jobID", job}});
    EXPECT_EQ(waitFor(yux, cancel, {"completed", "failed"}, kStartTimeout)["jobID"], job);
    Json done = waitFor(yux, job, {"completed", "failed", "cancelled"});
    EXPECT_EQ(done["phase"], "cancelled");
    EXPECT_EQ(done["error"], "Recording cancelled");
    EXPECT_FALSE(done.contains("outputPath"));
    const auto scratch = home.path() / "cache" / "Yux" / "Scratch";
    bool movieLeft = false;
    if (std::filesystem::exists(scratch)) {
        for (const auto& entry : std::filesystem::directory_iterator(scratch)) {
            if (entry.path().extension() == ".mov") movieLeft = true;
        }
    }
    EXPECT_FALSE(movieLeft);
    const std::string status = newID();
    send({{"id", status}, {"action", "status"}});
    EXPECT_EQ(waitFor(yux, status, {"completed"}, kStartTimeout)["discovery"]["sessionState"], "idle");
    quit(yux);
}

TEST_F(AutomationProcess, AKilledRunsAnswersAreRepairedAtTheNextStart) {
    const std::string job = newID();
    {
        QProcess yux;
        start(yux);
        ASSERT_TRUE(waitForFolders(yux));
        send({{"id", job}, {"durationSeconds", 30}});
        waitFor(yux, job, {"recording"});
        ::kill(static_cast<pid_t>(yux.processId()), SIGKILL);
        yux.waitForFinished(kExitTimeoutMs);
    }
    const std::string claimed = newID();
    std::ofstream(base() / "commands" / (claimed + ".json.processing")) << "{}";

    QProcess again;
    start(again);
    Json repaired = waitFor(again, job, {"failed"}, kStartTimeout);
    EXPECT_EQ(repaired["error"], "Yux restarted before this recording completed");
    EXPECT_EQ(repaired["id"], job);
    Json lost = waitFor(again, claimed, {"failed"}, kStartTimeout);
    EXPECT_EQ(lost["error"], "Yux restarted while processing this command");
    EXPECT_FALSE(std::filesystem::exists(base() / "commands" / (claimed + ".json.processing")));
    quit(again);
}

}  // namespace
}  // namespace yux

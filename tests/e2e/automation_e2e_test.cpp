// Another program drives the real Yux through the automation folders, as a script would: it
// writes "<UUID>.json.tmp", renames it to "<UUID>.json" and reads the answer.
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <thread>
#include <tuple>

#include <atomic>
#include <memory>

#include <QProcess>
#include <QProcessEnvironment>
#include <QUuid>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/media/movie_track_reader.hpp"
#include "support/action_span.hpp"
#include "support/temporary_directory.hpp"
#include "support/timed_movie.hpp"
#include "desktop_windows.hpp"
#include "support/x11_test_window.hpp"
#include "yux_process_environment.hpp"

namespace yux {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr auto kStartTimeout = 20s;
// How long a record job may stand still on a loaded machine: its start, its recording, or an
// export whose progress stops.
constexpr auto kJobTimeout = 90s;
constexpr int kExitTimeoutMs = 20000;
// What a take's length may stray beyond its bounds: the frames and sound packets at its ends.
constexpr double kTakeMargin = 0.1;

struct AutomationProcess : ::testing::Test {
    // When each phase of an answer was first seen.
    using Seen = std::map<std::string, testing::ActionClock::time_point>;

    testing::TemporaryDirectory home;

    std::filesystem::path base() const { return home.path() / "data" / "Yux" / "Automation" / "v1" / "production"; }
    std::filesystem::path scratchFolder() const { return home.path() / "cache" / "Yux" / "Scratch"; }
    std::filesystem::path saveFolder() const { return home.path() / "Videos" / "Yux"; }
    // Set: the save folder was chosen before (it may have changed since); else Yux picks one.
    bool saveFolderChosen = false;

    // Yux itself, or `program` with these arguments when Yux is started through another program.
    void start(QProcess& process, const QString& program = QStringLiteral(YUX_EXECUTABLE),
               const QStringList& arguments = {}) const {
        // The first-run setup is done, as for a user who went through it before.
        std::filesystem::create_directories(home.path() / "config" / "Yux");
        Json preferences = Json::parse(R"({"yux.settings.captureInputs": {"setupCompleted": true,
            "microphoneEnabled": false, "cameraEnabled": false, "ratio": "Free"}})");
        if (saveFolderChosen) {
            const std::string path = saveFolder().string();
            preferences["yux.settings"]["saveFolder"] = {
                {"path", path}, {"bookmarkData", QByteArray::fromStdString(path).toBase64().toStdString()}};
        }
        std::ofstream(home.path() / "config" / "Yux" / "preferences.json") << preferences.dump();
        process.setProcessEnvironment(testing::yuxProcessEnvironment(home.path()));
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted()) << process.errorString().toStdString();
    }

    std::string debugLog() const { return testing::debugLogText(home.path()); }

    bool waitForLine(QProcess& process, const std::string& text) const {
        const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
        while (std::chrono::steady_clock::now() < deadline && process.state() != QProcess::NotRunning) {
            if (debugLog().find(text) != std::string::npos) return true;
            process.waitForFinished(100);
        }
        return debugLog().find(text) != std::string::npos;
    }

    std::vector<std::filesystem::path> scratchFiles(const std::string& suffix) const {
        return testing::scratchFiles(home.path(), suffix);
    }

    // The one take in the scratch folder, kept with its marker; empty when there is none.
    std::filesystem::path keptTake() const {
        const auto movies = scratchFiles(".mov");
        const auto markers = scratchFiles(".pending.json");
        EXPECT_EQ(movies.size(), 1u);
        EXPECT_EQ(markers.size(), 1u);
        if (movies.size() != 1 || markers.size() != 1) return {};
        EXPECT_EQ(markers[0].stem().stem(), movies[0].stem());
        return movies[0];
    }

    // The next start offers the kept take again.
    void expectOfferedAtStart(const std::filesystem::path& movie) const {
        QProcess next;
        start(next);
        EXPECT_TRUE(waitForLine(next, "session_pending_trim_adopted scratch=" + movie.string())) << debugLog();
        quit(next);
    }

    // A one-second take whose export into the save folder fails with `error` is kept for the next
    // start; the debug log says why it failed with `cause`.
    void expectTakeKeptWhenTheExportFails(QProcess& yux, const std::string& error, const std::string& cause) const {
        ASSERT_TRUE(waitForFolders(yux)) << yux.readAllStandardError().toStdString();
        const std::string job = newID();
        send({{"id", job}, {"durationSeconds", 1}});
        const Json done = waitFor(yux, job, {"completed", "failed", "cancelled"});
        // Free for the next command.
        const std::string status = newID();
        send({{"id", status}, {"action", "status"}});
        EXPECT_EQ(waitFor(yux, status, {"completed"}, kStartTimeout)["discovery"]["sessionState"], "idle");
        quit(yux);
        const auto movie = keptTake();
        ASSERT_FALSE(movie.empty()) << debugLog();
        EXPECT_EQ(done["phase"], "failed") << done.dump();
        EXPECT_EQ(done["error"], error + ". The recording is kept in " + movie.string() + ".");
        EXPECT_NE(debugLog().find(cause), std::string::npos) << debugLog();
        EXPECT_NE(debugLog().find("session_pending_kept scratch=" + movie.string()), std::string::npos);
        expectOfferedAtStart(movie);
    }

    // The value after `key` on the first debug-log line starting with `line`, up to `end`.
    std::string loggedValue(const std::string& line, const std::string& key, const std::string& end) const {
        const std::string log = debugLog();
        const std::size_t at = log.find(key, log.find(line));
        if (log.find(line) == std::string::npos || at == std::string::npos) return {};
        return log.substr(at + key.size(), log.find(end, at) - at - key.size());
    }

    // Exports the take offered in the trim window as a user does: the Export… button at the foot of
    // its side bar. `asRecorded` first sets the quality to full and the format to H.264, as the
    // take was recorded (the size is full already). The exported movie's path, or empty.
    std::string exportFromTrimWindow(QProcess& process, bool asRecorded = false) const {
        testing::DesktopWindows desktop;
        const auto trim = testing::centredActiveWindow(desktop, process.processId(), "Recording — Export");
        EXPECT_TRUE(trim) << "no trim window in the middle of the work area with the keyboard\n" << debugLog();
        if (!trim) return {};
        const auto click = [&](const QPoint& at) {
            EXPECT_TRUE(testing::clickAndWait(desktop, at)) << "a click is held";
        };
        if (asRecorded) {
            click(trim->bottomRight() - QPoint(22, 559));  // the quality slider, then its top
            QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("End")});
            click(trim->bottomRight() - QPoint(216, 372));  // the format's "H.264"
        }
        click(trim->bottomRight() - QPoint(114, 29));
        EXPECT_TRUE(testing::untilExportCompleted(process, home.path(), kJobTimeout));
        return loggedValue("export_editor_export_completed", "destination=", "\"");
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

    // Waits until the answer of `id` is in one of `phases`, failing once it has stood still for
    // `timeout` (an export's progress moves it on) or at the test's waitsEnd(); notes in `seen`
    // when each phase was first seen.
    Json waitFor(QProcess& process, const std::string& id, std::vector<std::string> phases,
                 std::chrono::seconds timeout = kJobTimeout,
                 Seen* seen = nullptr, int pollMs = 50) const {
        const auto begun = std::chrono::steady_clock::now();
        const auto end = testing::waitsEnd();
        auto still = begun + timeout;
        Json last;
        while (std::chrono::steady_clock::now() < std::min(still, end) && process.state() != QProcess::NotRunning) {
            Json now = answer(id);
            if (now != last) still = std::chrono::steady_clock::now() + timeout;
            last = std::move(now);
            const std::string phase = last.is_object() ? last.value("phase", "") : "";
            if (seen && !phase.empty()) seen->try_emplace(phase, testing::ActionClock::now());
            if (std::find(phases.begin(), phases.end(), phase) != phases.end()) return last;
            process.waitForFinished(pollMs);
        }
        const auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begun);
        std::string why = "it stood still for " + std::to_string(timeout.count()) + " s";
        if (process.state() == QProcess::NotRunning) {
            why = "Yux ended after " + std::to_string(waited.count()) + " s of the wait";
        } else if (std::chrono::steady_clock::now() >= end) {
            why = "it still changed after " + std::to_string(waited.count()) +
                  " s, when the test's time was up (ctest ends it at " + std::to_string(YUX_TEST_TIMEOUT) + " s)";
        }
        ADD_FAILURE() << "no answer in " << phases.front() << " for " << id << ": " << why
                      << "; last: " << last.dump() << "\nthe debug log:\n" << debugLog();
        return last;
    }

    // When the first of `phases` was seen: a phase skipped between two looks counts from the next.
    static testing::ActionClock::time_point firstSeen(const Seen& seen, std::initializer_list<const char*> phases) {
        auto first = testing::ActionClock::time_point::max();
        for (const char* phase : phases) {
            if (const auto found = seen.find(phase); found != seen.end()) first = std::min(first, found->second);
        }
        return first;
    }

    // Starts Yux with a record job of a minute; when its recording was first seen running, or
    // max() when it did not run.
    testing::ActionClock::time_point startRecording(QProcess& yux) const {
        start(yux);
        if (!waitForFolders(yux)) return testing::ActionClock::time_point::max();
        const std::string job = newID();
        send({{"id", job}, {"durationSeconds", 60}});
        Seen seen;
        const Json reached = waitFor(yux, job, {"recording", "failed"}, kJobTimeout, &seen);
        EXPECT_EQ(reached["phase"], "recording") << reached.dump();
        return reached["phase"] == "recording" ? seen["recording"] : testing::ActionClock::time_point::max();
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
    Seen seen;
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
    // Two seconds at least, and no longer than from the command to its stop being seen.
    const auto stopSeen = firstSeen(seen, {"stopping", "exporting", "completed"});
    testing::expectWithin(movie.duration().seconds(), {2.0, testing::secondsBetween(sent, stopSeen)}, kTakeMargin,
                          "the take");

    const std::string after = newID();
    send({{"id", after}, {"action", "status"}});
    EXPECT_EQ(waitFor(yux, after, {"completed"}, kStartTimeout)["discovery"]["sessionState"], "idle");
    quit(yux);
}

// The README's automation example, its lines as they stand there.
std::string readmeExample() {
    std::ifstream readme(YUX_README);
    std::string line;
    std::string example;
    bool reached = false;
    while (std::getline(readme, line)) {
        if (!reached) {
            reached = line.ends_with("A two-second recording of the main display:");
        } else if (line.starts_with("    ")) {
            example += line.substr(4) + "\n";
        } else if (!example.empty()) {
            break;
        }
    }
    return example;
}

// The README's example run with bash as a user would paste it.
TEST_F(AutomationProcess, TheReadmeExampleRecordsAndWaitsForTheFinalAnswer) {
    const std::string example = readmeExample();
    ASSERT_FALSE(example.empty()) << "no example in " << YUX_README;

    QProcess yux;
    start(yux);
    ASSERT_TRUE(waitForFolders(yux));
    QProcess bash;
    bash.setProcessEnvironment(testing::yuxProcessEnvironment(home.path()));
    bash.start(QStringLiteral("bash"), {QStringLiteral("-c"), QString::fromStdString(example)});
    const auto ended = testing::untilDoneWhileExportsMove(
        bash, home.path(), [&] { return bash.state() == QProcess::NotRunning; }, kJobTimeout);
    if (!ended) bash.kill();
    const std::string output = bash.readAllStandardOutput().toStdString();
    const std::string errors = bash.readAllStandardError().toStdString();
    ASSERT_TRUE(ended) << "the example still waits; it printed: " << output << errors;
    EXPECT_EQ(bash.exitCode(), 0) << errors;
    EXPECT_EQ(errors, "");
    // It printed the final answer, once the job was over.
    const Json done = Json::parse(output, nullptr, false);
    ASSERT_TRUE(done.is_object()) << output;
    EXPECT_EQ(done["phase"], "completed") << output;
    EXPECT_TRUE(std::filesystem::exists(done.value("outputPath", ""))) << output;
    EXPECT_EQ(answer(done.value("id", "")), done);
    quit(yux);
}

// With no Yux to answer (its folders left by an earlier run), the example gives up at its bound and
// says so; the bound is cut from ten minutes to one second here.
TEST_F(AutomationProcess, TheReadmeExampleGivesUpWhenNoAnswerComes) {
    std::string example = readmeExample();
    const auto bound = example.find("SECONDS + 600");
    ASSERT_NE(bound, std::string::npos) << "no ten-minute bound in the example: " << example;
    example.replace(bound, std::strlen("SECONDS + 600"), "SECONDS + 1");
    std::filesystem::create_directories(base() / "commands");
    std::filesystem::create_directories(base() / "responses");
    QProcess bash;
    bash.setProcessEnvironment(testing::yuxProcessEnvironment(home.path()));
    bash.start(QStringLiteral("bash"), {QStringLiteral("-c"), QString::fromStdString(example)});
    const bool ended = bash.waitForFinished(10000);
    if (!ended) bash.kill();
    ASSERT_TRUE(ended) << "the example still waits";
    EXPECT_EQ(bash.readAllStandardOutput().toStdString(), "");
    EXPECT_EQ(bash.readAllStandardError().toStdString(), "No final answer from Yux within 10 minutes: is it running?\n");
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
    EXPECT_TRUE(scratchFiles(".mov").empty());
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

// A quit (SIGTERM, or SIGHUP when the terminal closes) while a job records, stops or exports
// keeps the take for the next start instead of deleting it, and the job's answer says where.
TEST_F(AutomationProcess, AQuitWhileAJobStopsOrExportsKeepsItsTakeForTheNextStart) {
    const struct {
        int signal;
        const char* phase;
    } cases[] = {{SIGTERM, "recording"}, {SIGTERM, "stopping"}, {SIGHUP, "stopping"}, {SIGTERM, "exporting"},
                 {SIGHUP, "exporting"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.signal)) + " while " + c.phase);
        std::filesystem::remove_all(scratchFolder());  // the last case's take, offered already
        QProcess yux;
        start(yux);
        ASSERT_TRUE(waitForFolders(yux));
        std::string job;
        auto sent = testing::ActionClock::now();
        Seen seen;
        Json reached = Json::object();
        // The stop lasts about a tenth of a second, so the answer is looked at often; should a
        // busy machine still let it pass unseen, the client cancels that job and records again.
        for (int attempt = 0; attempt < 3 && reached.value("phase", "") != c.phase; ++attempt) {
            if (!job.empty()) {
                send({{"id", newID()}, {"action", "cancel"}, {"jobID", job}});
                waitFor(yux, job, {"completed", "failed", "cancelled"});
            }
            job = newID();
            seen.clear();
            sent = testing::ActionClock::now();
            // A slow export: the picture encoded again at the best quality in the other codec.
            send({{"id", job}, {"durationSeconds", 2}, {"export", {{"codec", "hevc"}, {"quality", 1.0}}}});
            reached = waitFor(yux, job, {c.phase, "exporting", "completed", "failed", "cancelled"}, kJobTimeout,
                              &seen, 2);
        }
        ::kill(static_cast<pid_t>(yux.processId()), c.signal);
        ASSERT_EQ(reached["phase"], c.phase) << reached.dump();
        ASSERT_TRUE(yux.waitForFinished(kExitTimeoutMs));
        EXPECT_EQ(yux.exitCode(), 0);
        const auto ended = testing::ActionClock::now();

        const auto movie = keptTake();
        ASSERT_FALSE(movie.empty()) << debugLog();
        const Json done = answer(job);
        EXPECT_EQ(done["phase"], "cancelled") << done.dump();
        EXPECT_EQ(done["error"], "Recording cancelled. The recording is kept in " + movie.string() + ".");
        EXPECT_FALSE(done.contains("outputPath"));
        EXPECT_EQ(debugLog().find("session_trim_discarded scratch=" + movie.string()), std::string::npos);
        // Nothing of the export is left in the save folder, whole or not.
        if (std::filesystem::exists(saveFolder())) {
            EXPECT_TRUE(std::filesystem::is_empty(saveFolder()));
        }
        // Cut by the quit while recording: no longer than the whole run; else the two seconds.
        const bool cut = std::string(c.phase) == "recording";
        const auto stopSeen = cut ? ended : firstSeen(seen, {"stopping", "exporting"});
        testing::expectWithin(platform::MovieTrackReader(movie.string()).duration().seconds(),
                              {cut ? 0.0 : 2.0, testing::secondsBetween(sent, stopSeen)}, 0.2, "the kept take");
        expectOfferedAtStart(movie);
    }
}

// A take cut by SIGKILL (or a crash, or a power loss) is offered at the next start, up to its
// last whole fragment.
TEST_F(AutomationProcess, ATakeKilledWhileRecordingIsOfferedAtTheNextStart) {
    QProcess yux;
    start(yux);
    ASSERT_TRUE(waitForFolders(yux));
    const std::string job = newID();
    const auto sent = testing::ActionClock::now();
    send({{"id", job}, {"durationSeconds", 60}});
    Seen seen;
    ASSERT_EQ(waitFor(yux, job, {"recording", "failed"}, kJobTimeout, &seen)["phase"], "recording");
    std::this_thread::sleep_for(3s);
    // Killed just after a fragment reached the disk, so the cut loses little.
    const auto movies = scratchFiles(".mov");
    ASSERT_EQ(movies.size(), 1u);
    const auto written = std::filesystem::file_size(movies[0]);
    const auto giveUp = std::chrono::steady_clock::now() + 5s;
    while (std::filesystem::file_size(movies[0]) == written && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(2ms);
    }
    const auto killed = testing::ActionClock::now();
    ::kill(static_cast<pid_t>(yux.processId()), SIGKILL);
    ASSERT_TRUE(yux.waitForFinished(kExitTimeoutMs));

    const auto movie = keptTake();
    ASSERT_FALSE(movie.empty());
    testing::expectWithin(platform::MovieTrackReader(movie.string()).duration().seconds(),
                          {testing::secondsBetween(seen["recording"], killed), testing::secondsBetween(sent, killed)},
                          0.6, "the kept take");
    expectOfferedAtStart(movie);
}

// A take killed 5 s into its recording keeps its pictures about as far as its sound, whatever
// the screen does meanwhile, and its trim window shows them.
TEST_F(AutomationProcess, AKilledTakeKeepsItsPicturesAsFarAsItsSound) {
    // A window of another program's that changes colour `rate` times a second, as long as it lives.
    struct Animated {
        explicit Animated(int rate) : rate(rate) {}
        static testing::X11TestWindow::Options placed() {
            testing::X11TestWindow::Options options;
            options.x = 200;
            options.y = 200;
            options.width = 320;
            options.height = 240;
            return options;
        }
        int rate;
        testing::X11TestWindow window{placed()};
        std::atomic<bool> stop{false};
        std::thread painter{[this] {
            const auto begun = std::chrono::steady_clock::now();
            for (int i = 0; !stop; ++i) {
                window.fill(i % 2 ? 0x2060c0 : 0xc06020);
                window.sync();
                std::this_thread::sleep_until(begun + std::chrono::microseconds(1'000'000LL * (i + 1) / rate));
            }
        }};
        ~Animated() {
            stop = true;
            painter.join();
        }
    };
    constexpr std::uint32_t kBefore = 0x2060c0;
    constexpr std::uint32_t kAfter = 0xc06020;
    const struct {
        const char* screen;
        bool clock;
        int animated;  // changes a second of a window, 0 for none
        bool changesOnce;  // a window changes its colour 1.5 s before the kill, nothing else moves
    } cases[] = {{"a still screen", false, 0, false},
                 {"a clock ticking once a second", true, 0, false},
                 {"a window changing 5 times a second, as typing does", false, 5, false},
                 {"a window changing 6 times a second, too seldom to push its pictures out", false, 6, false},
                 {"a window at 30 fps", false, 30, false},
                 {"one change 1.5 s before the kill", false, 0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.screen);
        std::filesystem::remove_all(scratchFolder());  // the last case's take, offered already
        std::unique_ptr<testing::X11TestProgram> clock;
        if (c.clock) {
            clock = std::make_unique<testing::X11TestProgram>(std::vector<std::string>{"xclock", "-update", "1"});
            ASSERT_NE(clock->waitForWindow("XClock"), 0u);
        }
        std::unique_ptr<Animated> animated;
        if (c.animated > 0) animated = std::make_unique<Animated>(c.animated);
        std::unique_ptr<testing::X11TestWindow> changing;
        if (c.changesOnce) {
            changing = std::make_unique<testing::X11TestWindow>(Animated::placed());
            changing->fill(kBefore);
            changing->sync();
        }
        QProcess yux;
        const auto recording = startRecording(yux);
        ASSERT_NE(recording, testing::ActionClock::time_point::max());
        if (changing) {
            std::this_thread::sleep_until(recording + 3500ms);
            changing->fill(kAfter);
            changing->sync();
        }
        std::this_thread::sleep_until(recording + 5s);
        ::kill(static_cast<pid_t>(yux.processId()), SIGKILL);
        ASSERT_TRUE(yux.waitForFinished(kExitTimeoutMs));

        const auto movie = keptTake();
        ASSERT_FALSE(movie.empty());
        platform::MovieTrackReader reader(movie.string());
        const auto* screen = reader.trackTitled("yux.source.screen");
        const auto* sound = reader.trackTitled("yux.source.systemAudio");
        ASSERT_TRUE(screen && sound);
        // Where the last picture ends: its time plus its duration, as the track's samples say.
        const double picturesEnd = (screen->start + screen->duration).seconds();
        const double soundEnd = (sound->start + sound->duration).seconds();
        // Up to its last whole fragment, about a second.
        EXPECT_GE(picturesEnd, 3.0);
        EXPECT_GE(soundEnd, 3.5);
        EXPECT_LE(std::abs(picturesEnd - soundEnd), 1.0);
        std::printf("%s: pictures to %.3f s, sound to %.3f s\n", c.screen, picturesEnd, soundEnd);
        if (changing) {
            // The last picture kept shows the window's new colour.
            std::optional<platform::SampleBuffer> last;
            reader.readVideo(*screen, [&](const platform::SampleBuffer& picture) {
                last = picture;
                return true;
            });
            ASSERT_TRUE(last && last->picture());
            const auto& pixels = *last->picture();
            ASSERT_GT(pixels.width(), 360);
            ASSERT_GT(pixels.height(), 320);
            const std::uint8_t* middle = pixels.row(320) + 4 * 360;  // BGRA
            const int red = middle[2], green = middle[1], blue = middle[0];
            EXPECT_NEAR(red, 0xc0, 24);
            EXPECT_NEAR(green, 0x60, 24);
            EXPECT_NEAR(blue, 0x20, 24);
            std::printf("%s: the last picture at %.3f s shows #%02x%02x%02x\n", c.screen,
                        last->presentationTime.seconds(), red, green, blue);
        }

        // The next start offers it, and its trim window has pictures to show.
        QProcess next;
        start(next);
        EXPECT_TRUE(waitForLine(next, "session_pending_trim_adopted scratch=" + movie.string())) << debugLog();
        EXPECT_FALSE(waitForLine(next, "export_waveform_failed")) << debugLog();
        quit(next);
    }
}

// A take killed 5 s into a recording of a still screen, whose last picture lasts the 0.1 s of a
// repeat, exported from its trim window at the next start as it was recorded: a fast copy with
// every picture of the take, as long as the take.
TEST_F(AutomationProcess, AKilledTakeOfAStillScreenExportsUnchangedFromItsTrimWindow) {
    // How long a movie lasts, and where its pictures end: the last one's time plus its length.
    const auto lengths = [](const std::string& path) {
        platform::MovieTrackReader reader(path);
        const auto* screen = reader.trackTitled("yux.source.screen");
        return std::pair(reader.duration().seconds(), screen ? (screen->start + screen->duration).seconds() : -1.0);
    };
    std::filesystem::path movie;
    std::vector<testing::StoredPicture> kept;
    double keptLength = 0;
    double keptPicturesEnd = 0;
    // The copy's tolerance would cover a last picture of 0.05 s or less even if it gave that
    // picture no length: only a longer one tells whether the copy keeps the take's length. The
    // panel's clock changes the screen once a minute; a take whose last fragment ends just after
    // that ends on a picture of the frame grid, and is set aside for another.
    constexpr int kTakes = 3;
    for (int take = 1; take <= kTakes; ++take) {
        QProcess yux;
        const auto recording = startRecording(yux);
        ASSERT_NE(recording, testing::ActionClock::time_point::max());
        std::this_thread::sleep_until(recording + 5s);
        ::kill(static_cast<pid_t>(yux.processId()), SIGKILL);
        ASSERT_TRUE(yux.waitForFinished(kExitTimeoutMs));
        movie = keptTake();
        ASSERT_FALSE(movie.empty());
        kept = testing::storedPictures(movie.string());
        ASSERT_FALSE(kept.empty());
        std::tie(keptLength, keptPicturesEnd) = lengths(movie.string());
        if (keptPicturesEnd - kept.back().seconds > 0.05 || take == kTakes) break;
        std::printf("take %d: its last picture lasts from %.3f s to %.3f s; another take\n", take, kept.back().seconds,
                    keptPicturesEnd);
        std::filesystem::remove(movie);
        std::filesystem::remove(scratchFolder() / (movie.stem().string() + ".pending.json"));
    }
    ASSERT_GT(keptPicturesEnd - kept.back().seconds, 0.05)
        << "the kept take's last picture: from " << kept.back().seconds << " s to " << keptPicturesEnd << " s";

    QProcess next;
    start(next);
    ASSERT_TRUE(waitForLine(next, "session_pending_trim_adopted scratch=" + movie.string())) << debugLog();
    const std::string exported = exportFromTrimWindow(next, true);
    ASSERT_FALSE(exported.empty());
    EXPECT_EQ(loggedValue("trim_export_progress phase=completed", "mode=", "\""), "copy") << "not the fast copy";
    EXPECT_EQ(std::filesystem::path(exported).parent_path(), saveFolder());
    const auto pictures = testing::storedPictures(exported);
    ASSERT_EQ(pictures.size(), kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_NEAR(pictures[i].seconds, kept[i].seconds, 1e-6) << i;
    const auto [length, picturesEnd] = lengths(exported);
    EXPECT_NEAR(length, keptLength, 0.05);
    EXPECT_NEAR(picturesEnd, keptPicturesEnd, 0.05);
    std::printf("kept take: %zu pictures to %.3f s (the last from %.3f s), %.3f s long; "
                "exported: %zu pictures to %.3f s, %.3f s long\n",
                kept.size(), keptPicturesEnd, kept.back().seconds, keptLength, pictures.size(), picturesEnd, length);
    quit(next);
}

TEST_F(AutomationProcess, ATakeWhoseExportFindsTheSaveDiskFullIsKept) {
    const auto isolation = testing::privateMountOptions();
    if (!isolation) GTEST_SKIP() << "no mount namespace here for a small file system of Yux's own";
    std::filesystem::create_directories(saveFolder());
    saveFolderChosen = true;
    QProcess yux;
    // The save folder is a full 4 MB file system that only Yux sees.
    start(yux, QStringLiteral("unshare"),
          *isolation + QStringList{"sh", "-c",
                                   R"(mount -t tmpfs -o size=4m tmpfs "$1" && { head -c 8M /dev/zero > "$1/fill"; exec "$2"; })",
                                   "sh", QString::fromStdString(saveFolder().string()), QStringLiteral(YUX_EXECUTABLE)});
    expectTakeKeptWhenTheExportFails(yux, R"(outputFinalizationFailed("publish failed"))",
                                     "The disk is full: the exported movie cannot be written.");
    EXPECT_TRUE(std::filesystem::is_empty(saveFolder())) << "the full file system was Yux's alone";
}

TEST_F(AutomationProcess, ATakeWhoseSaveFolderIsAFileIsKept) {
    std::filesystem::create_directories(saveFolder().parent_path());
    std::ofstream(saveFolder()) << "not a folder";
    saveFolderChosen = true;
    QProcess yux;
    start(yux);
    expectTakeKeptWhenTheExportFails(
        yux, R"(saveFolderUnusable("save folder bookmark resolution failed for )" + saveFolder().string() + "\")",
        "session_publish_failed scratch=");
}

// An export killed halfway (SIGKILL, as a crash or a power loss) leaves nothing under the
// finished movie's name. The next start removes the one temporary noted with the take and leaves
// everything else of that naming alone; the take, offered again, exports from its trim window.
TEST_F(AutomationProcess, AnExportKilledHalfwayLeavesNoMovieUnderItsNameAndItsTemporaryGoesAtTheNextStart) {
    QProcess yux;
    start(yux);
    ASSERT_TRUE(waitForFolders(yux));
    const std::string job = newID();
    // A slow export: the picture encoded again at the best quality in the other codec.
    send({{"id", job}, {"durationSeconds", 4}, {"export", {{"codec", "hevc"}, {"quality", 1.0}}}});
    ASSERT_EQ(waitFor(yux, job, {"exporting", "completed", "failed", "cancelled"})["phase"], "exporting");
    auto hidden = [&](const std::string& prefix) {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(saveFolder())) {
            if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path());
        }
        return found;
    };
    // Killed once the export has written part of the movie.
    std::vector<std::filesystem::path> partial;
    const auto giveUp = std::chrono::steady_clock::now() + kJobTimeout;
    while (std::chrono::steady_clock::now() < giveUp && yux.state() != QProcess::NotRunning) {
        partial = hidden(".yux-export-");
        if (partial.size() == 1 && std::filesystem::file_size(partial[0]) > 0) break;
        std::this_thread::sleep_for(2ms);
    }
    ::kill(static_cast<pid_t>(yux.processId()), SIGKILL);
    ASSERT_TRUE(yux.waitForFinished(kExitTimeoutMs));
    ASSERT_EQ(partial.size(), 1u) << debugLog();
    ASSERT_EQ(answer(job)["phase"], "exporting") << "the export ended before the kill";
    const std::filesystem::path destination = loggedValue("session_publish_requested scratch=", "destination=", " start_seconds=");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(destination))) << destination;
    EXPECT_TRUE(hidden("Yux ").empty()) << "no movie under a finished movie's name";

    const auto movie = keptTake();
    ASSERT_FALSE(movie.empty()) << debugLog();
    std::ifstream markerFile(scratchFolder() / (movie.stem().string() + ".pending.json"));
    const Json marker = Json::parse(markerFile, nullptr, false);
    ASSERT_TRUE(marker.is_object());
    EXPECT_EQ(marker.value("exportTemporaryPath", ""), partial[0].string());
    // Of the same naming, but not noted: never Yux's to remove.
    const auto unnoted = saveFolder() / (".yux-export-" + newID() + ".partial");
    std::ofstream(unnoted) << "someone's";
    const auto link = saveFolder() / (".yux-export-" + newID() + ".partial");
    std::filesystem::create_symlink(unnoted, link);
    const auto folder = saveFolder() / (".yux-export-" + newID() + ".partial");
    std::filesystem::create_directory(folder);

    QProcess next;
    start(next);
    ASSERT_TRUE(waitForLine(next, "session_pending_trim_adopted scratch=" + movie.string())) << debugLog();
    EXPECT_FALSE(std::filesystem::exists(partial[0]));
    EXPECT_NE(debugLog().find("export_temporary_removed path=" + partial[0].string()), std::string::npos);
    const std::string exported = exportFromTrimWindow(next);
    ASSERT_FALSE(exported.empty());
    EXPECT_GT(platform::MovieTrackReader(exported).duration().seconds(), 3.5) << exported;
    quit(next);

    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(unnoted)));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::symlink_status(folder)));
    EXPECT_EQ(hidden(".yux-export-").size(), 3u);
}

}  // namespace
}  // namespace yux

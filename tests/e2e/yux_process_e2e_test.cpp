// The real program, started as a user would, in fresh folders of its own.
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include "model/recording_source.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "support/temporary_directory.hpp"

namespace yux {
namespace {

using namespace std::chrono_literals;

// Long enough for a cold start on a loaded machine; the tests wait for a sign, not this long.
constexpr auto kStartTimeout = 20s;
constexpr int kExitTimeoutMs = 20000;

struct YuxProcess : ::testing::Test {
    testing::TemporaryDirectory home;

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString root = QString::fromStdString(home.path().string());
        env.insert("HOME", root);
        env.insert("XDG_DATA_HOME", root + "/data");
        env.insert("XDG_CONFIG_HOME", root + "/config");
        env.insert("XDG_CACHE_HOME", root + "/cache");
        env.insert("XDG_RUNTIME_DIR", root + "/run");
        std::filesystem::create_directories(home.path() / "run");
        std::filesystem::permissions(home.path() / "run", std::filesystem::perms::owner_all);
        return env;
    }

    void start(QProcess& process) const {
        process.setProcessEnvironment(environment());
        process.start(QStringLiteral(YUX_EXECUTABLE), {});
        ASSERT_TRUE(process.waitForStarted()) << process.errorString().toStdString();
    }

    std::string debugLog() const {
        std::ifstream in(home.path() / "data" / "Yux" / "debug-log.jsonl");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Waits for a debug-log line holding `text`, the `count`-th such line.
    bool waitForLine(QProcess& process, const std::string& text, int count = 1,
                     std::chrono::seconds timeout = kStartTimeout) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string log = debugLog();
            int found = 0;
            for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++found;
            if (found >= count) return true;
            if (process.state() == QProcess::NotRunning) return false;
            process.waitForFinished(100);
        }
        return false;
    }

    // The start-up lines are written once the services are composed.
    bool waitUntilComposed(QProcess& process) const { return waitForLine(process, "app_startup_settings"); }

    // The first-run input setup is done, as for a user who went through it before.
    void seedSetup() const {
        std::filesystem::create_directories(home.path() / "config" / "Yux");
        std::ofstream(home.path() / "config" / "Yux" / "preferences.json")
            << R"({"yux.settings.captureInputs": {"setupCompleted": true, "microphoneEnabled": false,
                 "cameraEnabled": false, "ratio": "Free", "camera": {}}})";
    }

    // Keys typed as a user types them, through XTest.
    static void type(const char* keys) {
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QString::fromLatin1(keys)});
    }
};

TEST_F(YuxProcess, SecondInstanceExitsOneAndTheFirstEndsCleanlyOnSigterm) {
    QProcess first;
    start(first);
    ASSERT_TRUE(waitUntilComposed(first)) << first.readAllStandardError().toStdString();
    EXPECT_NE(debugLog().find("app_startup bundle_id=com.zt.yux"), std::string::npos);

    QProcess second;
    start(second);
    ASSERT_TRUE(second.waitForFinished(kExitTimeoutMs));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 1);
    const std::string lockFile = (home.path() / "run" / "yux.lock").string();
    EXPECT_EQ(second.readAllStandardError().toStdString(),
              "Yux is already running (lock: " + lockFile + ").\n");

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(kExitTimeoutMs));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);

    // The lock went with the process: the next start runs.
    QProcess third;
    start(third);
    ASSERT_TRUE(third.waitForStarted());
    EXPECT_FALSE(third.waitForFinished(2000)) << third.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(third.processId()), SIGINT);
    ASSERT_TRUE(third.waitForFinished(kExitTimeoutMs));
    EXPECT_EQ(third.exitCode(), 0);
}

TEST_F(YuxProcess, ShortcutRecordsAndATakePendingAtQuitIsOfferedAtTheNextStart) {
    seedSetup();
    QProcess first;
    start(first);
    ASSERT_TRUE(waitUntilComposed(first)) << first.readAllStandardError().toStdString();
    // Registered once the setup is done; a press before that goes nowhere, so press again.
    bool selecting = false;
    for (int attempt = 0; attempt < 5 && !selecting; ++attempt) {
        type("shift+super+6");
        selecting = waitForLine(first, "session_start_requested state=idle", 1, 3s);
    }
    ASSERT_TRUE(selecting) << debugLog();
    std::this_thread::sleep_for(1s);
    type("Tab");  // area, then application, then screen
    type("Tab");
    type("Return");
    ASSERT_TRUE(waitForLine(first, "session_recording_started")) << debugLog();
    std::this_thread::sleep_for(2s);
    type("shift+super+6");
    ASSERT_TRUE(waitForLine(first, "session_pending_trim_ready")) << debugLog();

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(kExitTimeoutMs));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_NE(debugLog().find("app_quit_pending_kept"), std::string::npos);

    std::vector<std::filesystem::path> movies, markers;
    for (const auto& entry : std::filesystem::directory_iterator(home.path() / "cache" / "Yux" / "Scratch")) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".pending.json")) markers.push_back(entry.path());
        if (name.ends_with(".mov")) movies.push_back(entry.path());
    }
    ASSERT_EQ(movies.size(), 1u);
    ASSERT_EQ(markers.size(), 1u);
    EXPECT_EQ(markers[0].stem().stem(), movies[0].stem());
    // The movie is complete: it opens, with pictures over the time the take ran.
    platform::MovieTrackReader movie(movies[0].string());
    EXPECT_GE(movie.duration().seconds(), 1.5);
    EXPECT_LE(movie.duration().seconds(), 6.0);
    const auto* screen = movie.trackTitled(trackTitle(RecordingSourceKind::screen));
    const auto* systemAudio = movie.trackTitled(trackTitle(RecordingSourceKind::systemAudio));
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(systemAudio, nullptr);
    EXPECT_GE(screen->duration.seconds(), 1.5);
    EXPECT_NEAR(systemAudio->duration.seconds(), screen->duration.seconds(), 0.5);

    QProcess second;
    start(second);
    ASSERT_TRUE(waitForLine(second, "session_pending_trim_adopted scratch=" + movies[0].string()));
    ::kill(static_cast<pid_t>(second.processId()), SIGTERM);
    ASSERT_TRUE(second.waitForFinished(kExitTimeoutMs));
    EXPECT_EQ(second.exitCode(), 0);
    // Still waiting for the trim window, so noted again for the start after.
    EXPECT_TRUE(std::filesystem::exists(markers[0]));
}

}  // namespace
}  // namespace yux

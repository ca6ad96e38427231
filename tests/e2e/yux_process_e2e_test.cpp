// The real program, started as a user would, in fresh folders of its own.
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

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

    // The start-up lines are written once the services are composed.
    bool waitUntilComposed(QProcess& process) const {
        const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (debugLog().find("app_startup_settings") != std::string::npos) return true;
            if (process.state() == QProcess::NotRunning) return false;
            process.waitForFinished(100);
        }
        return false;
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

}  // namespace
}  // namespace yux

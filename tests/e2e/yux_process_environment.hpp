#pragma once

// The environment of a Yux started by a test: every folder it uses lies under `home`.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <gtest/gtest.h>

namespace yux::testing {

inline QProcessEnvironment yuxProcessEnvironment(const std::filesystem::path& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString root = QString::fromStdString(home.string());
    env.insert("HOME", root);
    env.insert("XDG_DATA_HOME", root + "/data");
    env.insert("XDG_CONFIG_HOME", root + "/config");
    env.insert("XDG_CACHE_HOME", root + "/cache");
    env.insert("XDG_RUNTIME_DIR", root + "/run");
    std::filesystem::create_directories(home / "run");
    std::filesystem::permissions(home / "run", std::filesystem::perms::owner_all);
    return env;
}

// Its debug log as it stands, whole.
inline std::string debugLogText(const std::filesystem::path& home) {
    std::ifstream in(home / "data" / "Yux" / "debug-log.jsonl");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// ctest kills each of these tests YUX_TEST_TIMEOUT seconds after it starts (its TIMEOUT in cmake).
// Waits that go on while something moves give up this long before, so that the test still prints
// why, the debug log and the failure picture, and ends: it may quit Yux (up to 20 s), look at the
// next start (20 s) and quit that one too.
constexpr std::chrono::seconds kTestEndReserve{60};

// When the running test's waits give up at the latest.
inline std::chrono::steady_clock::time_point waitsEnd() {
    using namespace std::chrono;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const auto begun = test ? system_clock::time_point(milliseconds(test->result()->start_timestamp())) : system_clock::now();
    const auto left = begun + seconds(YUX_TEST_TIMEOUT) - kTestEndReserve - system_clock::now();
    return steady_clock::now() + duration_cast<steady_clock::duration>(left);
}

// Until `done` holds, while `process` runs. Two busy cores can take minutes over an export, so
// the wait fails once `stillFor` passes with no export of Yux's moving on (no new progress line
// in its debug log), or at waitsEnd(); its message says which.
inline ::testing::AssertionResult untilDoneWhileExportsMove(QProcess& process, const std::filesystem::path& home,
                                                            const std::function<bool()>& done,
                                                            std::chrono::seconds stillFor) {
    const auto begun = std::chrono::steady_clock::now();
    const auto end = waitsEnd();
    auto still = begun + stillFor;
    std::size_t progress = 0;
    while (std::chrono::steady_clock::now() < std::min(still, end) && process.state() != QProcess::NotRunning) {
        if (done()) return ::testing::AssertionSuccess();
        const std::string log = debugLogText(home);
        std::size_t lines = 0;
        for (auto at = log.find("trim_export_progress"); at != std::string::npos; at = log.find("trim_export_progress", at + 1)) {
            ++lines;
        }
        if (lines != progress) {
            progress = lines;
            still = std::chrono::steady_clock::now() + stillFor;
        }
        process.waitForFinished(100);
    }
    if (done()) return ::testing::AssertionSuccess();
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begun);
    ::testing::AssertionResult failed = ::testing::AssertionFailure();
    if (process.state() == QProcess::NotRunning) {
        failed << process.program().toStdString() << " ended after " << waited.count() << " s of the wait";
    } else if (std::chrono::steady_clock::now() >= end) {
        failed << "not done after " << waited.count() << " s with exports moving on, when the test's time was up "
               << "(ctest ends it at " << YUX_TEST_TIMEOUT << " s)";
    } else {
        failed << "no export moved on (no new trim_export_progress line) for " << stillFor.count() << " s";
    }
    return failed << "; the debug log:\n" << debugLogText(home);
}

// Until Yux has logged a finished export (see untilDoneWhileExportsMove).
inline ::testing::AssertionResult untilExportCompleted(QProcess& process, const std::filesystem::path& home,
                                                       std::chrono::seconds stillFor) {
    return untilDoneWhileExportsMove(
        process, home,
        [&] { return debugLogText(home).find("export_editor_export_completed destination=") != std::string::npos; },
        stillFor);
}

// unshare's options for a mount namespace of Yux's own; none when this machine allows none.
inline std::optional<QStringList> privateMountOptions() {
    for (const QStringList options : {QStringList{"--mount"}, QStringList{"--map-root-user", "--mount"}}) {
        if (QProcess::execute(QStringLiteral("unshare"), options + QStringList{"true"}) == 0) return options;
    }
    return std::nullopt;
}

// The files of its scratch folder whose names end with `suffix` (".mov", ".pending.json").
inline std::vector<std::filesystem::path> scratchFiles(const std::filesystem::path& home, const std::string& suffix) {
    std::vector<std::filesystem::path> found;
    const auto folder = home / "cache" / "Yux" / "Scratch";
    if (!std::filesystem::exists(folder)) return found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().ends_with(suffix)) found.push_back(entry.path());
    }
    return found;
}

}  // namespace yux::testing

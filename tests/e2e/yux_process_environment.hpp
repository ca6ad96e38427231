#pragma once

// The environment of a Yux started by a test: every folder it uses lies under `home`.

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

// Until `done` holds, while `process` runs. Two busy cores can take minutes over an export, so
// the wait fails only once `stillFor` passes with no export of Yux's moving on: no new progress
// line in its debug log.
inline bool untilDoneWhileExportsMove(QProcess& process, const std::filesystem::path& home,
                                      const std::function<bool()>& done, std::chrono::seconds stillFor) {
    auto deadline = std::chrono::steady_clock::now() + stillFor;
    std::size_t progress = 0;
    while (std::chrono::steady_clock::now() < deadline && process.state() != QProcess::NotRunning) {
        if (done()) return true;
        const std::string log = debugLogText(home);
        std::size_t lines = 0;
        for (auto at = log.find("trim_export_progress"); at != std::string::npos; at = log.find("trim_export_progress", at + 1)) {
            ++lines;
        }
        if (lines != progress) {
            progress = lines;
            deadline = std::chrono::steady_clock::now() + stillFor;
        }
        process.waitForFinished(100);
    }
    return done();
}

// Until Yux has logged a finished export (see untilDoneWhileExportsMove).
inline bool untilExportCompleted(QProcess& process, const std::filesystem::path& home, std::chrono::seconds stillFor) {
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

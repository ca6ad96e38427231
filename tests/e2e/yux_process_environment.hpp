#pragma once

// The environment of a Yux started by a test: every folder it uses lies under `home`.

#include <filesystem>
#include <string>
#include <vector>

#include <QProcessEnvironment>

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

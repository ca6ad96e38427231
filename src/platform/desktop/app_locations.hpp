#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace yux::platform {

// Where Yux keeps its files, after the XDG base-directory rules.
struct AppLocations {
    std::filesystem::path supportDirectory;  // $XDG_DATA_HOME/Yux
    std::filesystem::path configDirectory;   // $XDG_CONFIG_HOME/Yux
    std::filesystem::path cacheDirectory;    // $XDG_CACHE_HOME/Yux
    std::filesystem::path runtimeDirectory;  // $XDG_RUNTIME_DIR, else the cache folder
    std::filesystem::path moviesDirectory;   // the user's videos folder

    using Environment = std::function<std::optional<std::string>(const std::string& name)>;

    // Relative XDG values are ignored, as the XDG rules require.
    static AppLocations resolve(const Environment& environment, const std::filesystem::path& home,
                                const std::filesystem::path& moviesDirectory);
    static AppLocations forCurrentUser();

    std::filesystem::path debugLogFile() const { return supportDirectory / "debug-log.jsonl"; }
    std::filesystem::path recentRecordingsFile() const { return supportDirectory / "recent-recordings.json"; }
    std::filesystem::path preferencesFile() const { return configDirectory / "preferences.json"; }
    std::filesystem::path scratchDirectory() const { return cacheDirectory / "Scratch"; }
    std::filesystem::path defaultSaveFolder() const { return moviesDirectory / "Yux"; }
    std::filesystem::path automationDirectory(const std::string& environmentName) const {
        return supportDirectory / "Automation" / "v1" / environmentName;
    }
    std::filesystem::path instanceLockFile() const { return runtimeDirectory / "yux.lock"; }
};

}  // namespace yux::platform

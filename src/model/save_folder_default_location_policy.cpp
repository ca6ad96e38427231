#include "model/save_folder_default_location_policy.hpp"

#include <filesystem>

#include "model/app_error.hpp"
#include "platform/desktop/app_locations.hpp"

namespace yux {

namespace {
std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}
}  // namespace

SaveFolderDefaultLocationPolicy SaveFolderDefaultLocationPolicy::forCurrentUser() {
    return SaveFolderDefaultLocationPolicy{platform::AppLocations::forCurrentUser().moviesDirectory.string()};
}

std::vector<std::string> SaveFolderDefaultLocationPolicy::orderedCandidatePaths(
    const std::string& homeDirectoryPath) const {
    const std::string home = withoutTrailingSlash(homeDirectoryPath);
    const std::string videos =
        videosDirectory ? withoutTrailingSlash(*videosDirectory) : (std::filesystem::path(home) / "Videos").string();
    return {(std::filesystem::path(videos) / "Yux").string(), videos, home};
}

std::string SaveFolderDefaultLocationPolicy::pickerStartDirectory(
    const std::string& homeDirectoryPath, const std::function<bool(const std::string&)>& directoryExists) const {
    for (const auto& candidate : orderedCandidatePaths(homeDirectoryPath)) {
        if (directoryExists(candidate)) return candidate;
    }
    return homeDirectoryPath;
}

std::string SaveFolderDefaultLocationPolicy::initialSettingsDirectory(const std::string& homeDirectoryPath) const {
    for (const auto& candidate : orderedCandidatePaths(homeDirectoryPath)) {
        std::error_code error;
        std::filesystem::create_directories(candidate, error);
        if (!error && std::filesystem::is_directory(candidate, error)) return candidate;
    }
    throw AppError::settingsLoadFailed("default settings initialization failed");
}

}  // namespace yux

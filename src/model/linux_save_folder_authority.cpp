#include "model/linux_save_folder_authority.hpp"

#include <unistd.h>

#include <QDir>
#include <filesystem>
#include <stdexcept>

#include "model/app_error.hpp"
#include "platform/desktop/save_folder_panel.hpp"

namespace yux {

namespace {

const char* const kSelectionFailed = "save folder selection or bookmark creation failed";

std::string textOf(const json::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
json::Bytes bytesOf(const std::string& text) { return json::Bytes(text.begin(), text.end()); }

bool isFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

}  // namespace

SaveFolderSDK SaveFolderSDK::live() {
    SaveFolderSDK sdk;
    sdk.homeDirectory = [] { return QDir::homePath().toStdString(); };
    sdk.directoryExists = isFolder;
    sdk.chooseDirectory = [](std::string startPath) { return platform::SaveFolderPanel::present(std::move(startPath)); };
    sdk.createBookmark = [](const std::string& folderPath) {
        if (!std::filesystem::path(folderPath).is_absolute()) {
            throw std::runtime_error("The save folder " + folderPath + " is not an absolute path.");
        }
        return bytesOf(folderPath);
    };
    sdk.resolveBookmark = [](const json::Bytes& bookmark) {
        std::string path = textOf(bookmark);
        if (!std::filesystem::path(path).is_absolute()) {
            throw std::runtime_error("The save folder bookmark holds no absolute path.");
        }
        if (!isFolder(path)) throw std::runtime_error("The save folder " + path + " no longer exists.");
        return std::pair<std::string, bool>{path, false};
    };
    sdk.canonicalPath = [](const std::string& path) {
        std::error_code error;
        auto canonical = std::filesystem::canonical(path, error);
        return error ? path : canonical.string();
    };
    sdk.startAccess = [](const std::string& path) { return isFolder(path) && ::access(path.c_str(), W_OK | X_OK) == 0; };
    sdk.stopAccess = [](const std::string&) {};
    return sdk;
}

LinuxSaveFolderAuthority::LinuxSaveFolderAuthority(std::shared_ptr<DebugLogBoundary> debugLog,
                                                   SaveFolderDefaultLocationPolicy defaultLocationPolicy,
                                                   SaveFolderSDK sdk)
    : debugLog_(std::move(debugLog)), defaultLocationPolicy_(std::move(defaultLocationPolicy)), sdk_(std::move(sdk)) {}

std::shared_ptr<LinuxSaveFolderAuthority> LinuxSaveFolderAuthority::create(
    std::shared_ptr<DebugLogBoundary> debugLog, SaveFolderDefaultLocationPolicy defaultLocationPolicy) {
    return std::make_shared<LinuxSaveFolderAuthority>(std::move(debugLog), std::move(defaultLocationPolicy),
                                                      SaveFolderSDK::live());
}

std::shared_ptr<LinuxSaveFolderAuthority> LinuxSaveFolderAuthority::create_null(
    std::shared_ptr<DebugLogBoundary> debugLog, SaveFolderDefaultLocationPolicy defaultLocationPolicy,
    std::optional<std::string> selectedDirectory) {
    SaveFolderSDK sdk;
    sdk.homeDirectory = [] { return std::string("/home/recorder"); };
    sdk.directoryExists = [](const std::string&) { return false; };
    sdk.chooseDirectory = [selectedDirectory](std::string) -> QCoro::Task<std::optional<std::string>> {
        co_return selectedDirectory;
    };
    sdk.createBookmark = bytesOf;
    sdk.resolveBookmark = [](const json::Bytes& bookmark) {
        std::string path = textOf(bookmark);
        if (path.empty() || path.front() != '/') throw std::runtime_error("The bookmark holds no absolute path.");
        return std::pair<std::string, bool>{path, false};
    };
    sdk.canonicalPath = [](const std::string& path) { return path; };
    sdk.startAccess = [](const std::string&) { return true; };
    sdk.stopAccess = [](const std::string&) {};
    return std::make_shared<LinuxSaveFolderAuthority>(std::move(debugLog), std::move(defaultLocationPolicy),
                                                      std::move(sdk));
}

QCoro::Task<SaveFolderSelectionOutcome> LinuxSaveFolderAuthority::chooseSaveFolder(
    std::optional<SaveFolderBookmark> current) {
    // Log lines are built before they are awaited: GCC 12 mishandles temporaries with a
    // conditional inside a co_await expression.
    std::string requested =
        "save_folder_selection_requested current_path=" + (current ? current->path : std::string("absent"));
    co_await debugLog_->append(std::move(requested));
    // A folder that no longer exists is still where the user left off.
    std::string startPath = current ? current->path
                                    : defaultLocationPolicy_.pickerStartDirectory(sdk_.homeDirectory(),
                                                                                  sdk_.directoryExists);
    std::optional<std::string> chosen;
    // An error may describe itself with an empty text; the flag, not the text, says it failed.
    bool failed = false;
    std::string failure;
    try {
        chosen = co_await sdk_.chooseDirectory(startPath);
    } catch (const std::exception& error) {
        failed = true;
        failure = error.what();
    }
    json::Bytes bookmark;
    if (!failed && chosen) {
        try {
            // A relative folder would be resolved against wherever the process happens to run.
            if (!std::filesystem::path(*chosen).is_absolute()) {
                throw std::runtime_error("The save folder " + *chosen + " is not an absolute path.");
            }
            bookmark = sdk_.createBookmark(*chosen);
        } catch (const std::exception& error) {
            failed = true;
            failure = error.what();
        }
    }
    if (failed) {
        std::string line = "save_folder_selection_failed error=" + failure;
        co_await debugLog_->append(std::move(line));
        throw AppError::saveFolderUnusable(kSelectionFailed);
    }
    if (!chosen) {
        co_await debugLog_->append("save_folder_selection_cancelled");
        co_return SaveFolderSelectionOutcome::cancelled();
    }
    std::string selected = "save_folder_selected path=" + *chosen;
    co_await debugLog_->append(std::move(selected));
    co_return SaveFolderSelectionOutcome::selected(SaveFolderBookmark{*chosen, std::move(bookmark)});
}

QCoro::Task<SaveFolderAccessSession> LinuxSaveFolderAuthority::startAccessing(SaveFolderBookmark bookmark) {
    std::pair<std::string, bool> resolved;
    try {
        resolved = sdk_.resolveBookmark(bookmark.bookmarkData);
    } catch (const std::exception&) {
        throw AppError::saveFolderUnusable("save folder bookmark resolution failed for " + bookmark.path);
    }
    const auto& [folder, stale] = resolved;
    if (stale) throw AppError::saveFolderUnusable("save folder bookmark is stale for " + bookmark.path);
    if (sdk_.canonicalPath(folder) != sdk_.canonicalPath(bookmark.path)) {
        throw AppError::saveFolderUnusable("save folder bookmark resolved to unexpected path " + folder);
    }
    if (!sdk_.startAccess(folder)) {
        throw AppError::saveFolderUnusable("save folder access was not granted for " + bookmark.path);
    }
    SaveFolderAccessSession session{QUuid::createUuid(), bookmark.path};
    activeFolders_[session.sessionID] = folder;
    std::string started = "save_folder_access_started path=" + folder;
    co_await debugLog_->append(std::move(started));
    co_return session;
}

QCoro::Task<void> LinuxSaveFolderAuthority::stopAccessing(SaveFolderAccessSession session) {
    auto found = activeFolders_.find(session.sessionID);
    if (found == activeFolders_.end()) co_return;
    std::string folder = found->second;
    activeFolders_.erase(found);
    sdk_.stopAccess(folder);
    std::string stopped = "save_folder_access_stopped path=" + session.folderPath;
    co_await debugLog_->append(std::move(stopped));
}

}  // namespace yux

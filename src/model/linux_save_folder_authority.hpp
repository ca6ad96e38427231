#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "model/debug_log_boundary.hpp"
#include "model/json_coding.hpp"
#include "model/save_folder_authority_boundary.hpp"
#include "model/save_folder_default_location_policy.hpp"

namespace yux {

// The platform operations behind the save-folder authority. A bookmark is the folder's absolute
// path as UTF-8 bytes.
struct SaveFolderSDK {
    std::function<std::string()> homeDirectory;
    std::function<bool(const std::string&)> directoryExists;
    // Shows the chooser at the path; absent when the user cancels. May throw.
    std::function<QCoro::Task<std::optional<std::string>>(std::string startPath)> chooseDirectory;
    // May throw.
    std::function<json::Bytes(const std::string& folderPath)> createBookmark;
    // The folder and whether the bookmark is stale. Throws when it names no usable folder.
    std::function<std::pair<std::string, bool>(const json::Bytes&)> resolveBookmark;
    // The path with symbolic links resolved.
    std::function<std::string(const std::string&)> canonicalPath;
    // True when the folder may be written now.
    std::function<bool(const std::string&)> startAccess;
    std::function<void(const std::string&)> stopAccess;

    // Bookmarks are absolute paths; resolving fails when the path is not absolute or the folder
    // is gone; access needs an existing, writable folder; the chooser is the desktop's folder
    // dialog.
    static SaveFolderSDK live();
};

// Chooses the save folder, opens it for writing from its bookmark after checking that the
// bookmark still names the same folder, and closes it again. One instance per process, used on
// the main thread; its operations interleave only while they wait (for the user or the log).
class LinuxSaveFolderAuthority : public SaveFolderAuthorityBoundary {
public:
    LinuxSaveFolderAuthority(std::shared_ptr<DebugLogBoundary> debugLog,
                             SaveFolderDefaultLocationPolicy defaultLocationPolicy, SaveFolderSDK sdk);

    static std::shared_ptr<LinuxSaveFolderAuthority> create(std::shared_ptr<DebugLogBoundary> debugLog,
                                                            SaveFolderDefaultLocationPolicy defaultLocationPolicy);
    // Over scripted answers: home "/home/recorder", no folder exists, the chooser picks
    // `selectedDirectory` (or is cancelled without one), every absolute path resolves.
    static std::shared_ptr<LinuxSaveFolderAuthority> create_null(
        std::shared_ptr<DebugLogBoundary> debugLog, SaveFolderDefaultLocationPolicy defaultLocationPolicy = {},
        std::optional<std::string> selectedDirectory = std::nullopt);

    QCoro::Task<SaveFolderSelectionOutcome> chooseSaveFolder(std::optional<SaveFolderBookmark> current) override;
    QCoro::Task<SaveFolderAccessSession> startAccessing(SaveFolderBookmark bookmark) override;
    QCoro::Task<void> stopAccessing(SaveFolderAccessSession session) override;

    std::size_t openAccessCount() const { return activeFolders_.size(); }

private:
    std::shared_ptr<DebugLogBoundary> debugLog_;
    SaveFolderDefaultLocationPolicy defaultLocationPolicy_;
    SaveFolderSDK sdk_;
    std::map<QUuid, std::string> activeFolders_;
};

}  // namespace yux

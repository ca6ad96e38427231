#pragma once

#include <optional>
#include <string>

#include <QCoroTask>
#include <QUuid>

#include "model/app_settings.hpp"

namespace yux {

// What the user did with the folder chooser.
struct SaveFolderSelectionOutcome {
    std::optional<SaveFolderBookmark> selectedFolder;  // absent: cancelled

    static SaveFolderSelectionOutcome selected(SaveFolderBookmark folder) { return {std::move(folder)}; }
    static SaveFolderSelectionOutcome cancelled() { return {}; }
    bool isCancelled() const { return !selectedFolder.has_value(); }
    bool operator==(const SaveFolderSelectionOutcome&) const = default;
};

// The token of one open access to the save folder; each one is stopped exactly once.
struct SaveFolderAccessSession {
    QUuid sessionID;
    std::string folderPath;
    bool operator==(const SaveFolderAccessSession&) const = default;
};

class SaveFolderAuthorityBoundary {
public:
    virtual ~SaveFolderAuthorityBoundary() = default;
    // Throws AppError::saveFolderUnusable when the chooser or the bookmark fails.
    virtual QCoro::Task<SaveFolderSelectionOutcome> chooseSaveFolder(std::optional<SaveFolderBookmark> current) = 0;
    // Throws AppError::saveFolderUnusable when the folder cannot be used any more.
    virtual QCoro::Task<SaveFolderAccessSession> startAccessing(SaveFolderBookmark bookmark) = 0;
    // Never fails; a session that is not open is ignored.
    virtual QCoro::Task<void> stopAccessing(SaveFolderAccessSession session) = 0;
};

}  // namespace yux

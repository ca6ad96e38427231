#pragma once

#include <optional>
#include <string>

#include <QCoroTask>

namespace yux::platform {

// The folder chooser for the save folder: a free-standing directory dialog (neither modal nor
// attached to a window) that may create folders and picks exactly one. Awaiting it keeps the
// event loop running. Main thread only.
class SaveFolderPanel {
public:
    // The text of the confirm button.
    static constexpr const char* kPrompt = "Choose Save Folder";

    // The chosen folder's path, or none when the user cancels. Throws std::runtime_error when
    // the dialog is confirmed without a folder.
    static QCoro::Task<std::optional<std::string>> present(std::string startPath);
};

}  // namespace yux::platform

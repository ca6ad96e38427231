#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace yux {

// The default folders for recordings: where the folder chooser starts, and which folder
// becomes the save folder on the very first launch. The first choice is "Yux" inside the
// user's videos folder.
struct SaveFolderDefaultLocationPolicy {
    // The user's videos folder; absent means "Videos" in the home folder.
    std::optional<std::string> videosDirectory;

    // With the user's videos folder of the desktop (usually ~/Videos).
    static SaveFolderDefaultLocationPolicy forCurrentUser();

    // videos/Yux, videos, home: in this order, without trailing slashes.
    std::vector<std::string> orderedCandidatePaths(const std::string& homeDirectoryPath) const;
    // The first candidate that exists as a folder, else the home folder.
    std::string pickerStartDirectory(const std::string& homeDirectoryPath,
                                     const std::function<bool(const std::string&)>& directoryExists) const;
    // Creates the first candidate it can (with missing parents) and answers it. Throws
    // AppError::settingsLoadFailed when none can be created.
    std::string initialSettingsDirectory(const std::string& homeDirectoryPath) const;
};

}  // namespace yux

#pragma once

#include <string>

#include "model/json_coding.hpp"
#include "model/recording_shortcut.hpp"

namespace yux {

// The chosen save folder: its path when the bookmark was made and the bookmark through which
// later runs regain access (opaque here; made and resolved by the save-folder authority).
struct SaveFolderBookmark {
    std::string path;
    json::Bytes bookmarkData;
    bool operator==(const SaveFolderBookmark&) const = default;
};

// The configuration that survives restarts.
struct AppSettings {
    SaveFolderBookmark saveFolder;
    RecordingShortcut recordingShortcut;

    // First-run settings: the given folder and the default shortcut.
    static AppSettings initial(SaveFolderBookmark saveFolder) {
        return AppSettings{std::move(saveFolder), RecordingShortcut::defaultShortcut()};
    }

    // The path as stored; not refreshed when the folder moves on disk.
    const std::string& saveFolderPath() const { return saveFolder.path; }

    bool operator==(const AppSettings&) const = default;
};

}  // namespace yux

template <>
struct yux::json::Coder<yux::SaveFolderBookmark> {
    static Json encode(const yux::SaveFolderBookmark& bookmark);
    static yux::SaveFolderBookmark decode(const Json& value);
};

// Documents written before the shortcut existed hold only "saveFolder": a missing or null
// "recordingShortcut" reads as the default; a malformed one fails the whole document.
template <>
struct yux::json::Coder<yux::AppSettings> {
    static Json encode(const yux::AppSettings& settings);
    static yux::AppSettings decode(const Json& value);
};

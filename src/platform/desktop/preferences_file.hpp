#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/desktop/system_log.hpp"

namespace yux::platform {

// The user's preferences: one JSON object in one file, key → stored JSON value. Every read
// loads the file again; every write rewrites it whole through a temporary file renamed into
// place, so a crash never leaves half a file. A symbolic link at the path (a dotfiles link)
// stays: writes replace its target. Safe from any thread of this process.
//
// A damaged file (not JSON, not one object, nested too deeply, not a regular file, too large)
// is set aside as "preferences.json.corrupt-<UTC time>" (nothing is lost), logged, and a fresh
// file is started; the next read reports the damage once, so the user learns of it.
// A failure of the file or its folder; errorNumber() is the errno (ENOSPC for a full disk).
class PreferencesFileError : public std::runtime_error {
public:
    PreferencesFileError(const std::string& sentence, int errorNumber)
        : std::runtime_error(sentence), errorNumber_(errorNumber) {}
    int errorNumber() const { return errorNumber_; }

private:
    int errorNumber_;
};

class PreferencesFile {
public:
    explicit PreferencesFile(std::filesystem::path path, SystemLog log = SystemLog::create());

    // The JSON text stored under the key, compact; absent when the key or the file is missing.
    // Throws std::runtime_error when the file cannot be read, once after a damaged file was set
    // aside, and when a damaged file cannot be set aside.
    std::optional<std::string> read(const std::string& key) const;

    // Stores the JSON text under the key, keeping every other key. Throws std::runtime_error
    // when the text is not JSON, when the existing file is unreadable (it is left as it is
    // rather than replaced by an object that lost the other keys), or when the folder or file
    // cannot be written (read-only folder, disk full).
    void write(const std::string& key, const std::string& jsonText);

    const std::filesystem::path& path() const { return path_; }

private:
    nlohmann::json loadObject() const;
    nlohmann::json recoverFromDamage(const std::string& reason) const;

    std::filesystem::path path_;
    SystemLog log_;
    mutable std::mutex lock_;
    // What a damaged file that was set aside still owes the next read.
    mutable std::optional<std::string> unreportedDamage_;
};

}  // namespace yux::platform

#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

namespace yux::platform {

// The user's preferences: one JSON object in one file, key → stored JSON value. Every read
// loads the file again; every write rewrites it whole through a temporary file renamed into
// place, so a crash never leaves half a file. Safe from any thread of this process.
class PreferencesFile {
public:
    explicit PreferencesFile(std::filesystem::path path);

    // The JSON text stored under the key, compact; absent when the key or the file is missing.
    // Throws std::runtime_error when the file cannot be read or is not one JSON object.
    std::optional<std::string> read(const std::string& key) const;

    // Stores the JSON text under the key, keeping every other key. Throws std::runtime_error
    // when the text is not JSON, when the existing file is unreadable or corrupt (it is left as
    // it is rather than replaced by an object that lost the other keys), or when the folder or
    // file cannot be written (read-only folder, disk full).
    void write(const std::string& key, const std::string& jsonText);

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    mutable std::mutex lock_;
};

}  // namespace yux::platform

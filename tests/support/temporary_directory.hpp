#pragma once

#include <filesystem>
#include <string>

namespace yux::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // A folder in which no file can be created: a read-only folder here, or, when the tests run
    // as root (who ignores folder modes), a folder of /proc.
    std::filesystem::path unwritableFolder(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// Reads a whole file; empty when it is missing.
std::string readWholeFile(const std::filesystem::path& path);
void writeWholeFile(const std::filesystem::path& path, const std::string& data);

}  // namespace yux::testing

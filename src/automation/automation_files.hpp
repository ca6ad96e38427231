#pragma once

// File operations of the automation folders, behind a record of operations so tests can make
// any of them fail (tests run as root, where permissions alone cannot).

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace yux::automation {

// Command files are small; anything larger is refused before it is read whole.
inline constexpr std::size_t kMaxCommandFileBytes = 1024 * 1024;

// The claimed entry is no regular file of at most kMaxCommandFileBytes.
class NotACommandFileError : public std::runtime_error {
public:
    NotACommandFileError() : std::runtime_error("Command file must be a regular file of at most 1 MiB") {}
};

class AutomationFiles {
public:
    struct Operations {
        // Creates the folder and its missing parents (mode 0700 for the ones created).
        std::function<void(const std::filesystem::path&)> makeDirectories;
        // Entry names of a folder, hidden ones included.
        std::function<std::vector<std::string>(const std::filesystem::path&)> list;
        // Renames without replacing an existing entry; throws when it cannot.
        std::function<void(const std::filesystem::path&, const std::filesystem::path&)> claim;
        // The whole regular file, links not followed; NotACommandFileError for anything else.
        std::function<std::string(const std::filesystem::path&)> read;
        // Written whole through a synced temporary file in the same folder.
        std::function<void(const std::filesystem::path&, const std::string&)> writeAtomically;
        // Unlinks one entry, never a folder's contents; true when the entry is gone.
        std::function<bool(const std::filesystem::path&)> remove;
        // True for a folder (not followed through links).
        std::function<bool(const std::filesystem::path&)> isDirectory;
    };

    static AutomationFiles create();
    // An in-memory file system: path text → content. Folders are the paths in `folders`.
    struct NullState {
        std::map<std::string, std::string> files;
        std::vector<std::string> folders;
        // Operation name ("list", "claim", "read", "write", "makeDirectories", "remove"), alone or
        // followed by a blank and one path, → error text to throw (a failed removal returns false).
        std::map<std::string, std::string> failures;
    };
    static AutomationFiles create_null(std::shared_ptr<NullState> state);

    explicit AutomationFiles(Operations operations) : operations_(std::move(operations)) {}
    const Operations& operations() const { return operations_; }

private:
    Operations operations_;
};

}  // namespace yux::automation

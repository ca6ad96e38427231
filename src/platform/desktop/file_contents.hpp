#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace yux::platform {

// Whole-file reads and writes for small state files. Failures throw std::system_error carrying
// the operating system's errno.

// Our state files hold a few kilobytes; the bound keeps a damaged or hostile file (a huge file,
// a link to an endless device) from exhausting memory.
constexpr std::size_t kMaxStateFileBytes = 4 * 1024 * 1024;

// The path names something that is no state file: not a regular file (a FIFO, a device, a
// folder), or larger than the bound. Callers treat it as damaged.
class UnusableFileError : public std::system_error {
public:
    UnusableFileError(int error, const std::filesystem::path& path, const std::string& reason);
    // What is wrong, without the path: "is not a regular file".
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

// The whole regular file at the path (symbolic links followed). Opening never blocks, so a
// FIFO in the file's place cannot hang the caller.
std::string readFileContents(const std::filesystem::path& path, std::size_t maxBytes = kMaxStateFileBytes);

// Whether a write waits until its bytes are on the disk. Unsynced, a replace is still whole
// against a killed process, but after a power cut the file may be empty: only for files that
// need no more, such as a diagnostic log, where the wait would cost every line.
enum class DiskSync { sync, skip };

// Writes through a temporary file in the same folder, synced unless told to skip it, renamed
// over the target, so a reader never sees half a file and a failed write leaves the old one
// whole (the temporary is removed). Without `mode` the file keeps its mode, or gets a new
// file's mode.
void writeFileAtomically(const std::filesystem::path& path, std::string_view data,
                         std::optional<mode_t> mode = std::nullopt, DiskSync sync = DiskSync::sync);

// Adds to the end of an existing regular file; never creates one (ENOENT when it is missing)
// and never blocks on a FIFO.
void appendToFile(const std::filesystem::path& path, std::string_view data);

// The file a chain of symbolic links at `path` ends in (the path itself when it is no link), so
// a write through a dotfiles link replaces the target and the link stays.
std::filesystem::path followLinks(const std::filesystem::path& path);

// The calls that give a whole file its final name; each answers 0 or the errno.
struct NoReplaceOperations {
    // renameat2 with RENAME_NOREPLACE.
    std::function<int(const std::filesystem::path& from, const std::filesystem::path& to)> renameNoReplace;
    std::function<int(const std::filesystem::path& from, const std::filesystem::path& to)> link;
    std::function<int(const std::filesystem::path& path)> unlink;
    // Copies the file into `to`, created with O_EXCL, and syncs the copy; a partial or unsynced
    // copy is removed again.
    std::function<int(const std::filesystem::path& from, const std::filesystem::path& to)> copyExclusive;

    static NoReplaceOperations live();
};

// Gives the whole file at `from` the name `to` (in the same folder) without ever replacing what is
// at `to`: a rename that refuses a taken name, else a hard link and the removal of `from`, else,
// on a file system that offers neither, a copy into `to` created exclusively and the removal of
// `from`. Answers false when `to` is taken; `from` then stays for the caller. Other failures
// throw std::system_error with the errno; `to` is then not ours.
bool placeWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                           const NoReplaceOperations& operations = NoReplaceOperations::live());

// What becomes of a link whose target is the damaged file.
enum class DamagedLink {
    // The target's content is copied aside and the link stays, so a settings file kept in a
    // dotfiles folder is written afresh through its link.
    copyTarget,
    // The link itself is renamed aside and its target is never read, copied or written: Yux's
    // own data files may lead to large files outside Yux's folders.
    renameLink,
};

// Keeps a damaged file out of the way without losing it: renames it to
// "<name>.corrupt-<UTC time>" in its folder and answers the new path. A link to a regular file
// is handled as `how` says; a link to anything else is renamed as itself.
std::filesystem::path setAsideDamagedFile(const std::filesystem::path& path,
                                          DamagedLink how = DamagedLink::copyTarget);

// "<name>.corrupt-20260131T090507Z" for the given Unix time.
std::string damagedFileName(const std::string& name, std::int64_t unixSeconds);

// Why a file could not be created or written, in the words users read after "Cannot create
// <path>: ": "permission is denied", "the disk is full", "a parent folder is missing", "a file of
// that name is in the way"; other causes in the operating system's own words.
std::string fileFailureCause(int errorNumber);
inline constexpr std::string_view kDiskFullCause = "the disk is full";

}  // namespace yux::platform

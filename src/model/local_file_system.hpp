#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/desktop/file_contents.hpp"

namespace yux {

enum class FileErrorCode {
    fileNoSuchFile,
    fileReadNoSuchFile,
    fileReadUnknown,
    // Not a regular file (a FIFO, a device, a folder), or larger than a state file may be.
    fileReadCorruptFile,
    fileWriteFileExists,
    fileWriteNoPermission,
    fileWriteOutOfSpace,
    fileWriteUnknown,
};

// A file operation that failed, with the operating system's errno where there was one.
class FileError : public std::runtime_error {
public:
    FileError(FileErrorCode code, const std::string& path, int osError = 0);
    FileErrorCode code() const { return code_; }
    int osError() const { return osError_; }
    const std::string& path() const { return path_; }

private:
    FileErrorCode code_;
    int osError_;
    std::string path_;
};

// The narrow view of the file system for services that only make folders and look for paths.
class FileSystemBoundary {
public:
    virtual ~FileSystemBoundary() = default;
    virtual void ensureDirectory(const std::string& path) const = 0;
    virtual bool fileExists(const std::string& path) const = 0;
    // True only for a regular file (links followed): a folder of that name is no recording.
    virtual bool regularFileExists(const std::string& path) const = 0;
};

// Paths of removed files, seen by whoever holds the observer.
class FileRemovalRecords {
public:
    void record(const std::string& path);
    std::shared_ptr<FileRemovalRecords> observe();
    std::vector<std::string> paths() const;

private:
    mutable std::mutex lock_;
    std::vector<std::string> entries_;
    std::weak_ptr<FileRemovalRecords> observer_;
};

struct FileOperations {
    std::function<void(const std::string&)> ensureDirectory;
    std::function<bool(const std::string&)> exists;
    std::function<bool(const std::string&)> isRegularFile;
    // False only when the path names nothing for certain.
    std::function<bool(const std::string&)> mayExist;
    std::function<std::string(const std::string&)> read;
    std::function<void(const std::string&, const std::string&, platform::DiskSync)> write;
    std::function<void(const std::string&, const std::string&)> append;
    std::function<void(const std::string&)> remove;
    // Removes one regular file, never a folder or a link: a damaged record naming the wrong
    // path cannot take more with it.
    std::function<void(const std::string&)> removeRegularFile;
    // Renames a damaged file to "<name>.corrupt-<UTC time>" next to it; answers the new path.
    // A link is renamed as itself: its target is never read, copied or written.
    std::function<std::string(const std::string&)> moveAside;
    // The file a link at the path finally leads to; absent when the path is no link.
    std::function<std::optional<std::string>(const std::string&)> linkTarget;
};

// Expands a leading "~" or "~user" to that home folder; other paths are returned unchanged.
std::string expandTilde(const std::string& path);

// The one file wrapper of the storage services. Copies share their removal records.
class LocalFileSystem : public FileSystemBoundary {
public:
    LocalFileSystem();  // the real disk
    // Over a record of operations: a test can hold one of the null wrapper's operations.
    explicit LocalFileSystem(FileOperations operations);
    // Whole-file writes of the paths in `failingWrites` fail as on a full disk; appends to them
    // go through.
    static LocalFileSystem create_null(const std::map<std::string, std::string>& files = {},
                                       const std::set<std::string>& failingWrites = {});

    void ensureDirectory(const std::string& path) const override;
    bool fileExists(const std::string& path) const override;
    bool regularFileExists(const std::string& path) const override;
    // False only when nothing is at the path for certain (ENOENT, ENOTDIR): a path that cannot be
    // looked at (EACCES, EIO, a loop of links) may still hold a file.
    bool mayExist(const std::string& path) const;
    std::string readFile(const std::string& path) const;
    // Replaces the whole content; on disk through a temporary file renamed over the target, so
    // a failed write leaves the old file whole. DiskSync::skip only where a power cut may
    // empty the file (see platform::DiskSync).
    void writeFile(const std::string& path, const std::string& data,
                   platform::DiskSync sync = platform::DiskSync::sync) const;
    // Adds to the end of an existing file; never creates one.
    void appendFile(const std::string& path, const std::string& data) const;
    void removeFile(const std::string& path) const;
    // Removes the regular file at the path; a folder, a link or anything else fails with
    // fileWriteUnknown and stays. Recorded like removeFile.
    void removeRegularFile(const std::string& path) const;
    // Keeps a damaged file without letting it block its name; answers where it went. A link
    // goes aside as the link, so nothing of its target is copied into Yux's folders.
    std::string moveAside(const std::string& path) const;
    // Where a link at the path leads (for the log line that names what was set aside); absent
    // for anything that is no link.
    std::optional<std::string> linkTarget(const std::string& path) const;

    std::shared_ptr<FileRemovalRecords> track_removedFiles() const { return removals_->observe(); }
    const FileOperations& operations() const { return operations_; }

private:
    FileOperations operations_;
    std::shared_ptr<FileRemovalRecords> removals_;
};

}  // namespace yux

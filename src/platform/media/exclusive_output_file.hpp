#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/media/media_failure.hpp"

// The library's I/O context, named only: the movie writer's header includes this one, and the
// library's headers stay with the files that use them.
struct AVIOContext;

namespace yux::platform {

// A movie destination that never replaces anything: the file is created with O_EXCL, written
// through a seekable libavformat I/O context over that descriptor, and removed again unless
// commit() succeeds (a failed or cancelled write leaves nothing behind).
class ExclusiveOutputFile {
public:
    // How a folder's sync ended: 0, or the errno of the step that failed.
    struct FolderSync {
        int openError = 0;
        int syncError = 0;
    };

    // What commit() does to put the whole file under its name; tests script it.
    struct CommitOperations {
        // fdatasync of the finished file: 0 or the errno.
        std::function<int(int descriptor)> syncData;
        // placeWithoutReplacing: false when the name is taken; throws std::system_error.
        std::function<bool(const std::string& from, const std::string& to)> place;
        // fsync of the folder that holds the file's name.
        std::function<FolderSync(const std::string& folder)> syncFolder;
        // syncfs of the file system that holds the open file: 0 or the errno. Stands in for the
        // folder's sync when the folder cannot be opened.
        std::function<int(int descriptor)> syncFileSystem;

        // Data and name on disk before commit() returns: an export, whose take may be deleted
        // right after, must survive a power cut.
        static CommitOperations durable();
        // Closed and named only: the scratch movie, whose fragments reach the disk as the system
        // writes them back, and whose take nothing deletes on the strength of its commit.
        static CommitOperations unsynced();
    };

    // Throws OutputFileExistsError when anything exists at the path, MediaFailure when the file
    // cannot be created. With `publishedPath`, the file is written at `path` (a temporary the
    // caller named) and takes the name `publishedPath` at commit(), never replacing anything
    // there, so no half-written file ever stands under that name. Durable unless the caller asks
    // for less by name.
    explicit ExclusiveOutputFile(std::string path, std::string publishedPath = {},
                                 CommitOperations operations = CommitOperations::durable());
    ~ExclusiveOutputFile();
    ExclusiveOutputFile(const ExclusiveOutputFile&) = delete;
    ExclusiveOutputFile& operator=(const ExclusiveOutputFile&) = delete;

    // Where the file is written until commit().
    const std::string& path() const { return path_; }
    // Owned by this object; hand it to AVFormatContext::pb (with AVFMT_FLAG_CUSTOM_IO).
    AVIOContext* io() const { return io_; }
    // Closes the file and keeps whatever reached it, even after a failed write: a partly written
    // recording is worth more than none. With `length`, only that many bytes are kept (the
    // part known to be whole). Never throws.
    void keep(std::int64_t length = -1);

    // Flushes, checks every write, syncs the data, closes the descriptor, gives the file its
    // published name and syncs the folder that holds the name; the file is kept from now on. A
    // short write (a full disk) or a failed sync throws OutputFileWriteError and nothing of the
    // file stays. A folder sync the file system does not offer (EINVAL, EOPNOTSUPP, EROFS) is no
    // failure. A folder the user may write but not read (EACCES or EPERM when it is opened) has
    // the whole file system synced instead. A taken published name throws OutputFileExistsError;
    // the temporary is removed and the taken name left as it is.
    void commit();

    // errno of the first write that failed (ENOSPC for a full disk), 0 while every write succeeded.
    int writeError() const { return writeFailed_ ? writeErrno_ : 0; }

private:
    void closeDescriptor();

    std::string path_;
    std::string publishedPath_;
    CommitOperations operations_;
    int fd_ = -1;
    AVIOContext* io_ = nullptr;
    bool writeFailed_ = false;
    int writeErrno_ = 0;
    bool committed_ = false;

    friend struct ExclusiveOutputFileCallbacks;
};

// The errno of a failed write behind `error` (ENOSPC for a full disk), whether the file's commit
// or a library call reported it; 0 when `error` is no failed write.
int writeErrorNumber(const std::exception& error);

}  // namespace yux::platform

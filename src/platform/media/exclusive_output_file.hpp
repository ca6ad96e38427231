#pragma once

#include <string>

#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/media_failure.hpp"

namespace yux::platform {

// A movie destination that never replaces anything: the file is created with O_EXCL, written
// through a seekable libavformat I/O context over that descriptor, and removed again unless
// commit() succeeds (a failed or cancelled write leaves nothing behind).
class ExclusiveOutputFile {
public:
    // Throws OutputFileExistsError when anything exists at the path, MediaFailure when the file
    // cannot be created. With `publishedPath`, the file is written at `path` (a temporary the
    // caller named) and takes the name `publishedPath` at commit(), never replacing anything
    // there, so no half-written file ever stands under that name.
    explicit ExclusiveOutputFile(std::string path, std::string publishedPath = {});
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

    // Flushes, checks every write and the close of the descriptor; the file is kept from now on.
    // A short write (a full disk) throws OutputFileWriteError and the file is removed. A taken
    // published name throws OutputFileExistsError; the temporary is removed and the taken name
    // left as it is.
    void commit();

    // errno of the first write that failed (ENOSPC for a full disk), 0 while every write succeeded.
    int writeError() const { return writeFailed_ ? writeErrno_ : 0; }

private:
    void closeDescriptor();

    std::string path_;
    std::string publishedPath_;
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

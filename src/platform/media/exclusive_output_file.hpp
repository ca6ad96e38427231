#pragma once

#include <string>

#include "platform/media/ffmpeg_support.hpp"

namespace yux::platform {

// A movie destination that never replaces anything: the file is created with O_EXCL, written
// through a seekable libavformat I/O context over that descriptor, and removed again unless
// commit() succeeds (a failed or cancelled write leaves nothing behind).
class ExclusiveOutputFile {
public:
    // Throws std::runtime_error when the file exists or cannot be created.
    explicit ExclusiveOutputFile(std::string path);
    ~ExclusiveOutputFile();
    ExclusiveOutputFile(const ExclusiveOutputFile&) = delete;
    ExclusiveOutputFile& operator=(const ExclusiveOutputFile&) = delete;

    const std::string& path() const { return path_; }
    // Owned by this object; hand it to AVFormatContext::pb (with AVFMT_FLAG_CUSTOM_IO).
    AVIOContext* io() const { return io_; }
    // Closes the file and keeps whatever reached it, even after a failed write: a partly written
    // recording is worth more than none. With `length`, only that many bytes are kept (the
    // part known to be whole). Never throws.
    void keep(std::int64_t length = -1);

    // Flushes, checks every write and the close of the descriptor; the file is kept from now on.
    // A short write (a full disk) throws and the file is removed.
    void commit();

private:
    void closeDescriptor();

    std::string path_;
    int fd_ = -1;
    AVIOContext* io_ = nullptr;
    bool writeFailed_ = false;
    int writeErrno_ = 0;
    bool committed_ = false;

    friend struct ExclusiveOutputFileCallbacks;
};

}  // namespace yux::platform

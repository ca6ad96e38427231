#include "platform/media/exclusive_output_file.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/desktop/file_contents.hpp"
#include "platform/media/ffmpeg_support.hpp"

namespace yux::platform {

namespace {
// Big enough that the muxer's small header and index writes do not each become a system call.
constexpr int kIoBufferBytes = 1 << 16;

// A file system without folder syncs keeps the name as well as it can; that is no failure.
bool folderSyncNotOffered(int error) { return error == EINVAL || error == EOPNOTSUPP || error == EROFS; }

// Puts the folder's entry for a file on disk: 0, or the errno that fails the commit. A folder the
// user may write but not read (mode 0300) cannot be opened for its sync (EACCES, EPERM); syncing
// the whole file system through the file's own descriptor carries the name there instead.
int syncName(const ExclusiveOutputFile::CommitOperations& operations, const std::string& folder, int file) {
    const ExclusiveOutputFile::FolderSync folderSync = operations.syncFolder(folder);
    int error = folderSync.syncError;
    if (folderSync.openError == EACCES || folderSync.openError == EPERM) {
        error = operations.syncFileSystem(file);
    } else if (folderSync.openError != 0) {
        return folderSync.openError;
    }
    return folderSyncNotOffered(error) ? 0 : error;
}

// Closed when it goes out of scope; -1 holds nothing.
struct OwnedDescriptor {
    int value;
    ~OwnedDescriptor() {
        if (value >= 0) ::close(value);
    }
};

std::string folderOf(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool placeLive(const std::string& from, const std::string& to) { return placeWithoutReplacing(from, to); }
}  // namespace

ExclusiveOutputFile::CommitOperations ExclusiveOutputFile::CommitOperations::durable() {
    return {
        .syncData = [](int descriptor) { return ::fdatasync(descriptor) == 0 ? 0 : errno; },
        .place = placeLive,
        .syncFolder =
            [](const std::string& folder) {
                const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (descriptor < 0) return FolderSync{.openError = errno};
                const int error = ::fsync(descriptor) == 0 ? 0 : errno;
                ::close(descriptor);
                return FolderSync{.syncError = error};
            },
        .syncFileSystem = [](int descriptor) { return ::syncfs(descriptor) == 0 ? 0 : errno; },
    };
}

ExclusiveOutputFile::CommitOperations ExclusiveOutputFile::CommitOperations::unsynced() {
    return {
        .syncData = [](int) { return 0; },
        .place = placeLive,
        .syncFolder = [](const std::string&) { return FolderSync{}; },
        .syncFileSystem = [](int) { return 0; },
    };
}

struct ExclusiveOutputFileCallbacks {
    static int write(void* opaque, std::uint8_t* data, int size) {
        auto* file = static_cast<ExclusiveOutputFile*>(opaque);
        int left = size;
        while (left > 0) {
            ssize_t written = ::write(file->fd_, data, static_cast<std::size_t>(left));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) {
                file->writeFailed_ = true;
                file->writeErrno_ = written < 0 ? errno : ENOSPC;
                return AVERROR(file->writeErrno_);
            }
            data += written;
            left -= static_cast<int>(written);
        }
        return size;
    }

    static std::int64_t seek(void* opaque, std::int64_t offset, int whence) {
        auto* file = static_cast<ExclusiveOutputFile*>(opaque);
        if (whence & AVSEEK_SIZE) {
            struct stat info {};
            if (fstat(file->fd_, &info) != 0) return AVERROR(errno);
            return info.st_size;
        }
        off_t result = lseek(file->fd_, offset, whence & ~AVSEEK_FORCE);
        return result < 0 ? AVERROR(errno) : result;
    }
};

ExclusiveOutputFile::ExclusiveOutputFile(std::string path, std::string publishedPath, CommitOperations operations)
    : path_(std::move(path)), publishedPath_(std::move(publishedPath)), operations_(std::move(operations)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        int error = errno;
        if (error == EEXIST) throw OutputFileExistsError(path_);
        // Already told in plain words: callers pass it on as it is.
        if (path_.empty()) throw MediaFailure("Cannot create the movie: no file name was given.", std::strerror(error));
        throw MediaFailure("Cannot create " + path_ + ": " + fileFailureCause(error) + ".", std::strerror(error));
    }
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferBytes));
    if (buffer != nullptr) {
        io_ = avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr,
                                 &ExclusiveOutputFileCallbacks::write, &ExclusiveOutputFileCallbacks::seek);
        if (io_ == nullptr) av_free(buffer);
    }
    if (io_ == nullptr) {
        closeDescriptor();
        ::unlink(path_.c_str());
        throw std::bad_alloc();
    }
    io_->seekable = AVIO_SEEKABLE_NORMAL;
}

ExclusiveOutputFile::~ExclusiveOutputFile() {
    if (io_ != nullptr) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    closeDescriptor();
    if (!committed_) ::unlink(path_.c_str());
}

void ExclusiveOutputFile::commit() {
    avio_flush(io_);
    if (writeFailed_ || io_->error < 0) {
        int code = writeFailed_ ? writeErrno_ : AVUNERROR(io_->error);
        throw OutputFileWriteError("Cannot write " + path_ + ": " + std::strerror(code), code);
    }
    // Whole on disk before it takes its name: after a power cut, the name never stands for a
    // file cut short.
    if (const int error = operations_.syncData(fd_); error != 0) {
        throw OutputFileWriteError("Cannot write " + path_ + ": " + std::strerror(error), error);
    }
    // Open past the close, for a folder that cannot be opened for its own sync (-1 when no
    // descriptor is left: that sync then fails).
    const OwnedDescriptor onFileSystem{::fcntl(fd_, F_DUPFD_CLOEXEC, 0)};
    int descriptor = fd_;
    fd_ = -1;
    if (::close(descriptor) != 0) {
        int error = errno;
        throw OutputFileWriteError("Cannot close " + path_ + ": " + std::strerror(error), error);
    }
    if (!publishedPath_.empty()) {
        bool placed = false;
        try {
            placed = operations_.place(path_, publishedPath_);
        } catch (const std::system_error& failure) {
            const int error = failure.code().value();
            throw OutputFileWriteError("Cannot write " + publishedPath_ + ": " + std::strerror(error), error);
        }
        if (!placed) throw OutputFileExistsError(publishedPath_);
    }
    // The name, too, is on disk before the caller relies on it; without that the file is no
    // export of ours and goes.
    const std::string& name = publishedPath_.empty() ? path_ : publishedPath_;
    if (const int error = syncName(operations_, folderOf(name), onFileSystem.value); error != 0) {
        if (!publishedPath_.empty()) ::unlink(publishedPath_.c_str());
        throw OutputFileWriteError("Cannot write " + name + ": " + std::strerror(error), error);
    }
    committed_ = true;
}

void ExclusiveOutputFile::keep(std::int64_t length) {
    if (!writeFailed_) avio_flush(io_);
    if (length >= 0 && fd_ >= 0 && ::ftruncate(fd_, length) != 0) {
        // The whole file stays: more than wanted, but nothing lost.
    }
    closeDescriptor();
    committed_ = true;
}

void ExclusiveOutputFile::closeDescriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int writeErrorNumber(const std::exception& error) {
    if (const auto* write = dynamic_cast<const OutputFileWriteError*>(&error)) return write->errorNumber();
    if (const auto* library = dynamic_cast<const ffmpeg::Error*>(&error)) {
        // Only these errors come from writing alone; others may as well come from reading.
        if (library->code() == AVERROR(ENOSPC) || library->code() == AVERROR(EDQUOT)) return AVUNERROR(library->code());
    }
    return 0;
}

}  // namespace yux::platform

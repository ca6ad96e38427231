#include "shell/instance_lock.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace yux {

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

std::string InstanceLock::alreadyRunningMessage(const std::filesystem::path& lockFile) {
    return "Yux is already running (lock: " + lockFile.string() + ").";
}

std::optional<InstanceLock> InstanceLock::acquire(const std::filesystem::path& lockFile, std::string& failure) {
    std::error_code ignored;
    std::filesystem::create_directories(lockFile.parent_path(), ignored);
    // Close-on-exec: programs Yux starts must not keep the lock after Yux ends.
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        failure = "Yux cannot open its lock file " + lockFile.string() + ": " + std::strerror(errno) + ".";
        return std::nullopt;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        failure = error == EWOULDBLOCK ? alreadyRunningMessage(lockFile)
                                       : "Yux cannot lock " + lockFile.string() + ": " + std::strerror(error) + ".";
        return std::nullopt;
    }
    return InstanceLock(fd);
}

}  // namespace yux

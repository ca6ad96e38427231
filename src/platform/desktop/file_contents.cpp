#include "platform/desktop/file_contents.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace yux::platform {

namespace {

[[noreturn]] void fail(int error, const std::filesystem::path& path) {
    throw std::system_error(error, std::generic_category(), path.string());
}

void writeAll(int fd, std::string_view data, const std::filesystem::path& path) {
    const char* cursor = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t written = ::write(fd, cursor, left);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) fail(errno, path);
        if (written == 0) fail(ENOSPC, path);
        cursor += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace

std::string readFileContents(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail(errno, path);
    std::string data;
    char buffer[65536];
    while (true) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            int error = errno;
            ::close(fd);
            fail(error, path);
        }
        if (got == 0) break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return data;
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view data, std::optional<mode_t> mode) {
    std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) fail(errno, path);
    try {
        if (!mode) {
            // mkstemp makes the file private; give it the mode the file had, or a new file's.
            mode_t mask = ::umask(0);
            ::umask(mask);
            struct stat existing {};
            mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~mask);
        }
        ::fchmod(fd, *mode);
        writeAll(fd, data, path);
        if (::fsync(fd) != 0) fail(errno, path);
        int closing = fd;
        fd = -1;
        if (::close(closing) != 0) fail(errno, path);
        if (::rename(temporary.c_str(), path.c_str()) != 0) fail(errno, path);
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
}

void appendToFile(const std::filesystem::path& path, std::string_view data) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) fail(errno, path);
    try {
        writeAll(fd, data, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);  // a failure to close is ignored: the data was handed over
}

}  // namespace yux::platform

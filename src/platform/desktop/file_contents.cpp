#include "platform/desktop/file_contents.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>

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

// Closes the descriptor on every way out of a scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    int release() {
        int taken = fd;
        fd = -1;
        return taken;
    }
};

// Answers the file's size as the folder reports it.
off_t requireRegularFile(int fd, const std::filesystem::path& path) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) fail(errno, path);
    if (S_ISDIR(info.st_mode)) throw UnusableFileError(EISDIR, path, "is a folder");
    if (!S_ISREG(info.st_mode)) throw UnusableFileError(EINVAL, path, "is not a regular file");
    return info.st_size;
}

UnusableFileError tooLarge(const std::filesystem::path& path, std::size_t maxBytes) {
    return UnusableFileError(EFBIG, path, "is larger than " + std::to_string(maxBytes) + " bytes");
}

// A name for a temporary file next to the target, created by the caller with O_EXCL.
std::string temporaryName(const std::filesystem::path& path) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        for (auto& byte : random) {
            byte = static_cast<unsigned char>(ticks);
            ticks = ticks * 6364136223846793005ULL + 1442695040888963407ULL;
        }
    }
    std::string suffix;
    for (unsigned char byte : random) suffix += kLetters[byte % (sizeof kLetters - 1)];
    return (path.parent_path() / ("." + path.filename().string() + "." + suffix)).string();
}

// Renames without ever replacing what is at `to`.
bool renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    fail(errno, from);
}

// Tries "<name>.corrupt-<time>", then "-2", "-3" … until `place` succeeds at a free name.
template <class Place>
std::filesystem::path placeAside(const std::filesystem::path& path, Place place) {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    const std::string base = damagedFileName(path.filename().string(), seconds);
    // Far more attempts than files damaged within one second could ever need.
    constexpr int kMaxAttempts = 1000;
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        auto candidate = path.parent_path() / (attempt == 1 ? base : base + "-" + std::to_string(attempt));
        if (place(candidate)) return candidate;
    }
    fail(EEXIST, path);
}

// A file system that lacks the call itself, rather than refusing this one use of it.
bool notOffered(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM; }

int copyIntoNewFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    Descriptor source{::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
    if (source.fd < 0) return errno;
    Descriptor target{::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)};
    if (target.fd < 0) return errno;
    int error = 0;
    static constexpr std::size_t kChunk = 1 << 20;
    std::string buffer(kChunk, '\0');
    while (error == 0) {
        ssize_t got = ::read(source.fd, buffer.data(), kChunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error = errno;
        if (got <= 0) break;
        try {
            writeAll(target.fd, std::string_view(buffer.data(), static_cast<std::size_t>(got)), to);
        } catch (const std::system_error& failure) {
            error = failure.code().value();
        }
    }
    // On disk before the caller removes the original.
    if (error == 0 && ::fdatasync(target.fd) != 0) error = errno;
    if (error == 0 && ::close(target.release()) != 0) error = errno;
    if (error != 0) ::unlink(to.c_str());
    return error;
}

}  // namespace

NoReplaceOperations NoReplaceOperations::live() {
    return {
        .renameNoReplace =
            [](const std::filesystem::path& from, const std::filesystem::path& to) {
                return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
            },
        .link = [](const std::filesystem::path& from,
                   const std::filesystem::path& to) { return ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno; },
        .unlink = [](const std::filesystem::path& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; },
        .copyExclusive = copyIntoNewFile,
    };
}

bool placeWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                           const NoReplaceOperations& operations) {
    int error = operations.renameNoReplace(from, to);
    if (error == 0) return true;
    if (error == EEXIST) return false;
    if (!notOffered(error)) fail(error, to);
    error = operations.link(from, to);
    if (error == EEXIST) return false;
    if (error != 0 && !notOffered(error)) fail(error, to);
    if (error != 0) {
        error = operations.copyExclusive(from, to);
        if (error == EEXIST) return false;
        if (error != 0) fail(error, to);
    }
    // The file is whole under its name; a second name left behind is only a leftover.
    operations.unlink(from);
    return true;
}

UnusableFileError::UnusableFileError(int error, const std::filesystem::path& path, const std::string& reason)
    : std::system_error(error, std::generic_category(), path.string() + " " + reason), reason_(reason) {}

std::string readFileContents(const std::filesystem::path& path, std::size_t maxBytes) {
    Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) fail(errno, path);
    // Refused before any byte is read; the bound below still holds for a file that grows.
    const auto size = static_cast<std::uintmax_t>(requireRegularFile(file.fd, path));
    if (size > maxBytes) throw tooLarge(path, maxBytes);
    std::string data;
    data.reserve(size);  // one allocation, unless the file grows meanwhile
    char buffer[65536];
    while (true) {
        ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fail(errno, path);
        if (got == 0) break;
        data.append(buffer, static_cast<std::size_t>(got));
        if (data.size() > maxBytes) throw tooLarge(path, maxBytes);
    }
    return data;
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view data, std::optional<mode_t> mode,
                         DiskSync sync) {
    // The process umask is never touched (other threads create files meanwhile): a new file
    // is created with 0666 and the kernel applies the umask; an existing file's mode is kept.
    if (!mode) {
        struct stat existing {};
        if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) mode = existing.st_mode & 07777;
    }
    std::string temporary;
    Descriptor file{-1};
    // Random names collide only by chance; a few tries settle it.
    constexpr int kMaxNameAttempts = 16;
    for (int attempt = 0; attempt < kMaxNameAttempts && file.fd < 0; ++attempt) {
        temporary = temporaryName(path);
        file.fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file.fd < 0 && errno != EEXIST) fail(errno, path);
    }
    if (file.fd < 0) fail(EEXIST, path);
    try {
        if (mode) ::fchmod(file.fd, *mode);
        writeAll(file.fd, data, path);
        if (sync == DiskSync::sync && ::fsync(file.fd) != 0) fail(errno, path);
        if (::close(file.release()) != 0) fail(errno, path);
        if (::rename(temporary.c_str(), path.c_str()) != 0) fail(errno, path);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

void appendToFile(const std::filesystem::path& path, std::string_view data) {
    // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of waiting for one.
    Descriptor file{::open(path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) fail(errno, path);
    requireRegularFile(file.fd, path);
    writeAll(file.fd, data, path);
    // A failure to close is ignored (the Descriptor closes): the data was handed over.
}

std::filesystem::path followLinks(const std::filesystem::path& path) {
    // The kernel's own limit on links followed in one lookup.
    constexpr int kMaxLinks = 40;
    std::filesystem::path current = path;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, error))) return current;
        auto target = std::filesystem::read_symlink(current, error);
        if (error) return current;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    fail(ELOOP, path);
}

std::filesystem::path setAsideDamagedFile(const std::filesystem::path& path, DamagedLink how) {
    struct stat link {};
    struct stat target {};
    if (::lstat(path.c_str(), &link) != 0) fail(errno, path);
    bool linkToRegularFile = S_ISLNK(link.st_mode) && ::stat(path.c_str(), &target) == 0 && S_ISREG(target.st_mode);
    if (!linkToRegularFile || how == DamagedLink::renameLink) {
        return placeAside(path, [&](const std::filesystem::path& aside) { return renameWithoutReplacing(path, aside); });
    }
    return placeAside(path, [&](const std::filesystem::path& aside) {
        std::error_code error;
        if (std::filesystem::copy_file(path, aside, std::filesystem::copy_options::none, error)) return true;
        if (error.value() == EEXIST) return false;
        throw std::system_error(error, path.string());
    });
}

std::string damagedFileName(const std::string& name, std::int64_t unixSeconds) {
    std::time_t seconds = static_cast<std::time_t>(unixSeconds);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02dT%02d%02d%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
    return name + ".corrupt-" + stamp;
}

std::string fileFailureCause(int errorNumber) {
    switch (errorNumber) {
        case EACCES:
        case EPERM: return "permission is denied";
        case ENOSPC:
        case EDQUOT: return std::string(kDiskFullCause);
        case ENOENT: return "a parent folder is missing";
        case EEXIST:
        case ENOTDIR:
        case EISDIR: return "a file of that name is in the way";
        case EROFS: return "the disk is read-only";
        default: {
            std::string cause = std::strerror(errorNumber);
            if (!cause.empty()) cause[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(cause[0])));
            return cause;
        }
    }
}

}  // namespace yux::platform

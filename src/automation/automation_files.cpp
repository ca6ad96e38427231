#include "automation/automation_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "platform/desktop/file_contents.hpp"

namespace yux::automation {

namespace {

[[noreturn]] void fail(int error, const std::filesystem::path& path) {
    throw std::system_error(error, std::generic_category(), path.string());
}

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

void makeDirectories(const std::filesystem::path& path) {
    std::filesystem::path current;
    for (const auto& part : path) {
        current /= part;
        if (::mkdir(current.c_str(), 0700) == 0) continue;
        if (errno != EEXIST) fail(errno, current);
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) fail(errno, path);
    if (!S_ISDIR(info.st_mode)) fail(ENOTDIR, path);
}

std::vector<std::string> list(const std::filesystem::path& path) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    if (error) throw std::system_error(error, path.string());
    return names;
}

void claim(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
    // Some file systems refuse the flag; a hard link fails on an existing name too.
    if (errno != EINVAL && errno != ENOSYS) fail(errno, from);
    if (::link(from.c_str(), to.c_str()) != 0) fail(errno, from);
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        fail(error, from);
    }
}

std::string read(const std::filesystem::path& path) {
    // O_NONBLOCK: a FIFO in the file's place cannot hang the runner.
    Descriptor file{::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) {
        if (errno == ELOOP) throw NotACommandFileError();
        fail(errno, path);
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) fail(errno, path);
    if (!S_ISREG(info.st_mode) || info.st_size > static_cast<off_t>(kMaxCommandFileBytes)) throw NotACommandFileError();
    std::string data;
    char buffer[65536];
    while (true) {
        ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fail(errno, path);
        if (got == 0) break;
        data.append(buffer, static_cast<std::size_t>(got));
        // The file may grow while it is read.
        if (data.size() > kMaxCommandFileBytes) throw NotACommandFileError();
    }
    return data;
}

bool isDirectory(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

AutomationFiles AutomationFiles::create() {
    return AutomationFiles(Operations{
        makeDirectories,
        list,
        claim,
        read,
        [](const std::filesystem::path& path, const std::string& data) { platform::writeFileAtomically(path, data); },
        [](const std::filesystem::path& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; },
        isDirectory,
    });
}

AutomationFiles AutomationFiles::create_null(std::shared_ptr<NullState> state) {
    const auto check = [state](const std::string& operation, const std::filesystem::path& path) {
        for (const auto& key : {operation, operation + " " + path.string()}) {
            if (auto found = state->failures.find(key); found != state->failures.end()) {
                throw std::runtime_error(found->second + ": " + path.string());
            }
        }
    };
    const auto isFolder = [state](const std::filesystem::path& path) {
        return std::find(state->folders.begin(), state->folders.end(), path.string()) != state->folders.end();
    };
    return AutomationFiles(Operations{
        [state, check](const std::filesystem::path& path) {
            check("makeDirectories", path);
            state->folders.push_back(path.string());
        },
        [state, check](const std::filesystem::path& path) {
            check("list", path);
            std::vector<std::string> names;
            for (const auto& [name, content] : state->files) {
                if (std::filesystem::path(name).parent_path() == path) names.push_back(std::filesystem::path(name).filename());
            }
            for (const auto& name : state->folders) {
                if (std::filesystem::path(name).parent_path() == path) names.push_back(std::filesystem::path(name).filename());
            }
            return names;
        },
        [state, check, isFolder](const std::filesystem::path& from, const std::filesystem::path& to) {
            check("claim", from);
            if (state->files.contains(to.string()) || isFolder(to)) fail(EEXIST, from);
            if (isFolder(from)) {
                std::replace(state->folders.begin(), state->folders.end(), from.string(), to.string());
                return;
            }
            auto found = state->files.find(from.string());
            if (found == state->files.end()) fail(ENOENT, from);
            state->files[to.string()] = found->second;
            state->files.erase(from.string());
        },
        [state, check, isFolder](const std::filesystem::path& path) {
            check("read", path);
            if (isFolder(path)) throw NotACommandFileError();
            auto found = state->files.find(path.string());
            if (found == state->files.end()) fail(ENOENT, path);
            if (found->second.size() > kMaxCommandFileBytes) throw NotACommandFileError();
            return found->second;
        },
        [state, check](const std::filesystem::path& path, const std::string& data) {
            check("write", path);
            state->files[path.string()] = data;
        },
        [state, check, isFolder](const std::filesystem::path& path) {
            try {
                check("remove", path);
            } catch (const std::runtime_error&) {
                return false;
            }
            state->files.erase(path.string());
            return !isFolder(path);
        },
        isFolder,
    });
}

}  // namespace yux::automation

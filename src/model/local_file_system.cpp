#include "model/local_file_system.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "platform/desktop/file_contents.hpp"

namespace yux {

namespace fs = std::filesystem;

namespace {

std::string describe(FileErrorCode code) {
    switch (code) {
        case FileErrorCode::fileNoSuchFile: return "No such file";
        case FileErrorCode::fileReadNoSuchFile: return "The file could not be read because it does not exist";
        case FileErrorCode::fileReadUnknown: return "The file could not be read";
        case FileErrorCode::fileReadCorruptFile: return "The file is not a regular file of a readable size";
        case FileErrorCode::fileWriteFileExists: return "A file already exists at the path";
        case FileErrorCode::fileWriteNoPermission: return "No permission to write the file";
        case FileErrorCode::fileWriteOutOfSpace: return "Not enough space to write the file";
        case FileErrorCode::fileWriteUnknown: return "The file could not be written";
    }
    return "File error";
}

FileErrorCode writeCodeFor(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS: return FileErrorCode::fileWriteNoPermission;
        case ENOSPC:
        case EDQUOT: return FileErrorCode::fileWriteOutOfSpace;
        case EEXIST:
        case ENOTDIR: return FileErrorCode::fileWriteFileExists;
        default: return FileErrorCode::fileWriteUnknown;
    }
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = getpwuid(getuid())) return entry->pw_dir;
    return "/";
}

FileOperations liveOperations() {
    FileOperations ops;
    ops.ensureDirectory = [](const std::string& path) {
        std::error_code error;
        fs::create_directories(path, error);
        if (error) throw FileError(writeCodeFor(error.value()), path, error.value());
        if (!fs::is_directory(path)) throw FileError(FileErrorCode::fileWriteFileExists, path, EEXIST);
    };
    ops.exists = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0;
    };
    ops.isRegularFile = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    };
    ops.mayExist = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR);
    };
    ops.read = [](const std::string& path) {
        try {
            return platform::readFileContents(path);
        } catch (const platform::UnusableFileError& error) {
            throw FileError(FileErrorCode::fileReadCorruptFile, path, error.code().value());
        } catch (const std::system_error& error) {
            int code = error.code().value();
            throw FileError(code == ENOENT ? FileErrorCode::fileReadNoSuchFile : FileErrorCode::fileReadUnknown, path,
                            code);
        }
    };
    ops.write = [](const std::string& path, const std::string& data, platform::DiskSync sync) {
        try {
            platform::writeFileAtomically(path, data, std::nullopt, sync);
        } catch (const std::system_error& error) {
            throw FileError(writeCodeFor(error.code().value()), path, error.code().value());
        }
    };
    ops.append = [](const std::string& path, const std::string& data) {
        try {
            platform::appendToFile(path, data);
        } catch (const std::system_error& error) {
            int code = error.code().value();
            throw FileError(code == ENOENT ? FileErrorCode::fileNoSuchFile : writeCodeFor(code), path, code);
        }
    };
    ops.remove = [](const std::string& path) {
        std::error_code error;
        if (!fs::exists(fs::symlink_status(path, error))) throw FileError(FileErrorCode::fileNoSuchFile, path, ENOENT);
        fs::remove_all(path, error);
        if (error) throw FileError(writeCodeFor(error.value()), path, error.value());
    };
    ops.removeRegularFile = [](const std::string& path) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) throw FileError(FileErrorCode::fileNoSuchFile, path, errno);
        if (!S_ISREG(info.st_mode)) throw FileError(FileErrorCode::fileWriteUnknown, path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        if (::unlink(path.c_str()) != 0) throw FileError(writeCodeFor(errno), path, errno);
    };
    ops.moveAside = [](const std::string& path) {
        try {
            return platform::setAsideDamagedFile(path, platform::DamagedLink::renameLink).string();
        } catch (const std::system_error& error) {
            throw FileError(writeCodeFor(error.code().value()), path, error.code().value());
        }
    };
    ops.linkTarget = [](const std::string& path) -> std::optional<std::string> {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return std::nullopt;
        try {
            return platform::followLinks(path).lexically_normal().string();
        } catch (const std::system_error&) {
            // A loop of links: name the first hop.
            std::error_code error;
            return fs::read_symlink(path, error).string();
        }
    };
    return ops;
}

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

struct StubbedFileManager {
    std::mutex lock;
    std::map<std::string, std::string> files;
    std::set<std::string> directories{"/"};

    void addAncestors(const std::string& path) {
        for (auto folder = parentOf(path); !directories.contains(folder); folder = parentOf(folder)) {
            directories.insert(folder);
        }
    }
};

FileOperations nullOperations(const std::map<std::string, std::string>& files, const std::set<std::string>& failingWrites) {
    auto store = std::make_shared<StubbedFileManager>();
    store->files = files;
    for (const auto& [path, data] : files) store->addAncestors(path);

    FileOperations ops;
    ops.ensureDirectory = [store](const std::string& path) {
        std::lock_guard guard(store->lock);
        for (auto at = path;; at = parentOf(at)) {
            if (store->files.contains(at)) throw FileError(FileErrorCode::fileWriteFileExists, path);
            if (at == "/") break;
        }
        if (path != "/") {
            store->directories.insert(path);
            store->addAncestors(path);
        }
    };
    ops.exists = [store](const std::string& path) {
        std::lock_guard guard(store->lock);
        return store->files.contains(path) || store->directories.contains(path);
    };
    ops.isRegularFile = [store](const std::string& path) {
        std::lock_guard guard(store->lock);
        return store->files.contains(path);
    };
    ops.mayExist = ops.exists;
    ops.read = [store](const std::string& path) {
        std::lock_guard guard(store->lock);
        auto it = store->files.find(path);
        if (it == store->files.end()) throw FileError(FileErrorCode::fileReadNoSuchFile, path);
        return it->second;
    };
    ops.write = [store, failingWrites](const std::string& path, const std::string& data, platform::DiskSync) {
        std::lock_guard guard(store->lock);
        if (failingWrites.contains(path)) throw FileError(FileErrorCode::fileWriteOutOfSpace, path, ENOSPC);
        if (!store->directories.contains(parentOf(path)) || store->directories.contains(path)) {
            throw FileError(FileErrorCode::fileWriteUnknown, path);
        }
        store->files[path] = data;
    };
    ops.append = [store](const std::string& path, const std::string& data) {
        std::lock_guard guard(store->lock);
        auto it = store->files.find(path);
        if (it == store->files.end()) throw FileError(FileErrorCode::fileNoSuchFile, path);
        it->second += data;
    };
    ops.remove = [store](const std::string& path) {
        std::lock_guard guard(store->lock);
        if (store->files.erase(path) > 0) return;
        if (!store->directories.contains(path)) throw FileError(FileErrorCode::fileNoSuchFile, path);
        auto prefix = path + "/";
        std::erase_if(store->directories, [&](const auto& d) { return d == path || d.starts_with(prefix); });
        std::erase_if(store->files, [&](const auto& entry) { return entry.first.starts_with(prefix); });
    };
    ops.removeRegularFile = [store](const std::string& path) {
        std::lock_guard guard(store->lock);
        if (store->files.erase(path) > 0) return;
        if (store->directories.contains(path)) throw FileError(FileErrorCode::fileWriteUnknown, path);
        throw FileError(FileErrorCode::fileNoSuchFile, path);
    };
    ops.moveAside = [store](const std::string& path) {
        std::lock_guard guard(store->lock);
        auto found = store->files.find(path);
        if (found == store->files.end()) throw FileError(FileErrorCode::fileNoSuchFile, path);
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch()).count();
        const std::string base = platform::damagedFileName(path, seconds);
        std::string aside = base;
        for (int number = 2; store->files.contains(aside) || store->directories.contains(aside); ++number) {
            aside = base + "-" + std::to_string(number);
        }
        store->files[aside] = std::move(found->second);
        store->files.erase(found);
        return aside;
    };
    ops.linkTarget = [](const std::string&) -> std::optional<std::string> { return std::nullopt; };  // no links in memory
    return ops;
}

}  // namespace

FileError::FileError(FileErrorCode code, const std::string& path, int osError)
    : std::runtime_error(describe(code) + ": " + path + (osError != 0 ? std::string(" (") + std::strerror(osError) + ")" : "")),
      code_(code), osError_(osError), path_(path) {}

void FileRemovalRecords::record(const std::string& path) {
    std::shared_ptr<FileRemovalRecords> observer;
    {
        std::lock_guard guard(lock_);
        observer = observer_.lock();
    }
    if (observer) {
        std::lock_guard guard(observer->lock_);
        observer->entries_.push_back(path);
    }
}

std::shared_ptr<FileRemovalRecords> FileRemovalRecords::observe() {
    std::lock_guard guard(lock_);
    if (auto observer = observer_.lock()) return observer;
    auto observer = std::make_shared<FileRemovalRecords>();
    observer_ = observer;
    return observer;
}

std::vector<std::string> FileRemovalRecords::paths() const {
    std::lock_guard guard(lock_);
    return entries_;
}

std::string expandTilde(const std::string& path) {
    if (path.empty() || path[0] != '~') return path;
    auto slash = path.find('/');
    auto user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    std::string home;
    if (user.empty()) {
        home = homeFolder();
    } else if (const passwd* entry = getpwnam(user.c_str())) {
        home = entry->pw_dir;
    } else {
        return path;
    }
    if (slash == std::string::npos) return home;
    if (!home.empty() && home.back() == '/') home.pop_back();
    return home + path.substr(slash);
}

LocalFileSystem::LocalFileSystem() : LocalFileSystem(liveOperations()) {}

LocalFileSystem::LocalFileSystem(FileOperations operations)
    : operations_(std::move(operations)), removals_(std::make_shared<FileRemovalRecords>()) {}

LocalFileSystem LocalFileSystem::create_null(const std::map<std::string, std::string>& files,
                                             const std::set<std::string>& failingWrites) {
    return LocalFileSystem(nullOperations(files, failingWrites));
}

void LocalFileSystem::ensureDirectory(const std::string& path) const { operations_.ensureDirectory(expandTilde(path)); }

bool LocalFileSystem::fileExists(const std::string& path) const { return operations_.exists(expandTilde(path)); }

bool LocalFileSystem::regularFileExists(const std::string& path) const {
    return operations_.isRegularFile(expandTilde(path));
}

bool LocalFileSystem::mayExist(const std::string& path) const { return operations_.mayExist(expandTilde(path)); }

std::string LocalFileSystem::readFile(const std::string& path) const { return operations_.read(expandTilde(path)); }

void LocalFileSystem::writeFile(const std::string& path, const std::string& data, platform::DiskSync sync) const {
    operations_.write(expandTilde(path), data, sync);
}

void LocalFileSystem::appendFile(const std::string& path, const std::string& data) const {
    operations_.append(expandTilde(path), data);
}

void LocalFileSystem::removeFile(const std::string& path) const {
    auto expanded = expandTilde(path);
    operations_.remove(expanded);
    removals_->record(expanded);
}

void LocalFileSystem::removeRegularFile(const std::string& path) const {
    auto expanded = expandTilde(path);
    operations_.removeRegularFile(expanded);
    removals_->record(expanded);
}

std::string LocalFileSystem::moveAside(const std::string& path) const { return operations_.moveAside(expandTilde(path)); }

std::optional<std::string> LocalFileSystem::linkTarget(const std::string& path) const {
    return operations_.linkTarget(expandTilde(path));
}

}  // namespace yux

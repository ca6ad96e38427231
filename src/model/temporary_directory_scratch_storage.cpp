#include "model/temporary_directory_scratch_storage.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "model/app_error.hpp"
#include "platform/desktop/app_locations.hpp"

namespace yux {

std::string canonicalText(const QUuid& identifier) {
    return identifier.toString(QUuid::WithoutBraces).toUpper().toStdString();
}

TemporaryDirectoryScratchStorage::TemporaryDirectoryScratchStorage(
    LocalFileSystem fileSystem, std::string baseDirectoryPath, std::function<void(const std::string&)> restrictFolder)
    : fileSystem_(std::move(fileSystem)),
      baseDirectoryPath_(std::move(baseDirectoryPath)),
      restrictFolder_(std::move(restrictFolder)) {}

std::string TemporaryDirectoryScratchStorage::defaultBaseDirectory() {
    return platform::AppLocations::forCurrentUser().scratchDirectory().string();
}

std::shared_ptr<TemporaryDirectoryScratchStorage> TemporaryDirectoryScratchStorage::create(
    LocalFileSystem fileSystem, std::string baseDirectoryPath) {
    auto restrict = [](const std::string& folder) {
        if (::chmod(folder.c_str(), kFolderMode) != 0) {
            throw std::runtime_error("Cannot make " + folder + " private: " + std::strerror(errno));
        }
    };
    return std::make_shared<TemporaryDirectoryScratchStorage>(std::move(fileSystem), std::move(baseDirectoryPath),
                                                              restrict);
}

std::shared_ptr<TemporaryDirectoryScratchStorage> TemporaryDirectoryScratchStorage::create_null(
    std::string baseDirectoryPath, const std::map<std::string, std::string>& files) {
    return std::make_shared<TemporaryDirectoryScratchStorage>(LocalFileSystem::create_null(files),
                                                              std::move(baseDirectoryPath), [](const std::string&) {});
}

QCoro::Task<ScratchReservation> TemporaryDirectoryScratchStorage::reserveScratchDestination(QUuid sessionID) {
    const std::string folder = expandTilde(baseDirectoryPath_);
    try {
        fileSystem_.ensureDirectory(folder);
        restrictFolder_(folder);
    } catch (const std::exception&) {
        throw AppError::outputFinalizationFailed("scratch directory unavailable");
    }
    co_return ScratchReservation{sessionID, folder + "/" + canonicalText(sessionID) + ".mov"};
}

QCoro::Task<void> TemporaryDirectoryScratchStorage::deleteScratchFile(std::string filePath) {
    // The path may come from a damaged record: only a file directly inside the scratch folder
    // is ours to delete, and only as one regular file, never a folder or a link.
    const std::filesystem::path path = std::filesystem::path(expandTilde(filePath)).lexically_normal();
    const std::filesystem::path folder =
        (std::filesystem::path(expandTilde(baseDirectoryPath_)) / "").lexically_normal();
    if (!path.has_filename() || (path.parent_path() / "") != folder) {
        throw AppError::outputFinalizationFailed("scratch delete failed");
    }
    if (!fileSystem_.fileExists(path.string())) co_return;
    try {
        fileSystem_.removeRegularFile(path.string());
    } catch (const std::exception&) {
        throw AppError::outputFinalizationFailed("scratch delete failed");
    }
}

QCoro::Task<bool> TemporaryDirectoryScratchStorage::scratchFileExists(std::string filePath) {
    // A movie that cannot be looked at now (EACCES, EIO) is not gone: its marker stays.
    co_return fileSystem_.mayExist(filePath);
}

QCoro::Task<std::int64_t> LocalRecordingScratchFileSizeReader::byteSize(std::string filePath) {
    struct stat info {};
    if (::stat(expandTilde(filePath).c_str(), &info) != 0) {
        throw AppError::outputFinalizationFailed("scratch size unavailable");
    }
    co_return static_cast<std::int64_t>(info.st_size);
}

}  // namespace yux

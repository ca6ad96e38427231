#include "model/persistent_output_library.hpp"

#include <algorithm>
#include <filesystem>

#include "model/app_error.hpp"

namespace yux {

namespace {

// A damaged or edited list may name any file ("/etc/passwd"); the panel offers only movies.
bool isMovieYuxWrites(const std::string& path) {
    const std::string extension = std::filesystem::path(path).extension().string();
    return std::any_of(kAllOutputFormats.begin(), kAllOutputFormats.end(), [&](OutputFormat format) {
        return extension == "." + std::string(fileExtensionOf(format));
    });
}

}  // namespace

PersistentOutputLibrary::PersistentOutputLibrary(std::shared_ptr<FileSystemBoundary> fileSystem,
                                                 std::shared_ptr<ClockBoundary> clock, TimestampFileNamingPolicy naming,
                                                 std::shared_ptr<RecentRecordingStoreBoundary> recentStore)
    : fileSystem_(std::move(fileSystem)),
      clock_(std::move(clock)),
      naming_(std::move(naming)),
      recentStore_(std::move(recentStore)) {}

QCoro::Task<OutputReservation> PersistentOutputLibrary::reserveDestination(QUuid sessionID, OutputFormat outputFormat,
                                                                           std::string saveFolderPath) {
    // A relative folder would be made wherever the process happens to run.
    if (!std::filesystem::path(expandTilde(saveFolderPath)).is_absolute()) {
        throw AppError::saveFolderUnusable(saveFolderPath);
    }
    try {
        fileSystem_->ensureDirectory(saveFolderPath);
    } catch (const std::exception&) {
        throw AppError::saveFolderUnusable(saveFolderPath);
    }
    const std::string name = naming_.makeFilename(clock_->now(), outputFormat);
    const std::string first = (std::filesystem::path(expandTilde(saveFolderPath)) / name).string();
    std::string candidate = first;
    const std::string extension = "." + std::string(fileExtensionOf(outputFormat));
    const std::string stem = first.substr(0, first.size() - extension.size());
    for (long number = 2; fileSystem_->fileExists(candidate); ++number) {
        candidate = stem + " (" + std::to_string(number) + ")" + extension;
    }
    // Nothing is created: the name was free when asked.
    co_return OutputReservation{sessionID, candidate};
}

std::vector<RecordingFile> PersistentOutputLibrary::loadRecent() const {
    try {
        return recentStore_->load();
    } catch (const std::exception&) {
        throw AppError::recentRecordingLoadFailed("unable to load recent recordings");
    }
}

QCoro::Task<RecordingFile> PersistentOutputLibrary::markCompleted(std::string filePath, Date createdAt) {
    RecordingFile file{filePath, createdAt};
    auto files = loadRecent();  // a corrupt list fails here, before anything is written
    files.insert(files.begin(), file);
    try {
        recentStore_->save(files);
    } catch (const std::exception&) {
        throw AppError::recentRecordingPersistFailed("unable to persist recent recordings");
    }
    co_return file;
}

QCoro::Task<std::vector<RecordingFile>> PersistentOutputLibrary::recentRecordings(int limit) {
    auto files = loadRecent();
    std::vector<RecordingFile> existing;
    for (const auto& file : files) {
        if (static_cast<int>(existing.size()) >= limit) break;
        if (isMovieYuxWrites(file.path) && fileSystem_->regularFileExists(file.path)) existing.push_back(file);
    }
    co_return existing;
}

}  // namespace yux

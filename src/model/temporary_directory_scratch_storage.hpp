#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "model/local_file_system.hpp"
#include "model/scratch_storage_boundary.hpp"

namespace yux {

// Names the scratch movie of each recording session (<UUID>.mov in a private per-user folder,
// $XDG_CACHE_HOME/Yux/Scratch by default) and deletes it afterwards. Keeps no list of
// reservations. Used on the main thread.
class TemporaryDirectoryScratchStorage : public ScratchStorageBoundary {
public:
    // Scratch movies show the user's screen: only the user may look into their folder.
    static constexpr unsigned kFolderMode = 0700;

    // `restrictFolder` makes the folder private; it throws when it cannot.
    TemporaryDirectoryScratchStorage(LocalFileSystem fileSystem, std::string baseDirectoryPath,
                                     std::function<void(const std::string&)> restrictFolder);

    // Over the disk; the folder defaults to the user's scratch folder.
    static std::shared_ptr<TemporaryDirectoryScratchStorage> create(LocalFileSystem fileSystem,
                                                                    std::string baseDirectoryPath = defaultBaseDirectory());
    static std::shared_ptr<TemporaryDirectoryScratchStorage> create_null(
        std::string baseDirectoryPath, const std::map<std::string, std::string>& files = {});
    static std::string defaultBaseDirectory();

    QCoro::Task<ScratchReservation> reserveScratchDestination(QUuid sessionID) override;
    QCoro::Task<void> deleteScratchFile(std::string filePath) override;
    QCoro::Task<bool> scratchFileExists(std::string filePath) override;

    // Every scratch file deleted while the caller holds the records.
    std::shared_ptr<FileRemovalRecords> track_deletedFiles() const { return fileSystem_.track_removedFiles(); }

    const std::string& baseDirectoryPath() const { return baseDirectoryPath_; }

private:
    LocalFileSystem fileSystem_;
    std::string baseDirectoryPath_;
    std::function<void(const std::string&)> restrictFolder_;
};

// The size of a finished scratch movie, read from the disk.
class LocalRecordingScratchFileSizeReader : public RecordingScratchFileSizeReading {
public:
    QCoro::Task<std::int64_t> byteSize(std::string filePath) override;
};

// The canonical upper-case 8-4-4-4-12 text of a session identifier.
std::string canonicalText(const QUuid& identifier);

}  // namespace yux

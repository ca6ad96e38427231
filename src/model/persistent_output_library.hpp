#pragma once

#include <memory>

#include "model/clock_boundary.hpp"
#include "model/local_file_system.hpp"
#include "model/output_library_boundary.hpp"
#include "model/timestamp_file_naming_policy.hpp"

namespace yux {

// Reserves free file names in the save folder ("Yux <time>.mov", then " (2)", " (3)" and so
// on), puts completed files at the head of the recent list and hands out the newest ones still
// on disk. Reads the list on every call; keeps nothing in memory. Used on the main thread.
class PersistentOutputLibrary : public OutputLibraryBoundary {
public:
    PersistentOutputLibrary(std::shared_ptr<FileSystemBoundary> fileSystem, std::shared_ptr<ClockBoundary> clock,
                            TimestampFileNamingPolicy naming, std::shared_ptr<RecentRecordingStoreBoundary> recentStore);

    QCoro::Task<OutputReservation> reserveDestination(QUuid sessionID, OutputFormat outputFormat,
                                                      std::string saveFolderPath) override;
    QCoro::Task<RecordingFile> markCompleted(std::string filePath, Date createdAt) override;
    QCoro::Task<std::vector<RecordingFile>> recentRecordings(int limit) override;

private:
    std::vector<RecordingFile> loadRecent() const;

    std::shared_ptr<FileSystemBoundary> fileSystem_;
    std::shared_ptr<ClockBoundary> clock_;
    TimestampFileNamingPolicy naming_;
    std::shared_ptr<RecentRecordingStoreBoundary> recentStore_;
};

}  // namespace yux

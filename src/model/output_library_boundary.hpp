#pragma once

#include <string>
#include <vector>

#include <QCoroTask>
#include <QUuid>

#include "model/date.hpp"
#include "model/recording_file.hpp"
#include "model/recording_session_records.hpp"

namespace yux {

// The stored list of finished recordings, newest first.
class RecentRecordingStoreBoundary {
public:
    virtual ~RecentRecordingStoreBoundary() = default;
    virtual std::vector<RecordingFile> load() const = 0;
    virtual void save(const std::vector<RecordingFile>& files) const = 0;
};

// Names finished recordings in the save folder and remembers them.
class OutputLibraryBoundary {
public:
    virtual ~OutputLibraryBoundary() = default;
    virtual QCoro::Task<OutputReservation> reserveDestination(QUuid sessionID, OutputFormat outputFormat,
                                                              std::string saveFolderPath) = 0;
    virtual QCoro::Task<RecordingFile> markCompleted(std::string filePath, Date createdAt) = 0;
    virtual QCoro::Task<std::vector<RecordingFile>> recentRecordings(int limit) = 0;
};

}  // namespace yux

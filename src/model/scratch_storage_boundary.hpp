#pragma once

#include <cstdint>
#include <string>

#include <QCoroTask>
#include <QUuid>

#include "model/recording_session_records.hpp"

namespace yux {

// Where a recording writes before the user decides what to keep.
class ScratchStorageBoundary {
public:
    virtual ~ScratchStorageBoundary() = default;
    virtual QCoro::Task<ScratchReservation> reserveScratchDestination(QUuid sessionID) = 0;
    virtual QCoro::Task<void> deleteScratchFile(std::string filePath) = 0;
    // False only when nothing is at the path for certain; never throws. A capture that ends
    // without a single picture removes its movie.
    virtual QCoro::Task<bool> scratchFileExists(std::string filePath) = 0;
};

class RecordingScratchFileSizeReading {
public:
    virtual ~RecordingScratchFileSizeReading() = default;
    virtual QCoro::Task<std::int64_t> byteSize(std::string filePath) = 0;
};

}  // namespace yux

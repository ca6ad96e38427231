#pragma once

#include <string>

#include <QCoroTask>

#include "model/date.hpp"

namespace yux {

// Notes on disk each take the session holds for the user, so that any end of the process (a
// quit, a closed terminal, a crash, SIGKILL) leaves it to be offered at the next start.
// Neither call throws: a note that cannot be written or removed is logged by the keeper.
class PendingRecordingKeeping {
public:
    virtual ~PendingRecordingKeeping() = default;
    // The take waits for the user: stopped into the trim window, taken back at start, or kept
    // after a stop that failed.
    virtual QCoro::Task<void> keep(std::string scratchPath, Date createdAt) = 0;
    // The session let the take go: saved, or discarded with its movie.
    virtual QCoro::Task<void> release(std::string scratchPath) = 0;
};

}  // namespace yux

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
    // The session let the take go: saved, or discarded with its movie. The export temporary
    // noted with it goes too.
    virtual QCoro::Task<void> release(std::string scratchPath) = 0;
    // Notes, before it is created, the temporary the take's next export is written to until it is
    // whole, so that one path can be removed after a kill; the one noted before is removed first.
    // Answers whether the note was written: without it the export is written under its own name.
    virtual QCoro::Task<bool> noteExportTemporary(std::string /*scratchPath*/, Date /*createdAt*/,
                                                  std::string /*temporaryPath*/) {
        co_return false;
    }
};

}  // namespace yux

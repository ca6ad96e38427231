#pragma once

#include <QCoroTask>

#include "model/pending_recording_artifact.hpp"

namespace yux {

// Told of every recording a user stopped, once it waits for the trim window.
class PendingTrimEventBoundary {
public:
    virtual ~PendingTrimEventBoundary() = default;
    virtual QCoro::Task<void> handlePendingTrim(PendingRecordingArtifact artifact) = 0;
};

}  // namespace yux

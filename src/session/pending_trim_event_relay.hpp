#pragma once

#include <memory>

#include "platform/async/locked.hpp"
#include "session/pending_trim_event_boundary.hpp"

namespace yux {

// Lets the session be built before the one who handles its pending trims: events go to the
// handler set last, and are dropped while there is none (the recording stays pending and can
// be reopened). The handler is held weakly: it owns the session, which owns this relay.
class PendingTrimEventRelay : public PendingTrimEventBoundary {
public:
    void setHandler(const std::shared_ptr<PendingTrimEventBoundary>& handler);
    QCoro::Task<void> handlePendingTrim(PendingRecordingArtifact artifact) override;

private:
    platform::Locked<std::weak_ptr<PendingTrimEventBoundary>> handler_;
};

}  // namespace yux

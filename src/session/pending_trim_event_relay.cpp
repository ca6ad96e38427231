#include "session/pending_trim_event_relay.hpp"

namespace yux {

void PendingTrimEventRelay::setHandler(const std::shared_ptr<PendingTrimEventBoundary>& handler) {
    handler_.with([&](auto& stored) { stored = handler; });
}

QCoro::Task<void> PendingTrimEventRelay::handlePendingTrim(PendingRecordingArtifact artifact) {
    // Copied out under the lock and called outside it, so a handler may raise events itself.
    auto handler = handler_.copy().lock();
    if (!handler) co_return;
    co_await handler->handlePendingTrim(std::move(artifact));
}

}  // namespace yux

#pragma once

#include <string>

#include <QCoroTask>

#include "session/recording_session_state.hpp"
#include "session/trim_preview_boundary.hpp"

namespace yux {

// The recording session as the shell and the automation runner drive it.
class RecordingSessionBoundary {
public:
    using ProgressHandler = TrimPreviewSaveHandling::ProgressHandler;

    virtual ~RecordingSessionBoundary() = default;

    // Reads `stopping` while a stop or cancel waits for a running start-up.
    virtual RecordingSessionState state() const = 0;
    // Toggle: selects and records when idle or failed, stops a recording, cancels a selection.
    virtual QCoro::Task<void> start() = 0;
    virtual QCoro::Task<void> cancel() = 0;
    virtual QCoro::Task<void> stop() = 0;
    virtual QCoro::Task<RecordingExportResult> publishPendingTrim(TrimSelection selection, RecordingPreset profile,
                                                                  ProgressHandler progress,
                                                                  platform::CancelToken cancel = {}) = 0;
    virtual QCoro::Task<TrimPreviewOutcome> presentPendingTrim(TrimPreviewBoundary* trimPreview,
                                                               TrimPreviewSaveHandling* saveHandler) = 0;
    virtual QCoro::Task<void> finishPendingTrim() = 0;
    virtual QCoro::Task<void> reopenPendingTrimIfRecoverable() = 0;
    virtual QCoro::Task<void> discardRecording() = 0;
    virtual QCoro::Task<void> failPendingTrim(std::string message) = 0;
};

}  // namespace yux

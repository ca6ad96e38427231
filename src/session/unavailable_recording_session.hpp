#pragma once

#include "model/app_error.hpp"
#include "session/recording_session_boundary.hpp"

namespace yux {

// The session of a system that cannot record: always failed with one reason, does nothing.
class UnavailableRecordingSession : public RecordingSessionBoundary {
public:
    explicit UnavailableRecordingSession(AppError failure) : failure_(std::move(failure)) {}

    RecordingSessionState state() const override { return RecordingSessionState::failed(failure_); }
    QCoro::Task<void> start() override { co_return; }
    QCoro::Task<void> cancel() override { co_return; }
    QCoro::Task<void> stop() override { co_return; }
    QCoro::Task<RecordingExportResult> publishPendingTrim(TrimSelection, RecordingPreset, ProgressHandler,
                                                          platform::CancelToken = {}) override {
        throw failure_;
        co_return {};
    }
    QCoro::Task<TrimPreviewOutcome> presentPendingTrim(TrimPreviewBoundary*, TrimPreviewSaveHandling*) override {
        co_return TrimPreviewOutcome::failed(failure_);
    }
    QCoro::Task<void> finishPendingTrim() override { co_return; }
    QCoro::Task<void> reopenPendingTrimIfRecoverable() override { co_return; }
    QCoro::Task<void> discardRecording() override { co_return; }
    QCoro::Task<void> failPendingTrim(std::string) override { co_return; }

private:
    AppError failure_;
};

}  // namespace yux

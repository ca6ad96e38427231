#pragma once

#include <string>
#include <variant>

#include "model/app_error.hpp"
#include "model/pending_recording_artifact.hpp"
#include "model/recording_session_records.hpp"

namespace yux {

// What the recording session is doing, as the shell and automation see it.
class RecordingSessionState {
public:
    struct Recording {
        ActiveSessionInfo info;
        bool operator==(const Recording&) const = default;
    };
    struct PendingTrim {
        PendingRecordingArtifact artifact;
        bool operator==(const PendingTrim&) const = default;
    };
    struct Failed {
        AppError error;
        bool operator==(const Failed&) const = default;
    };
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    struct Selecting {
        bool operator==(const Selecting&) const = default;
    };
    struct Stopping {
        bool operator==(const Stopping&) const = default;
    };

    // Cases in declaration order.
    using Value = std::variant<Recording, PendingTrim, Failed, Idle, Selecting, Stopping>;

    RecordingSessionState() : value_(Idle{}) {}

    static RecordingSessionState recording(ActiveSessionInfo info) { return RecordingSessionState(Recording{std::move(info)}); }
    static RecordingSessionState pendingTrim(PendingRecordingArtifact artifact) {
        return RecordingSessionState(PendingTrim{std::move(artifact)});
    }
    static RecordingSessionState failed(AppError error) { return RecordingSessionState(Failed{std::move(error)}); }
    static RecordingSessionState idle() { return RecordingSessionState(Idle{}); }
    static RecordingSessionState selecting() { return RecordingSessionState(Selecting{}); }
    static RecordingSessionState stopping() { return RecordingSessionState(Stopping{}); }

    const Value& value() const { return value_; }
    const ActiveSessionInfo* recordingInfo() const;
    const PendingRecordingArtifact* pendingArtifact() const;
    const AppError* failure() const;
    bool isIdle() const { return std::holds_alternative<Idle>(value_); }
    bool isSelecting() const { return std::holds_alternative<Selecting>(value_); }
    bool isStopping() const { return std::holds_alternative<Stopping>(value_); }

    // Same case and equal values; failures compare by case and detail.
    bool operator==(const RecordingSessionState&) const = default;

    // After "state=" in log lines: the case name, with its value in parentheses.
    std::string diagnosticText() const;
    // The menu-bar panel's status line ("Ready to Record", "Recording Failed", …).
    std::string panelStatusText() const;
    // The automation status word ("idle", "failed: " and the error's text, …).
    std::string automationStateWord() const;

private:
    explicit RecordingSessionState(Value value) : value_(std::move(value)) {}

    Value value_;
};

}  // namespace yux

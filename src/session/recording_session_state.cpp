#include "session/recording_session_state.hpp"

#include "model/log_text.hpp"

namespace yux {

namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace

const ActiveSessionInfo* RecordingSessionState::recordingInfo() const {
    const auto* recording = std::get_if<Recording>(&value_);
    return recording != nullptr ? &recording->info : nullptr;
}

const PendingRecordingArtifact* RecordingSessionState::pendingArtifact() const {
    const auto* pending = std::get_if<PendingTrim>(&value_);
    return pending != nullptr ? &pending->artifact : nullptr;
}

const AppError* RecordingSessionState::failure() const {
    const auto* failed = std::get_if<Failed>(&value_);
    return failed != nullptr ? &failed->error : nullptr;
}

std::string RecordingSessionState::diagnosticText() const {
    return std::visit(
        Overloaded{
            [](const Recording& recording) {
                return "recording(sessionID=" +
                       recording.info.sessionID.toString(QUuid::WithoutBraces).toUpper().toStdString() +
                       ", scratchFilePath=" + recording.info.scratchFilePath + ")";
            },
            [](const PendingTrim& pending) {
                return "pendingTrim(scratchPath=" + pending.artifact.scratchPath() +
                       ", durationSeconds=" + logNumber(pending.artifact.durationSeconds()) +
                       ", scratchByteSize=" + std::to_string(pending.artifact.scratchByteSize()) + ")";
            },
            [](const Failed& failed) { return "failed(" + appErrorText(failed.error) + ")"; },
            [](const Idle&) { return std::string("idle"); },
            [](const Selecting&) { return std::string("selecting"); },
            [](const Stopping&) { return std::string("stopping"); },
        },
        value_);
}

std::string RecordingSessionState::panelStatusText() const {
    return std::visit(Overloaded{
                          [](const Recording&) { return "Recording"; },
                          [](const PendingTrim&) { return "Trim Preview Open"; },
                          [](const Failed&) { return "Recording Failed"; },
                          [](const Idle&) { return "Ready to Record"; },
                          [](const Selecting&) { return "Selecting Area..."; },
                          [](const Stopping&) { return "Stopping..."; },
                      },
                      value_);
}

std::string RecordingSessionState::automationStateWord() const {
    return std::visit(Overloaded{
                          [](const Recording&) { return std::string("recording"); },
                          [](const PendingTrim&) { return std::string("pendingTrim"); },
                          [](const Failed& failed) { return "failed: " + appErrorText(failed.error); },
                          [](const Idle&) { return std::string("idle"); },
                          [](const Selecting&) { return std::string("selecting"); },
                          [](const Stopping&) { return std::string("stopping"); },
                      },
                      value_);
}

}  // namespace yux

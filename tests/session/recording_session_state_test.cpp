#include "session/recording_session_state.hpp"

#include <gtest/gtest.h>

#include "session/screen_selection_boundary.hpp"
#include "session/trim_preview_boundary.hpp"
#include "support/session_printers.hpp"

namespace yux {
namespace {

const QUuid kSession = QUuid::fromString(QStringLiteral("{6F1C2A3B-0000-4000-8000-000000000001}"));

PendingRecordingArtifact artifact(double duration) {
    return PendingRecordingArtifact("/tmp/Yux/Scratch/a.mov", Date{800000000.5}, duration, 1000,
                                    RecordingCaptureDiagnostics{RecordingCaptureConfig::fullFidelity(), 2.5},
                                    RecordingPresetCatalog::builtIn(), RecordingPresetCatalog::highID);
}

TEST(RecordingSessionStateTest, EqualityComparesCaseAndValue) {
    EXPECT_EQ(RecordingSessionState(), RecordingSessionState::idle());
    EXPECT_NE(RecordingSessionState::idle(), RecordingSessionState::selecting());
    EXPECT_NE(RecordingSessionState::recording({kSession, "/a.mov"}), RecordingSessionState::recording({kSession, "/b.mov"}));
    EXPECT_NE(RecordingSessionState::recording({kSession, "/a.mov"}),
              RecordingSessionState::recording({QUuid::createUuid(), "/a.mov"}));
    EXPECT_EQ(RecordingSessionState::failed(AppError::screenSelectionFailed("x")),
              RecordingSessionState::failed(AppError::screenSelectionFailed("x")));
    EXPECT_NE(RecordingSessionState::failed(AppError::screenSelectionFailed("x")),
              RecordingSessionState::failed(AppError::screenSelectionFailed("y")));
    EXPECT_NE(RecordingSessionState::pendingTrim(artifact(1)), RecordingSessionState::pendingTrim(artifact(2)));
    EXPECT_EQ(RecordingSessionState::pendingTrim(artifact(1)), RecordingSessionState::pendingTrim(artifact(1)));
}

TEST(RecordingSessionStateTest, TextsOfEveryCase) {
    struct Row {
        RecordingSessionState state;
        std::string panel, automation, diagnosticStart;
    };
    const AppError failure = AppError::screenSelectionFailed("x");
    const std::vector<Row> rows = {
        {RecordingSessionState::idle(), "Ready to Record", "idle", "idle"},
        {RecordingSessionState::selecting(), "Selecting Area...", "selecting", "selecting"},
        {RecordingSessionState::recording({kSession, "/s.mov"}), "Recording", "recording",
         "recording(sessionID=6F1C2A3B-0000-4000-8000-000000000001, scratchFilePath=/s.mov)"},
        {RecordingSessionState::stopping(), "Stopping...", "stopping", "stopping"},
        {RecordingSessionState::pendingTrim(artifact(1.5)), "Trim Preview Open", "pendingTrim",
         "pendingTrim(scratchPath=/tmp/Yux/Scratch/a.mov, durationSeconds=1.5"},
        {RecordingSessionState::failed(failure), "Recording Failed", "failed: screenSelectionFailed(\"x\")",
         "failed(screenSelectionFailed(\"x\"))"},
        {RecordingSessionState::failed(AppError::settingsMissing()), "Recording Failed",
         "failed: settingsMissing", "failed(settingsMissing)"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.state.panelStatusText(), row.panel);
        EXPECT_EQ(row.state.automationStateWord(), row.automation);
        EXPECT_EQ(row.state.diagnosticText().rfind(row.diagnosticStart, 0), 0u) << row.state.diagnosticText();
    }
}

TEST(RecordingSessionStateTest, OutcomesCompareByCaseAndPayload) {
    CapturePreference edited;
    edited.mode = CaptureMode::screen;
    EXPECT_EQ(ScreenSelectionOutcome::cancelled(edited), ScreenSelectionOutcome::cancelled(edited));
    EXPECT_NE(ScreenSelectionOutcome::cancelled(edited), ScreenSelectionOutcome::cancelled(CapturePreference::initial()));
    EXPECT_NE(ScreenSelectionOutcome::failed(AppError::screenSelectionFailed("Escape registration failed.")),
              ScreenSelectionOutcome::cancelled(edited));
    EXPECT_EQ(TrimPreviewOutcome::saved(), TrimPreviewOutcome::saved());
    EXPECT_NE(TrimPreviewOutcome::saved(), TrimPreviewOutcome::discarded());
    EXPECT_NE(TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("a")),
              TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("b")));
}

}  // namespace
}  // namespace yux

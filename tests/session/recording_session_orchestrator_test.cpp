#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "model/log_text.hpp"
#include "platform/async/errors.hpp"
#include "support/app_error_expectations.hpp"
#include "session/session_world.hpp"

namespace yux {
namespace {

using testing::SessionWorld;
using Lines = std::vector<std::string>;

std::string recordingText(const SessionWorld& w, std::size_t n = 0) {
    return "recording(sessionID=" + w.sessionText(n) + ", scratchFilePath=" + w.scratchPath(n) + ")";
}

std::string startedLine(const SessionWorld& w, std::size_t n = 0) {
    return "session_recording_started session_id=" + w.sessionText(n) + " capture_quality=full_fidelity";
}

std::string readyLine(const SessionWorld& w, std::size_t n = 0) {
    return "session_pending_trim_ready session_id=" + w.sessionText(n) + " scratch=" + w.scratchPath(n);
}

TrimSelection wholeRecording(double duration = 12) {
    TrimSelection selection;
    selection.sections = {RecordingEdit::Section{0, duration, 1.0, true}};
    return selection;
}

RecordingPreset preset(const char* id) { return *RecordingPresetCatalog::builtIn().preset(id); }

// MARK: the whole path

TEST(RecordingSessionOrchestrator, SelectsRecordsAndStopsIntoAnAnnouncedPendingTrim) {
    SessionWorld w;
    const SelectedCaptureArea remembered{DisplayID{"1"}, {10, 10, 100, 100}};
    w.settings->preference = CapturePreference{CaptureMode::app, remembered, "org.example.editor"};

    w.gates.hold("startSelection");
    auto starting = w.session->start();
    EXPECT_EQ(w.stored(), RecordingSessionState::selecting());
    EXPECT_EQ(w.session->state(), RecordingSessionState::selecting());
    w.gates["startSelection"].open();
    w.run(std::move(starting));
    ASSERT_NE(w.stored().recordingInfo(), nullptr);
    EXPECT_EQ(w.session->state(), w.stored()) << "no end request: reported as stored";
    EXPECT_EQ(w.stored().recordingInfo()->scratchFilePath, w.scratchPath());
    EXPECT_EQ(w.capture->active, (std::set{w.stored().recordingInfo()->sessionID}));
    // The remembered area is offered on its display; the remembered application never is.
    EXPECT_EQ(w.selection->offered, (std::vector{CapturePreference{CaptureMode::app, remembered, std::nullopt}}));
    EXPECT_EQ(w.settings->persisted, (std::vector{CapturePreference{CaptureMode::screen, {}, {}}}));
    EXPECT_EQ(w.capture->targets, (std::vector{CaptureTarget::fullMainDisplay()}));
    EXPECT_EQ(w.journal.calls, (Lines{"availableDisplays", "loadCapturePreference", "loadSettings", "startSelection",
                                      "persistCapturePreference", "ensureAccess", "reserveScratchDestination",
                                      "showRecordingControls", "startCapture"}));
    EXPECT_EQ(w.lines(), (Lines{"session_start_requested state=idle", startedLine(w)}));
    EXPECT_EQ(w.selection->readers(), 1u) << "the tray loop listens";

    w.journal.calls.clear();
    w.gates.hold("stopCapture");
    auto stopping = w.session->stop();
    EXPECT_EQ(w.stored(), RecordingSessionState::stopping());
    EXPECT_EQ(w.session->state(), RecordingSessionState::stopping());
    w.gates["stopCapture"].open();
    w.run(std::move(stopping));
    EXPECT_EQ(w.session->state(), w.stored());
    const auto* artifact = w.stored().pendingArtifact();
    ASSERT_NE(artifact, nullptr);
    EXPECT_EQ(artifact->scratchPath(), w.scratchPath());
    EXPECT_EQ(artifact->createdAt(), w.clock->date);
    EXPECT_EQ(artifact->durationSeconds(), 12.0);
    EXPECT_EQ(artifact->scratchByteSize(), 4096);
    EXPECT_EQ(artifact->captureDiagnostics(),
              (RecordingCaptureDiagnostics{RecordingCaptureConfig::fullFidelity(), 4096 / 1e6 / (12.0 / 60)}));
    EXPECT_EQ(artifact->exportPresetCatalog(), RecordingPresetCatalog::validated(RecordingPresetCatalog::builtIn()));
    EXPECT_EQ(artifact->defaultExportPresetID(), RecordingPresetID("high"));
    EXPECT_EQ(w.handler->artifacts, (std::vector{*artifact}));
    EXPECT_EQ(w.journal.calls, (Lines{"showStoppingControls", "stopCapture", "loadDurationSeconds", "hideOverlay"}));
    EXPECT_EQ(w.lines(), (Lines{"session_start_requested state=idle", startedLine(w), readyLine(w)}));
    EXPECT_EQ(w.selection->readers(), 0u);
    EXPECT_TRUE(w.scratch->files.count(w.scratchPath())) << "the take waits for the trim window";
}

TEST(RecordingSessionOrchestrator, TheStartToggleStopsARecordingAndCancelsASelection) {
    SessionWorld w;
    w.run(w.session->start());
    w.run(w.session->start());
    ASSERT_NE(w.stored().pendingArtifact(), nullptr);
    EXPECT_EQ(w.handler->artifacts.size(), 1u);
    EXPECT_EQ(w.lines(), (Lines{"session_start_requested state=idle", startedLine(w),
                                "session_start_requested state=" + recordingText(w), readyLine(w)}));

    SessionWorld s;
    s.gates.hold("startSelection");
    auto first = s.session->start();
    s.run(s.session->start());
    s.gates["startSelection"].open();
    s.run(std::move(first));
    EXPECT_TRUE(s.stored().isIdle());
    EXPECT_EQ(s.lines(), (Lines{"session_start_requested state=idle", "session_start_requested state=selecting",
                                "session_cancel_requested state=selecting", "session_selection_cancelled"}));
    EXPECT_TRUE(s.scratch->reserved.empty());
}

TEST(RecordingSessionOrchestrator, StartDoesNothingWhileStoppingOrHoldingAPendingRecording) {
    SessionWorld w;
    w.recordAndStop();
    w.run(w.session->start());
    EXPECT_NE(w.stored().pendingArtifact(), nullptr);
    EXPECT_EQ(w.lines().back(), "session_start_requested state=" + w.stored().diagnosticText());

    // Failed, but the recording is still held for the trim window.
    w.run(w.session->failPendingTrim("trim preview failed"));
    const auto calls = w.journal.calls.size();
    w.run(w.session->start());
    EXPECT_EQ(w.journal.calls.size(), calls);
    EXPECT_NE(w.stored().failure(), nullptr);

    SessionWorld s;
    s.run(s.session->start());
    s.gates.hold("showStoppingControls");
    auto stopping = s.session->stop();
    s.run(s.session->start());
    EXPECT_EQ(s.lines().back(), "session_start_requested state=stopping");
    s.gates["showStoppingControls"].open();
    s.run(std::move(stopping));
    EXPECT_EQ(s.scratch->reserved.size(), 1u);
}

TEST(RecordingSessionOrchestrator, StopAndCancelOutsideARecordingDoNothing) {
    SessionWorld w;
    w.run(w.session->stop());
    w.run(w.session->cancel());
    EXPECT_TRUE(w.stored().isIdle());
    EXPECT_TRUE(w.lines().empty());
    w.recordAndStop();
    const auto lines = w.lines();
    w.run(w.session->stop());
    w.run(w.session->cancel());
    EXPECT_NE(w.stored().pendingArtifact(), nullptr);
    EXPECT_EQ(w.lines(), lines);
    EXPECT_EQ(w.handler->artifacts.size(), 1u);
}

// MARK: stop and cancel during the start-up

struct StartupStep {
    const char* gate;
    bool recording;  // the stored state is `recording` while this step waits
};
const StartupStep kStartupSteps[] = {
    {"availableDisplays", false}, {"loadCapturePreference", false}, {"loadSettings", false},
    {"startSelection", false},    {"persistCapturePreference", false}, {"ensureAccess", false},
    {"reserveScratchDestination", false}, {"showRecordingControls", true}, {"startCapture", true},
};

TEST(RecordingSessionOrchestrator, ACancelAtEachAwaitOfTheStartUpEndsIdleAndLeavesNothing) {
    for (const auto& step : kStartupSteps) {
        SCOPED_TRACE(step.gate);
        SessionWorld w;
        w.gates.hold(step.gate);
        auto starting = w.session->start();
        ASSERT_TRUE(w.gates.isWaiting(step.gate));
        auto cancelling = w.session->cancel();
        if (w.gates.isWaiting(step.gate)) {
            EXPECT_EQ(w.session->state(), RecordingSessionState::stopping());
        }
        w.gates[step.gate].open();
        w.run(std::move(starting));
        w.run(std::move(cancelling));

        EXPECT_TRUE(w.stored().isIdle()) << w.stored().diagnosticText();
        EXPECT_TRUE(w.capture->active.empty());
        EXPECT_EQ(w.journal.count("hideOverlay"), 1u);
        const bool reserved = step.recording || std::string(step.gate) == "reserveScratchDestination";
        if (!reserved) {
            EXPECT_TRUE(w.scratch->reserved.empty());
            EXPECT_EQ(w.lines(), (Lines{"session_start_requested state=idle", "session_cancel_requested state=selecting",
                                        "session_selection_cancelled"}));
            continue;
        }
        EXPECT_EQ(w.scratch->deleted, (Lines{w.scratchPath()}));
        EXPECT_TRUE(w.scratch->files.empty());
        EXPECT_EQ(w.lines(), (Lines{"session_start_requested state=idle",
                                    "session_cancel_requested state=" + (step.recording ? recordingText(w) : "selecting"),
                                    "session_capture_cancelled state=idle"}));
        // The engine is asked to stop only once it was asked to start.
        EXPECT_EQ(w.journal.count("stopCapture"), std::string(step.gate) == "startCapture" ? 1u : 0u);
        EXPECT_TRUE(w.handler->artifacts.empty());
    }
}

TEST(RecordingSessionOrchestrator, AStopBeforeTheRecordingBeganCancelsAndOneAfterItYieldsAnArtifact) {
    for (const auto& step : kStartupSteps) {
        SCOPED_TRACE(step.gate);
        SessionWorld w;
        w.gates.hold(step.gate);
        auto starting = w.session->start();
        auto stopping = w.session->stop();
        if (w.gates.isWaiting(step.gate)) {
            EXPECT_EQ(w.session->state(), RecordingSessionState::stopping());
        }
        if (step.recording) {
            EXPECT_NE(w.stored().recordingInfo(), nullptr) << "the stored state is unchanged";
        }
        w.gates[step.gate].open();
        w.run(std::move(starting));
        w.run(std::move(stopping));

        if (!step.recording) {
            EXPECT_TRUE(w.stored().isIdle()) << w.stored().diagnosticText();
            EXPECT_TRUE(w.handler->artifacts.empty());
            EXPECT_EQ(w.lines().at(1), "session_cancel_requested state=selecting");
            continue;
        }
        ASSERT_NE(w.stored().pendingArtifact(), nullptr) << w.stored().diagnosticText();
        EXPECT_EQ(w.handler->artifacts.size(), 1u);
        EXPECT_EQ(w.lines(), (Lines{"session_start_requested state=idle", startedLine(w), readyLine(w)}));
    }
}

TEST(RecordingSessionOrchestrator, ACancelBeforeTheStopWaitsKeepsTheStopACancel) {
    SessionWorld w;
    w.gates.hold("startCapture");
    auto starting = w.session->start();
    auto cancelling = w.session->cancel();
    auto stopping = w.session->stop();
    w.gates["startCapture"].open();
    w.run(std::move(starting));
    w.run(std::move(cancelling));
    w.run(std::move(stopping));
    EXPECT_TRUE(w.stored().isIdle());
    EXPECT_TRUE(w.handler->artifacts.empty());
    EXPECT_TRUE(w.scratch->files.empty());
}

TEST(RecordingSessionOrchestrator, CancellingARunningRecordingDeletesItsTake) {
    SessionWorld w;
    w.run(w.session->start());
    w.run(w.session->cancel());
    EXPECT_TRUE(w.stored().isIdle());
    EXPECT_TRUE(w.scratch->files.empty());
    EXPECT_EQ(w.lines(), (Lines{"session_start_requested state=idle", startedLine(w),
                                "session_cancel_requested state=stopping", "session_capture_cancelled state=idle"}));

    // A take that cannot be deleted leaves the session failed, and the next start deletes it.
    SessionWorld f;
    f.run(f.session->start());
    f.scratch->deleteFailures = 1;
    f.run(f.session->cancel());
    EXPECT_EQ(f.stored(), RecordingSessionState::failed(AppError::outputFinalizationFailed("scratch delete failed")));
    EXPECT_EQ(f.lines().back(),
              "session_capture_cancelled state=failed(outputFinalizationFailed(\"scratch delete failed\"))");
    f.run(f.session->start());
    EXPECT_EQ(f.scratch->deleted, (Lines{f.scratchPath(0)}));
    EXPECT_NE(f.stored().recordingInfo(), nullptr);
}

TEST(RecordingSessionOrchestrator, CancellingTheOverlayStoresThePreferenceItReturned) {
    SessionWorld w;
    const CapturePreference left{CaptureMode::area, SelectedCaptureArea{DisplayID{"1"}, {0, 0, 50, 50}}, {}};
    w.selection->outcome = ScreenSelectionOutcome::cancelled(left);
    w.run(w.session->start());
    EXPECT_TRUE(w.stored().isIdle());
    EXPECT_EQ(w.settings->persisted, (std::vector{left}));
    EXPECT_EQ(w.lines(), (Lines{"session_start_requested state=idle", "session_selection_cancelled"}));
}

// MARK: failing start-up steps

struct FailingStep {
    const char* name;
    std::function<void(SessionWorld&)> arrange;
    AppError error;
    bool reserved;
};

TEST(RecordingSessionOrchestrator, EachFailingStartUpStepEndsFailedWithNothingHeld) {
    const FailingStep steps[] = {
        {"displays", [](SessionWorld& w) { w.displays->failure = AppError::displayDiscoveryFailed("no displays"); },
         AppError::displayDiscoveryFailed("no displays"), false},
        {"preference",
         [](SessionWorld& w) {
             w.settings->preferenceLoadFailure = AppError::settingsLoadFailed("capture preference payload decode failed");
         },
         AppError::settingsLoadFailed("capture preference payload decode failed"), false},
        {"settings",
         [](SessionWorld& w) { w.settings->loadFailure = AppError::settingsLoadFailed("settings payload decode failed"); },
         AppError::settingsLoadFailed("settings payload decode failed"), false},
        {"selection",
         [](SessionWorld& w) {
             w.selection->outcome = ScreenSelectionOutcome::failed(AppError::keyboardShortcutUnavailable("Escape is taken"));
         },
         AppError::keyboardShortcutUnavailable("Escape is taken"), false},
        {"storing the preference",
         [](SessionWorld& w) { w.settings->persistFailure = AppError::settingsPersistFailed("disk full"); },
         AppError::settingsPersistFailed("disk full"), false},
        {"access", [](SessionWorld& w) { w.capture->accessFailure = AppError::screenSelectionFailed("no access"); },
         AppError::screenSelectionFailed("no access"), false},
        {"reservation",
         [](SessionWorld& w) {
             w.scratch->reserveFailure = AppError::outputFinalizationFailed("scratch directory unavailable");
         },
         AppError::outputFinalizationFailed("scratch directory unavailable"), false},
        {"engine start",
         [](SessionWorld& w) {
             w.capture->startFailure = AppError::outputFinalizationFailed("Capture did not deliver video");
         },
         AppError::outputFinalizationFailed("Capture did not deliver video"), true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        SessionWorld w;
        step.arrange(w);
        w.run(w.session->start());
        EXPECT_EQ(w.stored(), RecordingSessionState::failed(step.error));
        EXPECT_EQ(w.lines(), (Lines{"session_start_requested state=idle",
                                    "session_start_failed state=failed(" + appErrorText(step.error) + ")"}));
        EXPECT_EQ(w.journal.count("hideOverlay"), 1u);
        EXPECT_EQ(w.scratch->reserved.size(), step.reserved ? 1u : 0u);
        EXPECT_TRUE(w.scratch->files.empty());
        if (step.reserved) {
            EXPECT_EQ(w.scratch->deleted, (Lines{w.scratchPath()}));
        }
        if (std::string(step.name) == "settings") {
            EXPECT_EQ(w.journal.count("startSelection"), 0u);
        }

        // Nothing is held: the next start records.
        w.capture->startFailure.reset();
        w.displays->failure.reset();
        w.settings->preferenceLoadFailure.reset();
        w.settings->loadFailure.reset();
        w.settings->persistFailure.reset();
        w.selection->outcome = ScreenSelectionOutcome::confirmed(
            RecordingSelection{CaptureTarget::fullMainDisplay(), CapturePreference{}});
        w.capture->accessFailure.reset();
        w.scratch->reserveFailure.reset();
        w.run(w.session->start());
        EXPECT_NE(w.stored().recordingInfo(), nullptr) << w.stored().diagnosticText();
    }
}

TEST(RecordingSessionOrchestrator, AFailureAfterACancelRequestEndsIdleUnlessTheCleanUpFails) {
    const AppError deleteFailed = AppError::outputFinalizationFailed("scratch delete failed");
    const struct {
        const char* name;
        int deleteFailures;
        RecordingSessionState expected;
    } cases[] = {
        {"clean-up succeeds", 0, RecordingSessionState::idle()},
        // The cancel asked for nothing but the clean-up: its failure is not hidden.
        {"scratch delete fails", 1, RecordingSessionState::failed(deleteFailed)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SessionWorld w;
        w.capture->startFailure = AppError::outputFinalizationFailed("Capture did not deliver video");
        w.scratch->deleteFailures = c.deleteFailures;
        w.gates.hold("startCapture");
        auto starting = w.session->start();
        auto cancelling = w.session->cancel();
        w.gates["startCapture"].open();
        w.run(std::move(starting));
        w.run(std::move(cancelling));
        EXPECT_EQ(w.stored(), c.expected) << w.stored().diagnosticText();
        EXPECT_EQ(w.lines().back(), "session_start_failed state=" + c.expected.diagnosticText());
    }
}

TEST(RecordingSessionOrchestrator, InputsAreLockedForTheRecordingAndAFailedBeginFailsTheStart) {
    SessionWorld w(true);
    w.run(w.session->start());
    EXPECT_TRUE(w.inputs->locked());
    w.run(w.session->stop());
    EXPECT_FALSE(w.inputs->locked());

    // A chosen microphone that is gone refuses the recording; the reserved file is deleted.
    SessionWorld f(true);
    f.chooseMissingMicrophone();
    f.run(f.session->start());
    const auto* failure = f.stored().failure();
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->kind(), AppError::Case::microphoneFailed);
    EXPECT_EQ(f.journal.count("startCapture"), 0u);
    EXPECT_EQ(f.scratch->deleted, (Lines{f.scratchPath()}));
    EXPECT_FALSE(f.inputs->locked());
    f.run(f.inputs->stop());
}

// MARK: tray

TEST(RecordingSessionOrchestrator, TrayStopPressedTwiceYieldsOnePendingRecording) {
    SessionWorld w;
    w.run(w.session->start());
    w.gates.hold("showStoppingControls");
    w.selection->pressStop();
    ASSERT_TRUE(w.gates.isWaiting("showStoppingControls"));
    w.selection->pressStop();  // the loop still listens until the first stop ends
    w.gates["showStoppingControls"].open();
    ASSERT_NE(w.stored().pendingArtifact(), nullptr);
    EXPECT_EQ(w.handler->artifacts.size(), 1u);
    EXPECT_EQ(w.journal.count("stopCapture"), 1u);
    EXPECT_EQ(w.selection->readers(), 0u);
}

TEST(RecordingSessionOrchestrator, AnActionAfterTheTrayLoopWasCancelledIsDropped) {
    SessionWorld w;
    w.run(w.session->start());
    w.selection->hideClosesTray = false;
    w.run(w.session->cancel());
    ASSERT_TRUE(w.stored().isIdle());
    w.selection->pressStop();
    EXPECT_TRUE(w.handler->artifacts.empty());
    EXPECT_TRUE(w.stored().isIdle());
}

// MARK: automation

TEST(RecordingSessionOrchestrator, AutomationStartsWithoutOverlayAndStopsWithoutAnnouncing) {
    SessionWorld w;
    bool prepared = false;
    auto info = w.run(w.session->startAutomation(CaptureTarget::application("org.example.app", DisplayID{"9"}),
                                                 [&]() -> QCoro::Task<void> {
                                                     prepared = true;
                                                     co_return;
                                                 }));
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(prepared);
    EXPECT_EQ(w.stored(), RecordingSessionState::recording(*info));
    EXPECT_EQ(w.journal.count("availableDisplays"), 0u) << "an application target is not compared with displays";
    EXPECT_EQ(w.journal.count("startSelection"), 0u);
    EXPECT_TRUE(w.settings->persisted.empty());

    // Busy.
    auto again = w.run(w.session->startAutomation(CaptureTarget::fullMainDisplay(), {}));
    EXPECT_FALSE(again.has_value());
    EXPECT_EQ(w.lines().back(), "session_automation_rejected_busy state=" + recordingText(w));

    EXPECT_FALSE(w.run(w.session->stopForAutomation(QUuid::createUuid())).has_value());
    EXPECT_NE(w.stored().recordingInfo(), nullptr);
    auto artifact = w.run(w.session->stopForAutomation(info->sessionID));
    ASSERT_TRUE(artifact.has_value());
    EXPECT_EQ(w.stored(), RecordingSessionState::pendingTrim(*artifact));
    EXPECT_TRUE(w.handler->artifacts.empty());
}

TEST(RecordingSessionOrchestrator, AutomationAreaOutsideEveryDisplayAndAFailingPreparationFailTheStart) {
    SessionWorld w;
    bool prepared = false;
    auto info = w.run(w.session->startAutomation(
        CaptureTarget::area(SelectedCaptureArea{DisplayID{"1"}, {1900, 0, 100, 100}}), [&]() -> QCoro::Task<void> {
            prepared = true;
            co_return;
        }));
    EXPECT_FALSE(info.has_value());
    EXPECT_FALSE(prepared);
    EXPECT_EQ(w.stored(), RecordingSessionState::failed(
                              AppError::screenSelectionFailed("Capture area must be inside an available display")));

    auto inside = w.run(w.session->startAutomation(
        CaptureTarget::area(SelectedCaptureArea{DisplayID{"1"}, {0, 0, 1920, 1080}}),
        []() -> QCoro::Task<void> { throw std::runtime_error("inputs not ready"); co_return; }));
    EXPECT_FALSE(inside.has_value());
    EXPECT_EQ(w.stored(), RecordingSessionState::failed(AppError::outputFinalizationFailed("inputs not ready")));
    EXPECT_TRUE(w.scratch->reserved.empty());
}

// MARK: pending trim

TEST(RecordingSessionOrchestrator, PublishingExportsIntoTheSaveFolderAsOftenAsAsked) {
    SessionWorld w;
    const auto artifact = w.recordAndStop();
    std::vector<RecordingExportProgress> progress;
    platform::CancelToken token;
    auto first = w.run(w.session->publishPendingTrim(
        wholeRecording(), preset("best"), [&](const RecordingExportProgress& p) { progress.push_back(p); }, token));
    auto second = w.run(w.session->publishPendingTrim(wholeRecording(), preset("low"), [](const auto&) {}));

    EXPECT_EQ(w.stored(), RecordingSessionState::pendingTrim(artifact));
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].fraction, 0.5);
    EXPECT_EQ(progress[0].remainingSeconds, 3.0);
    EXPECT_EQ(first.byteSize, 4096);
    EXPECT_EQ(first.file.createdAt, artifact.createdAt());
    EXPECT_NE(first.file.path, second.file.path);
    EXPECT_EQ(first.file.path.rfind("/home/recorder/Videos/Yux/Yux ", 0), 0u) << first.file.path;
    EXPECT_EQ(w.trim->destinations, (Lines{first.file.path, second.file.path}));
    const auto recent = w.recent->load();
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[0].createdAt, artifact.createdAt());
    EXPECT_EQ(recent[1].createdAt, artifact.createdAt());
    EXPECT_EQ(w.authority->open, 0);
    // The caller's token reaches the export unchanged.
    token.cancel();
    EXPECT_TRUE(w.trim->tokens.at(0).isCancelled());
    EXPECT_FALSE(w.trim->tokens.at(1).isCancelled());

    const auto lines = w.lines();
    const auto scratch = artifact.scratchPath();
    EXPECT_EQ(lines.at(3), "session_publish_requested scratch=" + scratch + " destination=" + first.file.path +
                               " start_seconds=0.0 end_seconds=12.0");
    EXPECT_EQ(lines.at(4), "session_publish_completed destination=" + first.file.path +
                               " completed_bytes=4096 selected_duration_seconds=12.0 preset_id=best");
    EXPECT_EQ(lines.size(), 7u);
}

TEST(RecordingSessionOrchestrator, AFailedPublishFailsTheSessionAndReopensWithTheSameRecording) {
    SessionWorld w;
    const auto artifact = w.recordAndStop();
    w.trim->exportFailure = std::make_exception_ptr(AppError::outputFinalizationFailed("Sections overlap"));
    testing::expectAppError([&] { w.run(w.session->publishPendingTrim(wholeRecording(), preset("high"), {})); },
                            AppError::outputFinalizationFailed("Sections overlap"));
    EXPECT_EQ(w.stored(), RecordingSessionState::failed(AppError::outputFinalizationFailed("Sections overlap")));

    EXPECT_EQ(w.lines().back(), "session_publish_failed scratch=" + artifact.scratchPath() +
                                    " error=outputFinalizationFailed(\"Sections overlap\")");
    EXPECT_EQ(w.authority->open, 0);

    w.run(w.session->reopenPendingTrimIfRecoverable());
    EXPECT_EQ(w.stored(), RecordingSessionState::pendingTrim(artifact));
    EXPECT_EQ(w.lines().back(), "session_pending_trim_reopened scratch=" + artifact.scratchPath());

    w.trim->exportFailure = std::make_exception_ptr(std::runtime_error("Broken pipe"));
    testing::expectAppError([&] { w.run(w.session->publishPendingTrim(wholeRecording(), preset("high"), {})); },
                            AppError::outputFinalizationFailed("publish failed"));
    EXPECT_EQ(w.lines().back(), "session_publish_failed scratch=" + artifact.scratchPath() +
                                    " error=outputFinalizationFailed(publish failed)");

    w.run(w.session->reopenPendingTrimIfRecoverable());
    w.trim->exportFailure = nullptr;
    w.run(w.session->publishPendingTrim(wholeRecording(), preset("high"), {}));
    EXPECT_EQ(w.stored(), RecordingSessionState::pendingTrim(artifact));

    // Reopening needs a failed session that still holds its recording.
    w.run(w.session->reopenPendingTrimIfRecoverable());
    w.run(w.session->discardRecording());
    w.run(w.session->reopenPendingTrimIfRecoverable());
    EXPECT_TRUE(w.stored().isIdle());
}

TEST(RecordingSessionOrchestrator, ACancelledPublishKeepsThePendingTrim) {
    SessionWorld w;
    const auto artifact = w.recordAndStop();
    w.gates.hold("exportTrimmedSegment");
    platform::CancelToken token;
    auto publishing = w.session->publishPendingTrim(wholeRecording(), preset("high"), {}, token);
    token.cancel();
    w.gates["exportTrimmedSegment"].open();
    EXPECT_THROW(w.run(std::move(publishing)), platform::CancelledError);
    EXPECT_EQ(w.stored(), RecordingSessionState::pendingTrim(artifact));
    EXPECT_EQ(w.lines().back(), "session_publish_cancelled scratch=" + artifact.scratchPath());
    EXPECT_EQ(w.authority->open, 0);
}

TEST(RecordingSessionOrchestrator, ASecondPublishOrADiscardDuringAnExportIsRefusedWithoutFailing) {
    SessionWorld w;
    const auto artifact = w.recordAndStop();
    w.gates.hold("exportTrimmedSegment");
    auto running = w.session->publishPendingTrim(wholeRecording(), preset("high"), {});
    testing::expectAppError([&] { w.run(w.session->publishPendingTrim(wholeRecording(), preset("high"), {})); },
                            AppError::outputFinalizationFailed("An export is already running"));
    EXPECT_EQ(w.stored(), RecordingSessionState::pendingTrim(artifact));
    w.run(w.session->discardRecording());
    EXPECT_EQ(w.stored(), RecordingSessionState::pendingTrim(artifact));
    EXPECT_EQ(w.lines().back(), "session_trim_discard_refused scratch=" + artifact.scratchPath() +
                                    " reason=export_running");
    EXPECT_TRUE(w.scratch->files.count(artifact.scratchPath()));

    w.gates["exportTrimmedSegment"].open();
    auto result = w.run(std::move(running));
    EXPECT_EQ(w.trim->destinations, (Lines{result.file.path}));
    w.run(w.session->discardRecording());
    EXPECT_TRUE(w.stored().isIdle());
}

TEST(RecordingSessionOrchestrator, PublishWithoutAPendingRecordingOrWithAnUnknownPresetIsRefused) {
    SessionWorld w;
    testing::expectAppError([&] { w.run(w.session->publishPendingTrim(wholeRecording(), preset("high"), {})); },
                            AppError::outputFinalizationFailed("pending recording unavailable"));
    EXPECT_TRUE(w.stored().isIdle());

    w.recordAndStop();
    RecordingPreset unknown = preset("high");
    unknown.id = RecordingPresetID("ultra");
    testing::expectAppError([&] { w.run(w.session->publishPendingTrim(wholeRecording(), unknown, {})); },
                            AppError::settingsLoadFailed("selected preset unavailable"));
    EXPECT_EQ(w.journal.count("startAccessing /home/recorder/Videos/Yux"), 0u);
}

TEST(RecordingSessionOrchestrator, DiscardDeletesTheTakeOnceAndAFailedDiscardCanBeRetried) {
    SessionWorld w;
    const auto artifact = w.recordAndStop();
    w.scratch->deleteFailures = 1;
    w.run(w.session->discardRecording());
    EXPECT_EQ(w.stored(), RecordingSessionState::failed(AppError::outputFinalizationFailed("scratch delete failed")));
    EXPECT_EQ(w.lines().back(), "session_trim_discard_failed scratch=" + artifact.scratchPath() +
                                    " error=outputFinalizationFailed(\"scratch delete failed\")");
    w.run(w.session->finishPendingTrim());
    EXPECT_TRUE(w.stored().isIdle());
    EXPECT_EQ(w.lines().back(), "session_trim_discarded scratch=" + artifact.scratchPath());
    EXPECT_TRUE(w.scratch->files.empty());

    const auto lines = w.lines();
    w.run(w.session->discardRecording());
    EXPECT_EQ(w.lines(), lines);
}

TEST(RecordingSessionOrchestrator, FailPendingTrimFailsOnlyAPendingTrimAndKeepsTheRecording) {
    SessionWorld w;
    w.run(w.session->failPendingTrim("trim preview failed"));
    EXPECT_TRUE(w.stored().isIdle());
    const auto artifact = w.recordAndStop();
    w.run(w.session->failPendingTrim("trim preview failed"));
    EXPECT_EQ(w.stored(), RecordingSessionState::failed(AppError::outputFinalizationFailed("trim preview failed")));
    EXPECT_EQ(w.lines().back(), "session_trim_failed message=trim preview failed");
    w.run(w.session->reopenPendingTrimIfRecoverable());
    EXPECT_EQ(w.stored(), RecordingSessionState::pendingTrim(artifact));
}

// The trim window: closes with the scripted outcome, after saving once when asked to.
class ScriptedTrimWindow : public TrimPreviewBoundary {
public:
    TrimPreviewOutcome outcome = TrimPreviewOutcome::saved();
    bool saves = false;
    std::vector<PendingRecordingArtifact> shown;
    QCoro::Task<TrimPreviewOutcome> presentTrimPreview(PendingRecordingArtifact artifact,
                                                       TrimPreviewSaveHandling* saveHandler) override {
        shown.push_back(artifact);
        if (saves) co_await saveHandler->saveTrimPreview(wholeRecording(), preset("high"), {});
        auto copy = outcome;
        co_return copy;
    }
};

TEST(RecordingSessionOrchestrator, TheTrimWindowDeletesTheTakeOnlyWhenSavedOrDiscarded) {
    SessionWorld w;
    ScriptedTrimWindow window;
    auto unavailable = w.run(w.session->presentPendingTrim(&window, nullptr));
    EXPECT_EQ(unavailable, TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("pending recording unavailable")));
    EXPECT_TRUE(window.shown.empty());

    const auto artifact = w.recordAndStop();
    window.outcome = TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("editor unavailable"));
    auto failed = w.run(w.session->presentPendingTrim(&window, nullptr));
    EXPECT_EQ(failed, window.outcome);
    EXPECT_EQ(w.stored(), RecordingSessionState::failed(AppError::outputFinalizationFailed("editor unavailable")));
    EXPECT_TRUE(w.scratch->files.count(artifact.scratchPath())) << "a window that failed must not lose the take";

    w.run(w.session->reopenPendingTrimIfRecoverable());
    window.outcome = TrimPreviewOutcome::saved();
    window.saves = true;
    testing::ShellSaveHandler shell(*w.session);
    auto saved = w.run(w.session->presentPendingTrim(&window, &shell));
    EXPECT_EQ(saved, TrimPreviewOutcome::saved());
    EXPECT_TRUE(w.stored().isIdle());
    EXPECT_TRUE(w.scratch->files.empty());
    EXPECT_EQ(w.trim->destinations.size(), 1u);
    EXPECT_EQ(window.shown, (std::vector{artifact, artifact}));

    SessionWorld d;
    d.recordAndStop();
    window.outcome = TrimPreviewOutcome::discarded();
    window.saves = false;
    EXPECT_EQ(d.run(d.session->presentPendingTrim(&window, nullptr)), TrimPreviewOutcome::discarded());
    EXPECT_TRUE(d.stored().isIdle());
    EXPECT_TRUE(d.scratch->files.empty());
    d.run(d.session->start());
    EXPECT_NE(d.stored().recordingInfo(), nullptr);
}

TEST(RecordingSessionOrchestrator, EveryTakeWaitingForTheUserIsNotedUntilTheSessionLetsItGo) {
    using Notes = std::vector<std::string>;
    const auto at = [](const SessionWorld& w) { return " at " + std::to_string(w.clock->date.unixSeconds()); };
    struct Case {
        const char* name;
        // Ends the take one way; gives the notes expected after "keep".
        std::function<Notes(SessionWorld&, ScriptedTrimWindow&)> end;
    };
    const Case cases[] = {
        {"the window closes discarded",
         [](SessionWorld& w, ScriptedTrimWindow& window) {
             window.outcome = TrimPreviewOutcome::discarded();
             w.run(w.session->presentPendingTrim(&window, nullptr));
             return Notes{"release " + w.scratchPath() + " announced=1"};
         }},
        {"the window closes saved",
         [](SessionWorld& w, ScriptedTrimWindow& window) {
             window.saves = true;
             testing::ShellSaveHandler shell(*w.session);
             w.run(w.session->presentPendingTrim(&window, &shell));
             return Notes{"release " + w.scratchPath() + " announced=1"};
         }},
        {"the window fails, then the take is discarded",
         [](SessionWorld& w, ScriptedTrimWindow& window) {
             window.outcome = TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("editor unavailable"));
             w.run(w.session->presentPendingTrim(&window, nullptr));
             EXPECT_EQ(w.keeper->notes.size(), 2u) << "a take whose window failed is still the user's";
             w.run(w.session->discardRecording());
             return Notes{"release " + w.scratchPath() + " announced=1"};
         }},
        {"a discard whose delete fails",
         [](SessionWorld& w, ScriptedTrimWindow&) {
             w.scratch->deleteFailures = 1;
             w.run(w.session->discardRecording());
             return Notes{};
         }},
    };
    for (const auto& c : cases) {
        SessionWorld w;
        ScriptedTrimWindow window;
        w.recordAndStop();
        // Noted as it starts, and again before the trim window is asked to open.
        const std::string note = "keep " + w.scratchPath() + at(w) + " announced=0";
        const Notes kept{note, note};
        EXPECT_EQ(w.keeper->notes, kept) << c.name;
        Notes expected = kept;
        for (auto& note : c.end(w, window)) expected.push_back(note);
        EXPECT_EQ(w.keeper->notes, expected) << c.name;
    }

    // An automated take is the user's too until the job lets it go.
    SessionWorld automated;
    auto info = automated.run(automated.session->startAutomation(CaptureTarget::fullMainDisplay(), {}));
    ASSERT_TRUE(info.has_value());
    ASSERT_TRUE(automated.run(automated.session->stopForAutomation(info->sessionID)).has_value());
    automated.run(automated.session->discardRecording());
    const std::string automatedNote = "keep " + info->scratchFilePath + at(automated) + " announced=0";
    EXPECT_EQ(automated.keeper->notes,
              (Notes{automatedNote, automatedNote, "release " + info->scratchFilePath + " announced=0"}));

    // A take kept by a failed stop stays noted when the next recording starts; the next one,
    // cancelled, goes with its note.
    SessionWorld failed;
    failed.run(failed.session->start());
    failed.capture->stopFailures.push_back(std::make_exception_ptr(AppError::outputFinalizationFailed("No space left on device")));
    failed.run(failed.session->stop());
    failed.run(failed.session->start());
    failed.run(failed.session->cancel());
    const std::string failedNote = "keep " + failed.scratchPath(0) + at(failed) + " announced=0";
    EXPECT_EQ(failed.keeper->notes, (Notes{failedNote, failedNote, "keep " + failed.scratchPath(1) + at(failed) + " announced=0",
                                           "release " + failed.scratchPath(1) + " announced=0"}));
}

TEST(RecordingSessionOrchestrator, ATakeIsNotedAsItStartsAndTheNoteGoesOnlyWithItsMovie) {
    struct Case {
        const char* name;
        std::function<void(SessionWorld&)> run;
        bool released;
    };
    const Case cases[] = {
        {"a cancelled recording", [](SessionWorld& w) {
             w.run(w.session->start());
             w.run(w.session->cancel());
         }, true},
        // Noted before the inputs begin: a microphone that is gone refuses the take after the note.
        {"a start whose inputs refuse", [](SessionWorld& w) {
             w.chooseMissingMicrophone();
             w.run(w.session->start());
             w.run(w.inputs->stop());
         }, true},
        {"a start whose capture fails", [](SessionWorld& w) {
             w.capture->startFailure = AppError::outputFinalizationFailed("Capture did not deliver video");
             w.run(w.session->start());
         }, true},
        {"a start whose movie cannot be deleted", [](SessionWorld& w) {
             w.capture->startFailure = AppError::outputFinalizationFailed("Capture did not deliver video");
             w.scratch->deleteFailures = 1;
             w.run(w.session->start());
         }, false},
        {"a kill while recording", [](SessionWorld& w) { w.run(w.session->start()); }, false},
    };
    for (const auto& c : cases) {
        SessionWorld w(true);
        c.run(w);
        std::vector<std::string> expected{"keep " + w.scratchPath() + " at " +
                                          std::to_string(w.clock->date.unixSeconds()) + " announced=0"};
        if (c.released) expected.push_back("release " + w.scratchPath() + " announced=0");
        EXPECT_EQ(w.keeper->notes, expected) << c.name;
    }
}

TEST(RecordingSessionOrchestrator, KeepingAPendingTakeLetsGoOfItWithoutDeletingIt) {
    SessionWorld w;
    auto info = w.run(w.session->startAutomation(CaptureTarget::fullMainDisplay(), {}));
    ASSERT_TRUE(info.has_value());
    const auto artifact = *w.run(w.session->stopForAutomation(info->sessionID));
    const std::string take = artifact.scratchPath();
    w.trim->exportFailure = std::make_exception_ptr(AppError::saveFolderUnusable("No space left on device"));
    EXPECT_THROW(w.run(w.session->publishPendingTrim(wholeRecording(), preset("high"), {})), AppError);
    w.keeper->notes.clear();

    EXPECT_FALSE(w.run(w.session->keepPendingRecording("/scratch/other.mov")));
    EXPECT_NE(w.stored().failure(), nullptr) << "another take is not let go";
    EXPECT_TRUE(w.run(w.session->keepPendingRecording(take)));
    EXPECT_TRUE(w.stored().isIdle());
    EXPECT_TRUE(w.scratch->files.count(take));
    EXPECT_TRUE(w.scratch->deleted.empty());
    EXPECT_EQ(w.keeper->notes, (Lines{"keep " + take + " at " + std::to_string(artifact.createdAt().unixSeconds()) +
                                      " announced=0"}));
    EXPECT_EQ(w.lines().back(), "session_pending_kept scratch=" + take);
    // The session is free for the next take; the kept one waits on disk for the next start.
    EXPECT_TRUE(w.run(w.session->startAutomation(CaptureTarget::fullMainDisplay(), {})).has_value());
    w.run(w.session->cancel());
    EXPECT_TRUE(w.scratch->files.count(take));

    // Refused while an export runs: the export goes on with its take.
    const auto running = w.recordAndStop();
    w.gates.hold("exportTrimmedSegment");
    w.trim->exportFailure = nullptr;
    auto exporting = w.session->publishPendingTrim(wholeRecording(), preset("high"), {});
    EXPECT_FALSE(w.run(w.session->keepPendingRecording(running.scratchPath())));
    EXPECT_EQ(w.lines().back(), "session_pending_keep_refused scratch=" + running.scratchPath() + " reason=export_running");
    EXPECT_EQ(w.stored(), RecordingSessionState::pendingTrim(running));
    w.gates["exportTrimmedSegment"].open();
    w.run(std::move(exporting));
}

// MARK: failed stops

TEST(RecordingSessionOrchestrator, AStopThatFailsOnAFullDiskKeepsTheTakeAndTheNextStartRecordsAgain) {
    SessionWorld w(true);
    w.run(w.session->start());
    const std::string take = w.scratchPath();
    const std::string full = "The disk is full. The recording stopped, and what was recorded up to then is kept.";
    w.capture->stopFailures.push_back(std::make_exception_ptr(AppError::outputFinalizationFailed(full)));
    w.run(w.session->stop());
    // One text that says where the take is.
    const auto failed = AppError::outputFinalizationFailed(
        "The disk is full. The recording stopped, and what was recorded up to then is kept in " + take + ".");
    EXPECT_EQ(w.stored(), RecordingSessionState::failed(failed));
    EXPECT_EQ(w.lines(), (Lines{"session_start_requested state=idle", startedLine(w),
                                "session_cleanup_failed session_id=" + w.sessionText() +
                                    " error=outputFinalizationFailed(\"" + full + "\")",
                                "session_stop_failed state=failed(" + appErrorText(failed) + ")"}));
    EXPECT_TRUE(w.handler->artifacts.empty());
    EXPECT_FALSE(w.inputs->locked()) << "the inputs are free as soon as the stop failed";

    w.run(w.session->start());
    EXPECT_EQ(w.lines().at(5), "session_failed_capture_released session_id=" + w.sessionText() + " kept=" + take);
    EXPECT_TRUE(w.scratch->files.count(take)) << "the take is still there";
    EXPECT_TRUE(w.scratch->deleted.empty());
    ASSERT_EQ(w.scratch->reserved.size(), 2u);
    ASSERT_NE(w.stored().recordingInfo(), nullptr);
    EXPECT_EQ(w.stored().recordingInfo()->scratchFilePath, w.scratchPath(1));
    EXPECT_TRUE(w.inputs->locked());
    w.run(w.session->stop());
    EXPECT_FALSE(w.inputs->locked());
}

TEST(RecordingSessionOrchestrator, AFailedStopIsReleasedByADiscardAndAStopThatFailsAgainKeepsItFailed) {
    SessionWorld w(true);
    w.run(w.session->start());
    const std::string take = w.scratchPath();
    w.capture->stopFailures.push_back(std::make_exception_ptr(std::runtime_error("Input/output error")));
    w.run(w.session->stop());
    EXPECT_EQ(w.stored(), RecordingSessionState::failed(AppError::outputFinalizationFailed(
                              "video stop failed. What was recorded up to then is kept in " + take + ".")));
    EXPECT_FALSE(w.inputs->locked());

    // The next start fails again: its text still says where the take is.
    w.capture->stopFailures.push_back(std::make_exception_ptr(AppError::outputFinalizationFailed("still stuck")));
    w.run(w.session->start());
    EXPECT_EQ(w.stored(), RecordingSessionState::failed(AppError::outputFinalizationFailed(
                              "still stuck. What was recorded up to then is kept in " + take + ".")));
    EXPECT_EQ(w.journal.count("availableDisplays"), 1u) << "no new start-up began";

    w.run(w.session->discardRecording());
    EXPECT_FALSE(w.inputs->locked());
    EXPECT_TRUE(w.scratch->files.count(take));
    w.run(w.session->start());
    EXPECT_NE(w.stored().recordingInfo(), nullptr);
}

TEST(RecordingSessionOrchestrator, AFailedStopNamesAndNotesTheTakeOnlyWhileItsMovieIsThere) {
    const struct {
        const char* name;
        bool movieStays;
        const char* failure;
        // The movie is still there when the next start releases the failed stop.
        bool movieAtNextStart;
    } cases[] = {
        {"its movie stays", true, "No space left on device", true},
        // The capture ended without a single picture and removed its movie.
        {"its movie is gone", false, "Capture produced no video", false},
        // Deleted by hand between the failed stop and the next start.
        {"its movie goes before the next start", true, "No space left on device", false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        SessionWorld w(true);
        w.run(w.session->start());
        const std::string take = w.scratchPath();
        const auto named = [&](const std::string& failure, bool there) {
            return there ? failure + ". What was recorded up to then is kept in " + take + "." : failure;
        };
        if (!row.movieStays) w.scratch->files.erase(take);
        w.capture->stopFailures.push_back(std::make_exception_ptr(AppError::outputFinalizationFailed(row.failure)));
        w.run(w.session->stop());
        EXPECT_EQ(w.stored(),
                  RecordingSessionState::failed(AppError::outputFinalizationFailed(named(row.failure, row.movieStays))));
        const std::string note = "keep " + take + " at " + std::to_string(w.clock->date.unixSeconds()) + " announced=0";
        EXPECT_EQ(w.keeper->notes, (Lines{note, row.movieStays ? note : "release " + take + " announced=0"}));

        // Failing again as the next start releases it.
        if (!row.movieAtNextStart) w.scratch->files.erase(take);
        w.capture->stopFailures.push_back(std::make_exception_ptr(AppError::outputFinalizationFailed("still stuck")));
        w.run(w.session->start());
        EXPECT_EQ(w.stored(),
                  RecordingSessionState::failed(AppError::outputFinalizationFailed(named("still stuck", row.movieAtNextStart))));
        EXPECT_EQ(w.keeper->notes.back(), (row.movieAtNextStart ? note : "release " + take + " announced=0"));
    }
}

TEST(RecordingSessionOrchestrator, AnAutomationStartAfterAFailedStopReleasesItAndKeepsTheTake) {
    SessionWorld w;
    auto first = w.run(w.session->startAutomation(CaptureTarget::fullMainDisplay(), {}));
    ASSERT_TRUE(first.has_value());
    w.capture->stopFailures.push_back(std::make_exception_ptr(AppError::outputFinalizationFailed("No space left on device")));
    EXPECT_FALSE(w.run(w.session->stopForAutomation(first->sessionID)).has_value());
    // Released in vain, it keeps the session busy: the start is refused as any busy one is.
    w.capture->stopFailures.push_back(std::make_exception_ptr(AppError::outputFinalizationFailed("still stuck")));
    EXPECT_FALSE(w.run(w.session->startAutomation(CaptureTarget::fullMainDisplay(), {})).has_value());
    EXPECT_EQ(w.lines().back(), "session_automation_rejected_busy state=" + w.stored().diagnosticText());
    EXPECT_NE(w.stored().failure(), nullptr);
    auto second = w.run(w.session->startAutomation(CaptureTarget::fullMainDisplay(), {}));
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(second->scratchFilePath, first->scratchFilePath);
    EXPECT_TRUE(w.scratch->files.count(first->scratchFilePath));
    EXPECT_TRUE(w.scratch->deleted.empty());
}

TEST(RecordingSessionOrchestrator, ARecordingThatCannotBeMeasuredFailsTheStopAndKeepsTheTake) {
    SessionWorld w(true);
    w.run(w.session->start());
    const std::string take = w.scratchPath();
    w.trim->durationFailure = AppError::outputFinalizationFailed("Invalid media duration");
    w.run(w.session->stop());
    EXPECT_EQ(w.stored(), RecordingSessionState::failed(AppError::outputFinalizationFailed(
                              "Invalid media duration. What was recorded up to then is kept in " + take + ".")));
    EXPECT_FALSE(w.inputs->locked()) << "the capture itself stopped";
    w.trim->durationFailure.reset();
    w.run(w.session->start());
    EXPECT_TRUE(w.scratch->files.count(take));
    EXPECT_NE(w.stored().recordingInfo(), nullptr);
}

TEST(RecordingSessionOrchestrator, AFailedStartWhoseCleanUpFailedIsDeletedByTheNextStart) {
    SessionWorld w;
    w.capture->startFailure = AppError::outputFinalizationFailed("Capture did not deliver video");
    w.scratch->deleteFailures = 1;
    w.run(w.session->start());
    EXPECT_EQ(w.stored(), RecordingSessionState::failed(AppError::outputFinalizationFailed("scratch delete failed")));
    w.capture->startFailure.reset();
    w.run(w.session->start());
    EXPECT_EQ(w.scratch->deleted, (Lines{w.scratchPath(0)}));
    EXPECT_NE(w.stored().recordingInfo(), nullptr);
}

// MARK: geometry

TEST(RecordingSessionOrchestrator, AnAreaIsInsideOnlyWhollyOnItsOwnDisplay) {
    const std::vector<DisplayBounds> displays{testing::kMainDisplay, DisplayBounds{DisplayID{"2"}, 1920, 0, 1280, 720}};
    auto area = [](const char* id, double x, double y, double w, double h) {
        return SelectedCaptureArea{DisplayID{id}, {x, y, w, h}};
    };
    EXPECT_TRUE(RecordingSessionOrchestrator::contains(area("1", 0, 0, 1920, 1080), displays));
    EXPECT_TRUE(RecordingSessionOrchestrator::contains(area("2", 1920, 0, 1280, 720), displays));
    EXPECT_FALSE(RecordingSessionOrchestrator::contains(area("1", 0, 0, 1920, 1080), {}));
    EXPECT_FALSE(RecordingSessionOrchestrator::contains(area("3", 0, 0, 10, 10), displays));
    EXPECT_FALSE(RecordingSessionOrchestrator::contains(area("1", 0, 0, 0, 10), displays));
    EXPECT_FALSE(RecordingSessionOrchestrator::contains(area("1", 0, 0, 10, 0), displays));
    EXPECT_FALSE(RecordingSessionOrchestrator::contains(area("1", 0, 0, 1920.001, 1080), displays));
    EXPECT_FALSE(RecordingSessionOrchestrator::contains(area("1", -0.5, 0, 10, 10), displays));
    EXPECT_FALSE(RecordingSessionOrchestrator::contains(area("2", 1900, 0, 100, 100), displays));
}

TEST(RecordingSessionOrchestrator, ARememberedAreaOffADisplayIsNotOffered) {
    SessionWorld w;
    w.settings->preference = CapturePreference{CaptureMode::area, SelectedCaptureArea{DisplayID{"7"}, {0, 0, 10, 10}}, {}};
    w.run(w.session->start());
    EXPECT_EQ(w.selection->offered, (std::vector{CapturePreference{CaptureMode::area, std::nullopt, std::nullopt}}));
}

}  // namespace
}  // namespace yux

namespace yux {
namespace {

TEST(RecordingSessionOrchestrator, ALeftOverTakeIsHeldForTheTrimWindowOnlyWhileNothingElseRuns) {
    testing::SessionWorld earlier;
    const auto artifact = earlier.recordAndStop();
    // Refused while a take is pending already.
    EXPECT_FALSE(earlier.run(earlier.session->adoptPendingRecording(artifact.scratchPath(), artifact.createdAt())));

    testing::SessionWorld w;
    w.scratch->files = earlier.scratch->files;  // the next run finds the movie on disk
    EXPECT_TRUE(w.run(w.session->adoptPendingRecording(artifact.scratchPath(), artifact.createdAt())));
    ASSERT_NE(w.stored().pendingArtifact(), nullptr);
    EXPECT_EQ(w.stored().pendingArtifact()->scratchPath(), artifact.scratchPath());
    EXPECT_EQ(w.stored().pendingArtifact()->durationSeconds(), artifact.durationSeconds());
    EXPECT_TRUE(w.handler->artifacts.empty()) << "offered by the caller, not announced";
    EXPECT_EQ(w.lines().back(), "session_pending_trim_adopted scratch=" + artifact.scratchPath());
    EXPECT_EQ(w.keeper->notes, (std::vector<std::string>{"keep " + artifact.scratchPath() + " at " +
                                                         std::to_string(artifact.createdAt().unixSeconds()) +
                                                         " announced=0"}));
    EXPECT_FALSE(w.run(w.session->adoptPendingRecording(artifact.scratchPath(), artifact.createdAt())));

    // A start is refused while the adopted take waits, as after a stop.
    w.run(w.session->start());
    EXPECT_NE(w.stored().pendingArtifact(), nullptr);
}

}  // namespace
}  // namespace yux

#include "shell/menu_bar_coordinator.hpp"

#include <gtest/gtest.h>

#include "platform/async/wait_for.hpp"
#include "support/pending_answer.hpp"

namespace yux {
namespace {

using testing::PendingAnswer;

template <class T>
T run(QCoro::Task<T> task) {
    return platform::waitForTask(task);
}

PendingRecordingArtifact artifactAt(std::string scratch) {
    return PendingRecordingArtifact(std::move(scratch), Date{800000000}, 2.0, 1000,
                                    RecordingCaptureDiagnostics{RecordingCaptureConfig::fullFidelity(), 0.0},
                                    RecordingPresetCatalog::builtIn(), RecordingPresetCatalog::highID);
}

struct FakeSession : RecordingSessionBoundary {
    RecordingSessionState current;
    int starts = 0, stops = 0, cancels = 0, reopens = 0;
    std::vector<std::string> failMessages;
    std::optional<TrimPreviewOutcome> outcome = TrimPreviewOutcome::saved();
    PendingAnswer* holdPresent = nullptr;
    std::optional<AppError> publishFailure;
    TrimPreviewSaveHandling* lastSaveHandler = nullptr;

    RecordingSessionState state() const override { return current; }
    QCoro::Task<void> start() override {
        ++starts;
        co_return;
    }
    QCoro::Task<void> cancel() override {
        ++cancels;
        co_return;
    }
    QCoro::Task<void> stop() override {
        ++stops;
        co_return;
    }
    QCoro::Task<RecordingExportResult> publishPendingTrim(TrimSelection, RecordingPreset, ProgressHandler,
                                                          platform::CancelToken) override {
        if (publishFailure) throw *publishFailure;
        co_return RecordingExportResult{{"/saved/a.mov", Date{1}}, 10};
    }
    QCoro::Task<TrimPreviewOutcome> presentPendingTrim(TrimPreviewBoundary*, TrimPreviewSaveHandling* handler) override {
        lastSaveHandler = handler;
        if (holdPresent) co_await holdPresent->operation()();
        current = RecordingSessionState::idle();
        co_return *outcome;
    }
    QCoro::Task<void> finishPendingTrim() override { co_return; }
    QCoro::Task<void> reopenPendingTrimIfRecoverable() override {
        ++reopens;
        co_return;
    }
    QCoro::Task<void> discardRecording() override { co_return; }
    QCoro::Task<void> failPendingTrim(std::string message) override {
        failMessages.push_back(message);
        co_return;
    }
};

struct FakeSettings : SettingsBoundary {
    std::optional<AppSettings> stored;
    std::exception_ptr loadFailure;
    std::optional<AppError> persistFailure;
    PendingAnswer* holdPersist = nullptr;
    std::vector<AppSettings> persisted;

    QCoro::Task<AppSettings> loadSettings() override {
        if (loadFailure) std::rethrow_exception(loadFailure);
        if (!stored) throw AppError::settingsMissing();
        co_return *stored;
    }
    QCoro::Task<void> persistSettings(AppSettings settings) override {
        if (holdPersist) co_await holdPersist->operation()();
        if (persistFailure) throw *persistFailure;
        persisted.push_back(settings);
        stored = settings;
    }
    QCoro::Task<CapturePreference> loadCapturePreference() override { co_return CapturePreference{}; }
    QCoro::Task<void> persistCapturePreference(CapturePreference) override { co_return; }
};

struct FakeLibrary : OutputLibraryBoundary {
    int reloads = 0;
    std::vector<RecordingFile> files;
    QCoro::Task<OutputReservation> reserveDestination(QUuid, OutputFormat, std::string) override {
        throw AppError::saveFolderUnusable("unused");
    }
    QCoro::Task<RecordingFile> markCompleted(std::string, Date) override { throw AppError::saveFolderUnusable("unused"); }
    QCoro::Task<std::vector<RecordingFile>> recentRecordings(int limit) override {
        ++reloads;
        EXPECT_EQ(limit, 5);
        co_return files;
    }
};

struct FakeAuthority : SaveFolderAuthorityBoundary {
    SaveFolderSelectionOutcome answer = SaveFolderSelectionOutcome::selected({"/chosen", {7}});
    std::vector<std::optional<SaveFolderBookmark>> asked;
    QCoro::Task<SaveFolderSelectionOutcome> chooseSaveFolder(std::optional<SaveFolderBookmark> current) override {
        asked.push_back(current);
        co_return answer;
    }
    QCoro::Task<SaveFolderAccessSession> startAccessing(SaveFolderBookmark) override { co_return {}; }
    QCoro::Task<void> stopAccessing(SaveFolderAccessSession) override { co_return; }
};

struct FakeLog : DebugLogBoundary {
    std::vector<std::string> lines;
    QCoro::Task<void> append(std::string message) override {
        lines.push_back(message);
        co_return;
    }
};

struct NoTrimWindow : TrimPreviewBoundary {
    QCoro::Task<TrimPreviewOutcome> presentTrimPreview(PendingRecordingArtifact, TrimPreviewSaveHandling*) override {
        ADD_FAILURE() << "the coordinator opens the window only through the session";
        co_return TrimPreviewOutcome::discarded();
    }
};

const RecordingShortcut kOther(RecordingShortcut::defaultShortcut().keyCode(), RecordingShortcut::control);

struct Fixture : ::testing::Test {
    FakeSession session;
    FakeSettings settings;
    FakeLibrary library;
    FakeAuthority authority;
    FakeLog log;
    NoTrimWindow window;
    std::unique_ptr<GlobalHotKey> hotKey = GlobalHotKey::create_null();
    std::unique_ptr<MenuBarCoordinator> coordinator;

    void SetUp() override {
        settings.stored = AppSettings::initial({"/videos", {1}});
        build();
    }
    void build() {
        coordinator = std::make_unique<MenuBarCoordinator>(session, *hotKey, &window, library, settings, authority, log);
    }
    void dispatch(MenuIntent intent) { run(coordinator->dispatch(std::move(intent))); }
};

using MenuBarCoordinatorTest = Fixture;

TEST_F(MenuBarCoordinatorTest, SettingsSaveAndFolderChoiceNeverOverlap) {
    run(coordinator->startKeyboardShortcuts());
    PendingAnswer persist;
    settings.holdPersist = &persist;
    AppSettings first = *settings.stored;
    first.recordingShortcut = kOther;

    auto running = coordinator->dispatch(MenuIntent::saveSettings(first));
    ASSERT_TRUE(persist.pending());
    // A second save and a folder choice arriving meanwhile are dropped without an error.
    AppSettings second = first;
    second.saveFolder.path = "/elsewhere";
    dispatch(MenuIntent::saveSettings(second));
    dispatch(MenuIntent::chooseSaveFolder());
    EXPECT_TRUE(authority.asked.empty());
    EXPECT_FALSE(coordinator->blockingError());

    persist.answer(true);
    run(std::move(running));
    ASSERT_EQ(settings.persisted.size(), 1u);
    EXPECT_EQ(settings.persisted[0], first);
    EXPECT_EQ(hotKey->registeredShortcut(), kOther);
    EXPECT_FALSE(hotKey->hasPendingReplacement());

    // And the other way round: a save during a folder choice's write is dropped.
    auto choosing = coordinator->dispatch(MenuIntent::chooseSaveFolder());
    ASSERT_TRUE(persist.pending());
    dispatch(MenuIntent::saveSettings(second));
    persist.answer(true);
    run(std::move(choosing));
    ASSERT_EQ(settings.persisted.size(), 2u);
    EXPECT_EQ(settings.persisted[1].saveFolderPath(), "/chosen");
    EXPECT_EQ(settings.persisted[1].recordingShortcut, kOther);
}

TEST_F(MenuBarCoordinatorTest, FailedReplacementsKeepTheOldShortcutAndPersistNothing) {
    run(coordinator->startKeyboardShortcuts());
    AppSettings changed = *settings.stored;
    changed.recordingShortcut = kOther;

    // While the recorder listens the hot key is suspended: the save is refused.
    EXPECT_TRUE(run(coordinator->setShortcutRecording(true)));
    dispatch(MenuIntent::saveSettings(changed));
    EXPECT_EQ(coordinator->blockingError(),
              AppError::keyboardShortcutUnavailable("Finish choosing the shortcut first."));
    EXPECT_TRUE(settings.persisted.empty());
    EXPECT_TRUE(run(coordinator->setShortcutRecording(false)));
    EXPECT_FALSE(coordinator->blockingError());

    // A write that fails releases the candidate; the old shortcut stays registered.
    settings.persistFailure = AppError::settingsPersistFailed("disk full");
    dispatch(MenuIntent::saveSettings(changed));
    EXPECT_EQ(coordinator->blockingError(), AppError::settingsPersistFailed("disk full"));
    EXPECT_EQ(hotKey->registeredShortcut(), RecordingShortcut::defaultShortcut());
    EXPECT_FALSE(hotKey->hasPendingReplacement());

    // Suspending during a pending replacement fails with the hot key's own error.
    settings.persistFailure.reset();
    PendingAnswer persist;
    settings.holdPersist = &persist;
    auto saving = coordinator->dispatch(MenuIntent::saveSettings(changed));
    EXPECT_FALSE(run(coordinator->setShortcutRecording(true)));
    EXPECT_EQ(coordinator->blockingError(), AppError::keyboardShortcutUnavailable("Shortcut settings are being saved."));
    persist.answer(true);
    run(std::move(saving));
    EXPECT_EQ(hotKey->registeredShortcut(), kOther);
}

TEST_F(MenuBarCoordinatorTest, FolderChoiceRetriesAStartUpRegistrationThatFailed) {
    settings.loadFailure = std::make_exception_ptr(std::runtime_error("unreadable"));
    run(coordinator->startKeyboardShortcuts());
    EXPECT_EQ(coordinator->blockingError(), AppError::settingsLoadFailed("Unable to register shortcut."));
    EXPECT_FALSE(hotKey->registeredShortcut());
    // Later calls do not register again.
    settings.loadFailure = nullptr;
    run(coordinator->startKeyboardShortcuts());
    EXPECT_FALSE(hotKey->registeredShortcut());

    // Unreadable settings let the chooser open empty and store the default shortcut.
    settings.loadFailure = std::make_exception_ptr(AppError::settingsLoadFailed("bad json"));
    dispatch(MenuIntent::chooseSaveFolder());
    ASSERT_EQ(authority.asked.size(), 1u);
    EXPECT_FALSE(authority.asked[0].has_value());
    EXPECT_EQ(settings.persisted.at(0).recordingShortcut, RecordingShortcut::defaultShortcut());
    EXPECT_FALSE(coordinator->blockingError());
    EXPECT_EQ(hotKey->registeredShortcut(), RecordingShortcut::defaultShortcut());

    // The registered shortcut now starts the session, and the recent list follows.
    hotKey->simulate_pressed();
    QCoreApplication::processEvents();
    EXPECT_EQ(session.starts, 1);
    EXPECT_EQ(library.reloads, 1);
}

TEST_F(MenuBarCoordinatorTest, RetryThatFailsAgainShowsItsError) {
    hotKey = GlobalHotKey::create_null({RecordingShortcut::defaultShortcut()});
    build();
    run(coordinator->startKeyboardShortcuts());
    ASSERT_TRUE(coordinator->blockingError());
    dispatch(MenuIntent::chooseSaveFolder());
    ASSERT_TRUE(coordinator->blockingError());
    EXPECT_EQ(coordinator->blockingError()->kind(), AppError::Case::keyboardShortcutUnavailable);

    // A cancelled choice writes nothing and keeps the error.
    authority.answer = SaveFolderSelectionOutcome::cancelled();
    const auto before = settings.persisted.size();
    dispatch(MenuIntent::chooseSaveFolder());
    EXPECT_EQ(settings.persisted.size(), before);
    EXPECT_TRUE(coordinator->blockingError());
}

TEST_F(MenuBarCoordinatorTest, TrimOutcomes) {
    session.current = RecordingSessionState::pendingTrim(artifactAt("/scratch/a.mov"));
    run(coordinator->handlePendingTrim(artifactAt("/ignored.mov")));
    EXPECT_EQ(session.lastSaveHandler, coordinator.get());
    EXPECT_EQ(library.reloads, 2);  // for the saved outcome and after the event
    EXPECT_EQ(log.lines, std::vector<std::string>{"trim_preview_present_requested scratch=/scratch/a.mov"});

    session.current = RecordingSessionState::pendingTrim(artifactAt("/scratch/b.mov"));
    session.outcome = TrimPreviewOutcome::discarded();
    log.lines.clear();
    dispatch(MenuIntent::checkPendingTrim());
    EXPECT_EQ(library.reloads, 2);
    EXPECT_EQ(log.lines.back(), "trim_preview_outcome discarded scratch=/scratch/b.mov");

    session.current = RecordingSessionState::pendingTrim(artifactAt("/scratch/c.mov"));
    session.outcome = TrimPreviewOutcome::failed(AppError::saveFolderUnusable("say \"no\"\n"));
    dispatch(MenuIntent::checkPendingTrim());
    EXPECT_EQ(log.lines.back(),
              "trim_preview_outcome failed scratch=/scratch/c.mov error=saveFolderUnusable(\"say \\\"no\\\"\\n\")");
    EXPECT_EQ(coordinator->blockingError(), AppError::saveFolderUnusable("say \"no\"\n"));
    EXPECT_EQ(session.failMessages, std::vector<std::string>{"trim preview failed"});

    // Not pending after the reopen: nothing logged, no window.
    log.lines.clear();
    dispatch(MenuIntent::checkPendingTrim());
    EXPECT_TRUE(log.lines.empty());
    EXPECT_FALSE(coordinator->blockingError());  // the intent clears it
}

TEST_F(MenuBarCoordinatorTest, WithoutATrimWindowTheTakeStaysPending) {
    coordinator = std::make_unique<MenuBarCoordinator>(session, *hotKey, nullptr, library, settings, authority, log);
    session.current = RecordingSessionState::pendingTrim(artifactAt("/scratch/a.mov"));
    run(coordinator->handlePendingTrim(artifactAt("/scratch/a.mov")));
    EXPECT_EQ(session.lastSaveHandler, nullptr);
    EXPECT_TRUE(session.current.pendingArtifact());
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(MenuBarCoordinatorTest, OneTrimWindowAtATime) {
    PendingAnswer window;
    session.holdPresent = &window;
    session.current = RecordingSessionState::pendingTrim(artifactAt("/scratch/a.mov"));
    auto first = coordinator->handlePendingTrim(artifactAt("/scratch/a.mov"));
    ASSERT_TRUE(window.pending());
    run(coordinator->handlePendingTrim(artifactAt("/scratch/a.mov")));
    EXPECT_EQ(window.calls, 1);
    EXPECT_EQ(library.reloads, 1);
    // Snapshots and intents are served while the window is open.
    EXPECT_TRUE(run(coordinator->currentPanelState()).recordingState.pendingArtifact());
    window.answer(true);
    run(std::move(first));
    EXPECT_EQ(library.reloads, 3);
}

TEST_F(MenuBarCoordinatorTest, SaveFromTheTrimWindow) {
    session.publishFailure = AppError::saveFolderUnusable("gone");
    EXPECT_THROW(run(coordinator->saveTrimPreview(TrimSelection({}, {}, {}), RecordingPreset{}, {})), AppError);
    EXPECT_EQ(coordinator->blockingError(), AppError::saveFolderUnusable("gone"));
    EXPECT_EQ(log.lines.back(), "trim_preview_outcome save start_seconds=0.0 end_seconds=0.0");

    session.publishFailure.reset();
    const auto result = run(coordinator->saveTrimPreview(TrimSelection(1.5, 12), RecordingPreset{}, {}));
    EXPECT_EQ(result.file.path, "/saved/a.mov");
    EXPECT_FALSE(coordinator->blockingError());
    EXPECT_EQ(log.lines.back(), "trim_preview_outcome save start_seconds=1.5 end_seconds=12.0");
    EXPECT_EQ(session.reopens, 2);  // each export makes sure the recording is open
}

TEST_F(MenuBarCoordinatorTest, SessionIntentsClearTheErrorAndReload) {
    library.files = {{"/videos/a.mov", Date{3}}};
    settings.persistFailure = AppError::settingsPersistFailed("x");
    dispatch(MenuIntent::saveSettings(*settings.stored));
    ASSERT_TRUE(coordinator->blockingError());
    EXPECT_TRUE(run(coordinator->currentPanelState()).recent.empty());
    dispatch(MenuIntent::stopRecording());
    dispatch(MenuIntent::cancelRecording());
    EXPECT_EQ(session.stops, 1);
    EXPECT_EQ(session.cancels, 1);
    EXPECT_FALSE(coordinator->blockingError());
    const auto snapshot = run(coordinator->currentPanelState());
    EXPECT_EQ(snapshot.recent, library.files);
    EXPECT_EQ(snapshot, run(coordinator->currentPanelState()));
}

}  // namespace
}  // namespace yux

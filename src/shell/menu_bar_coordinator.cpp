#include "shell/menu_bar_coordinator.hpp"

#include "model/log_text.hpp"

namespace yux {

MenuBarCoordinator::MenuBarCoordinator(RecordingSessionBoundary& recordingSession, GlobalHotKey& hotKey,
                                       TrimPreviewBoundary* trimPreview, OutputLibraryBoundary& outputLibrary,
                                       SettingsBoundary& settingsBoundary,
                                       SaveFolderAuthorityBoundary& saveFolderAuthority, DebugLogBoundary& debugLog,
                                       UserFacingErrorMessagePolicy errorMessages)
    : recordingSession_(recordingSession),
      hotKey_(hotKey),
      trimPreview_(trimPreview),
      outputLibrary_(outputLibrary),
      settingsBoundary_(settingsBoundary),
      saveFolderAuthority_(saveFolderAuthority),
      debugLog_(debugLog),
      errorMessages_(errorMessages),
      self_(std::make_shared<MenuBarCoordinator*>(this)) {}

MenuBarCoordinator::~MenuBarCoordinator() { *self_ = nullptr; }

void MenuBarCoordinator::captureError(std::exception_ptr error, AppError fallback) {
    try {
        std::rethrow_exception(error);
    } catch (const AppError& appError) {
        blockingError_ = appError;
    } catch (...) {
        blockingError_ = std::move(fallback);
    }
}

template <typename Call>
QCoro::Task<void> MenuBarCoordinator::runSession(Call call) {
    blockingError_.reset();
    co_await call();
    co_await refreshRecent();
}

QCoro::Task<void> MenuBarCoordinator::dispatch(MenuIntent intent) {
    auto& session = recordingSession_;
    if (auto* save = std::get_if<MenuIntent::SaveSettings>(&intent.value)) {
        co_await saveSettings(save->settings);
    } else if (intent.is<MenuIntent::StartRecording>()) {
        co_await runSession([&] { return session.start(); });
    } else if (intent.is<MenuIntent::StopRecording>()) {
        co_await runSession([&] { return session.stop(); });
    } else if (intent.is<MenuIntent::CancelRecording>()) {
        co_await runSession([&] { return session.cancel(); });
    } else if (intent.is<MenuIntent::CheckPendingTrim>()) {
        blockingError_.reset();
        co_await presentTrimIfNeeded();
    } else if (intent.is<MenuIntent::RefreshRecent>()) {
        co_await refreshRecent();
    } else if (intent.is<MenuIntent::ChooseSaveFolder>()) {
        co_await chooseSaveFolder();
    }
}

QCoro::Task<void> MenuBarCoordinator::refreshRecent() {
    try {
        recent_ = co_await outputLibrary_.recentRecordings(kRecentLimit);
    } catch (...) {
        captureError(std::current_exception(), AppError::recentRecordingLoadFailed("unable to load recent recordings"));
    }
}

QCoro::Task<void> MenuBarCoordinator::saveSettings(AppSettings settings) {
    co_await startKeyboardShortcuts();
    if (savingSettings_) co_return;
    savingSettings_ = true;
    blockingError_.reset();
    std::exception_ptr failure;
    try {
        hotKey_.prepareReplacement(settings.recordingShortcut);
        co_await settingsBoundary_.persistSettings(settings);
        hotKey_.commitReplacement();
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        hotKey_.cancelReplacement();
        captureError(failure, AppError::settingsPersistFailed("Unable to save settings."));
    }
    savingSettings_ = false;
}

QCoro::Task<void> MenuBarCoordinator::chooseSaveFolder() {
    if (savingSettings_) co_return;
    savingSettings_ = true;
    std::optional<AppSettings> current;
    std::optional<AppError> loadFailure;
    try {
        current = co_await settingsBoundary_.loadSettings();
    } catch (const AppError& error) {
        // Without readable settings the chooser still opens, with no folder preset.
        if (error.kind() != AppError::Case::settingsLoadFailed && error.kind() != AppError::Case::settingsMissing) {
            loadFailure = error;
        }
    } catch (...) {
        loadFailure = AppError::settingsLoadFailed("unable to load settings");
    }
    if (loadFailure) {
        blockingError_ = std::move(loadFailure);
        savingSettings_ = false;
        co_return;
    }

    std::exception_ptr failure;
    std::optional<AppSettings> chosen;
    try {
        std::optional<SaveFolderBookmark> currentFolder;
        if (current) currentFolder = current->saveFolder;
        const SaveFolderSelectionOutcome outcome = co_await saveFolderAuthority_.chooseSaveFolder(currentFolder);
        if (!outcome.isCancelled()) {
            AppSettings next{*outcome.selectedFolder,
                             current ? current->recordingShortcut : RecordingShortcut::defaultShortcut()};
            co_await settingsBoundary_.persistSettings(next);
            chosen = std::move(next);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        captureError(failure, AppError::saveFolderUnusable("save folder selection failed"));
    } else if (chosen) {
        blockingError_.reset();
        // Clearing the error would otherwise hide a start-up registration that failed: try
        // once more, so the panel never shows a shortcut that does nothing.
        if (!hotKey_.registeredShortcut() && !hotKey_.isSuspended()) {
            try {
                registerShortcut(chosen->recordingShortcut);
            } catch (...) {
                captureError(std::current_exception(), AppError::settingsLoadFailed("Unable to register shortcut."));
            }
        }
    }
    savingSettings_ = false;
}

QCoro::Task<void> MenuBarCoordinator::startKeyboardShortcuts() {
    if (!keyboardStartupTask_) keyboardStartupTask_.emplace(registerKeyboardShortcut());
    co_await keyboardStartupTask_->get();
}

GlobalHotKey::Trigger MenuBarCoordinator::makeTrigger() {
    std::weak_ptr<MenuBarCoordinator*> weak = self_;
    return [weak] {
        auto self = weak.lock();
        if (!self || !*self) return;
        MenuBarCoordinator* coordinator = *self;
        // Every press is its own start: the session's toggle decides what it means.
        coordinator->pressTasks_.start(coordinator->runSession([coordinator] { return coordinator->recordingSession_.start(); }));
    };
}

void MenuBarCoordinator::registerShortcut(const RecordingShortcut& shortcut) { hotKey_.start(shortcut, makeTrigger()); }

QCoro::Task<bool> MenuBarCoordinator::registerKeyboardShortcut() {
    try {
        const AppSettings settings = co_await settingsBoundary_.loadSettings();
        registerShortcut(settings.recordingShortcut);
    } catch (...) {
        captureError(std::current_exception(), AppError::settingsLoadFailed("Unable to register shortcut."));
    }
    co_return true;
}

QCoro::Task<bool> MenuBarCoordinator::setShortcutRecording(bool recording) {
    co_await startKeyboardShortcuts();
    try {
        if (recording) {
            hotKey_.suspend();
        } else {
            hotKey_.resume();
        }
    } catch (...) {
        captureError(std::current_exception(),
                     AppError::settingsPersistFailed("Unable to update keyboard registration."));
        co_return false;
    }
    blockingError_.reset();
    co_return true;
}

QCoro::Task<MenuBarPanelState> MenuBarCoordinator::currentPanelState() {
    RecordingSessionState sessionState = recordingSession_.state();
    std::variant<AppSettings, std::optional<AppError>> loaded = std::optional<AppError>();
    try {
        loaded = co_await settingsBoundary_.loadSettings();
    } catch (const AppError& error) {
        loaded = std::optional<AppError>(error);
    } catch (...) {
    }
    co_return derivePanelState(std::move(sessionState), std::move(loaded), blockingError_, recent_);
}

QCoro::Task<void> MenuBarCoordinator::handlePendingTrim(PendingRecordingArtifact) {
    co_await presentTrimIfNeeded();
    co_await refreshRecent();
}

QCoro::Task<void> MenuBarCoordinator::presentTrimIfNeeded() {
    if (isTrimPreviewActive_ || !trimPreview_) co_return;
    co_await recordingSession_.reopenPendingTrimIfRecoverable();
    const RecordingSessionState state = recordingSession_.state();
    const PendingRecordingArtifact* artifact = state.pendingArtifact();
    if (!artifact) co_return;
    isTrimPreviewActive_ = true;
    const std::string scratch = artifact->scratchPath();
    co_await debugLog_.append("trim_preview_present_requested scratch=" + scratch);
    std::optional<TrimPreviewOutcome> presented;
    try {
        presented = co_await recordingSession_.presentPendingTrim(trimPreview_, this);
    } catch (...) {
        // A window that could not open must not block every later presentation.
        isTrimPreviewActive_ = false;
        throw;
    }
    isTrimPreviewActive_ = false;
    const TrimPreviewOutcome& outcome = *presented;
    if (std::holds_alternative<TrimPreviewOutcome::Saved>(outcome.value)) {
        co_await refreshRecent();
    } else if (std::holds_alternative<TrimPreviewOutcome::Discarded>(outcome.value)) {
        co_await debugLog_.append("trim_preview_outcome discarded scratch=" + scratch);
    } else {
        const AppError error = std::get<TrimPreviewOutcome::Failed>(outcome.value).error;
        co_await debugLog_.append("trim_preview_outcome failed scratch=" + scratch +
                                  " error=" + logErrorText(std::make_exception_ptr(error)));
        blockingError_ = error;
        co_await recordingSession_.failPendingTrim("trim preview failed");
    }
}

QCoro::Task<RecordingExportResult> MenuBarCoordinator::saveTrimPreview(TrimSelection selection, RecordingPreset profile,
                                                                       ProgressHandler progress,
                                                                       platform::CancelToken cancel) {
    co_await debugLog_.append("trim_preview_outcome save start_seconds=" + logNumber(selection.startSeconds()) +
                              " end_seconds=" + logNumber(selection.endSeconds()));
    co_await recordingSession_.reopenPendingTrimIfRecoverable();
    try {
        RecordingExportResult result = co_await recordingSession_.publishPendingTrim(
            std::move(selection), std::move(profile), std::move(progress), std::move(cancel));
        blockingError_.reset();
        co_return result;
    } catch (const AppError& error) {
        blockingError_ = error;
        throw;
    }
}

}  // namespace yux

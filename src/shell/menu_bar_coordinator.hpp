#pragma once

#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "model/debug_log_boundary.hpp"
#include "model/global_hot_key.hpp"
#include "model/output_library_boundary.hpp"
#include "model/save_folder_authority_boundary.hpp"
#include "model/settings_boundary.hpp"
#include "model/user_facing_error_message_policy.hpp"
#include "platform/async/detached_tasks.hpp"
#include "platform/async/shared_task.hpp"
#include "session/pending_trim_event_boundary.hpp"
#include "session/recording_session_boundary.hpp"
#include "shell/menu_bar_panel_state.hpp"

namespace yux {

// Between the panel and the services behind it: runs the panel's intents, owns the recording
// shortcut's registration, keeps the recent list and its own error for the panel, presents
// finished recordings in the trim window and exports from it. Main thread only; its coroutines
// interleave at their awaits, which the overlap guards below rely on.
class MenuBarCoordinator final : public MenuBarIntentHandling,
                                 public MenuBarStateProviding,
                                 public PendingTrimEventBoundary,
                                 public TrimPreviewSaveHandling {
public:
    // The recent list's length.
    static constexpr int kRecentLimit = 5;

    // Without a trim window a finished recording stays pending, to be offered once there is one.
    MenuBarCoordinator(RecordingSessionBoundary& recordingSession, GlobalHotKey& hotKey,
                       TrimPreviewBoundary* trimPreview, OutputLibraryBoundary& outputLibrary,
                       SettingsBoundary& settingsBoundary, SaveFolderAuthorityBoundary& saveFolderAuthority,
                       DebugLogBoundary& debugLog, UserFacingErrorMessagePolicy errorMessages = {});
    ~MenuBarCoordinator() override;

    QCoro::Task<void> dispatch(MenuIntent intent) override;
    QCoro::Task<bool> setShortcutRecording(bool recording) override;
    QCoro::Task<MenuBarPanelState> currentPanelState() override;
    // Registers the saved shortcut once; later calls await that first registration.
    QCoro::Task<void> startKeyboardShortcuts();
    QCoro::Task<void> handlePendingTrim(PendingRecordingArtifact artifact) override;
    QCoro::Task<RecordingExportResult> saveTrimPreview(TrimSelection selection, RecordingPreset profile,
                                                       ProgressHandler progress,
                                                       platform::CancelToken cancel = {}) override;

    const std::optional<AppError>& blockingError() const { return blockingError_; }

private:
    QCoro::Task<bool> registerKeyboardShortcut();
    QCoro::Task<void> refreshRecent();
    QCoro::Task<void> chooseSaveFolder();
    QCoro::Task<void> saveSettings(AppSettings settings);
    QCoro::Task<void> presentTrimIfNeeded();
    template <typename Call>
    QCoro::Task<void> runSession(Call call);
    GlobalHotKey::Trigger makeTrigger();
    void registerShortcut(const RecordingShortcut& shortcut);
    void captureError(std::exception_ptr error, AppError fallback);

    RecordingSessionBoundary& recordingSession_;
    GlobalHotKey& hotKey_;
    TrimPreviewBoundary* trimPreview_;
    OutputLibraryBoundary& outputLibrary_;
    SettingsBoundary& settingsBoundary_;
    SaveFolderAuthorityBoundary& saveFolderAuthority_;
    DebugLogBoundary& debugLog_;
    UserFacingErrorMessagePolicy errorMessages_;

    std::vector<RecordingFile> recent_;
    std::optional<AppError> blockingError_;
    bool isTrimPreviewActive_ = false;
    bool savingSettings_ = false;
    std::optional<platform::SharedTask<bool>> keyboardStartupTask_;
    // Lets a hot-key press that outlives the coordinator do nothing.
    std::shared_ptr<MenuBarCoordinator*> self_;
    platform::DetachedTasks pressTasks_;
};

}  // namespace yux

#pragma once

#include <QObject>

#include <optional>
#include <string>

#include "platform/async/detached_tasks.hpp"
#include "platform/desktop/system_log.hpp"
#include "shell/menu_bar_panel_state.hpp"
#include "shell/recording_shortcut_recorder.hpp"

namespace yux {

// What the tray panel shows and where its buttons go: the coordinator's last snapshot, the
// shortcut as the user edits it (the draft) and the settings as last saved. Every action is an
// intent followed by a fresh read; nothing polls. Main thread only.
class MenuBarPanelViewModel : public QObject, public ShortcutRecordingModel {
    Q_OBJECT

public:
    MenuBarPanelViewModel(MenuBarIntentHandling& intentHandler, MenuBarStateProviding& stateProvider,
                          platform::SystemLog log, QObject* parent = nullptr);

    const MenuBarPanelState& panelState() const { return panelState_; }
    const std::optional<AppSettings>& persistedSettings() const { return persistedSettings_; }
    std::optional<std::string> saveFolderPath() const;

    // The intent the primary button sends in the state now held; none in pendingTrim and
    // stopping.
    static std::optional<MenuIntent> primaryIntent(const MenuBarPanelState& state);

    // Each returns at once; its work runs on a task that ends with a fresh read.
    void refresh();
    void performPrimaryRecordAction();
    void chooseSaveFolder();

    QCoro::Task<void> syncFromProvider();

    // ShortcutRecordingModel
    RecordingShortcut recordingShortcut() const override { return recordingShortcut_; }
    void setRecordingShortcut(const RecordingShortcut& shortcut) override;
    bool isUnsavedSettings() const override;
    std::optional<std::string> blockingMessage() const override { return panelState_.blockingMessage; }
    QCoro::Task<bool> setShortcutRecording(bool recording) override;
    // Saves the draft with the saved folder; does nothing while no settings were saved.
    void persistSettings() override;

    // Tasks started and not ended yet.
    std::size_t runningTasks() const { return tasks_.running(); }

signals:
    void changed();

private:
    QCoro::Task<void> dispatchThenSync(MenuIntent intent);

    MenuBarIntentHandling& intentHandler_;
    MenuBarStateProviding& stateProvider_;
    platform::SystemLog log_;
    MenuBarPanelState panelState_;
    RecordingShortcut recordingShortcut_ = RecordingShortcut::defaultShortcut();
    std::optional<AppSettings> persistedSettings_;
    platform::DetachedTasks tasks_;
};

}  // namespace yux

#include "shell/menu_bar_panel_view_model.hpp"

#include <QPointer>

namespace yux {

namespace {
constexpr const char* kLogCategory = "MenuBar";
}

MenuBarPanelViewModel::MenuBarPanelViewModel(MenuBarIntentHandling& intentHandler, MenuBarStateProviding& stateProvider,
                                             platform::SystemLog log, QObject* parent)
    : QObject(parent),
      intentHandler_(intentHandler),
      stateProvider_(stateProvider),
      log_(std::move(log)),
      tasks_([log = log_](const std::string& failure) { log.error(kLogCategory, "panel_task_failed " + failure); }) {}

std::optional<std::string> MenuBarPanelViewModel::saveFolderPath() const {
    if (const AppSettings* settings = panelState_.settings.settings()) return settings->saveFolder.path;
    return std::nullopt;
}

bool MenuBarPanelViewModel::isUnsavedSettings() const {
    return persistedSettings_ && !(persistedSettings_->recordingShortcut == recordingShortcut_);
}

void MenuBarPanelViewModel::setRecordingShortcut(const RecordingShortcut& shortcut) {
    recordingShortcut_ = shortcut;
    emit changed();
}

std::optional<MenuIntent> MenuBarPanelViewModel::primaryIntent(const MenuBarPanelState& state) {
    if (!state.settings.isAvailable()) return MenuIntent::chooseSaveFolder();
    struct Choice {
        std::optional<MenuIntent> operator()(const RecordingSessionState::Recording&) const {
            return MenuIntent::stopRecording();
        }
        std::optional<MenuIntent> operator()(const RecordingSessionState::PendingTrim&) const { return std::nullopt; }
        std::optional<MenuIntent> operator()(const RecordingSessionState::Failed&) const {
            return MenuIntent::startRecording();
        }
        std::optional<MenuIntent> operator()(const RecordingSessionState::Idle&) const {
            return MenuIntent::startRecording();
        }
        std::optional<MenuIntent> operator()(const RecordingSessionState::Selecting&) const {
            return MenuIntent::cancelRecording();
        }
        std::optional<MenuIntent> operator()(const RecordingSessionState::Stopping&) const { return std::nullopt; }
    };
    return std::visit(Choice{}, state.recordingState.value());
}

QCoro::Task<void> MenuBarPanelViewModel::dispatchThenSync(MenuIntent intent) {
    QPointer<MenuBarPanelViewModel> self(this);
    co_await intentHandler_.dispatch(std::move(intent));
    if (self) co_await syncFromProvider();
}

void MenuBarPanelViewModel::refresh() { tasks_.start(dispatchThenSync(MenuIntent::refreshRecent())); }

void MenuBarPanelViewModel::performPrimaryRecordAction() {
    if (auto intent = primaryIntent(panelState_)) tasks_.start(dispatchThenSync(std::move(*intent)));
}

void MenuBarPanelViewModel::chooseSaveFolder() { tasks_.start(dispatchThenSync(MenuIntent::chooseSaveFolder())); }

void MenuBarPanelViewModel::persistSettings() {
    if (!persistedSettings_) return;
    AppSettings settings = *persistedSettings_;
    settings.recordingShortcut = recordingShortcut_;
    tasks_.start(dispatchThenSync(MenuIntent::saveSettings(std::move(settings))));
}

QCoro::Task<bool> MenuBarPanelViewModel::setShortcutRecording(bool recording) {
    QPointer<MenuBarPanelViewModel> self(this);
    const bool ok = co_await intentHandler_.setShortcutRecording(recording);
    if (self) co_await syncFromProvider();
    co_return ok;
}

QCoro::Task<void> MenuBarPanelViewModel::syncFromProvider() {
    QPointer<MenuBarPanelViewModel> self(this);
    MenuBarPanelState state = co_await stateProvider_.currentPanelState();
    if (!self) co_return;
    panelState_ = std::move(state);
    if (const AppSettings* settings = panelState_.settings.settings()) {
        // A draft that failed to save stays on screen so it can be saved again.
        const bool unsaved = isUnsavedSettings();
        log_.info(kLogCategory, "shortcut_refresh draft=" + recordingShortcut_.label() +
                                    " saved=" + settings->recordingShortcut.label() +
                                    " preserve_draft=" + (unsaved ? "true" : "false"));
        persistedSettings_ = *settings;
        if (!unsaved) recordingShortcut_ = settings->recordingShortcut;
    } else {
        persistedSettings_.reset();
        recordingShortcut_ = RecordingShortcut::defaultShortcut();
    }
    emit changed();
}

}  // namespace yux

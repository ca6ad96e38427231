#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <QCoroTask>

#include "model/app_error.hpp"
#include "model/app_settings.hpp"
#include "model/recording_file.hpp"
#include "session/recording_session_state.hpp"

namespace yux {

// A command from the panel to the coordinator. Cases in declaration order; no equality.
struct MenuIntent {
    struct SaveSettings {
        AppSettings settings;
    };
    struct CancelRecording {};
    struct StartRecording {};
    struct StopRecording {};
    struct CheckPendingTrim {};
    struct RefreshRecent {};
    struct ChooseSaveFolder {};

    using Value = std::variant<SaveSettings, CancelRecording, StartRecording, StopRecording, CheckPendingTrim,
                               RefreshRecent, ChooseSaveFolder>;
    Value value;

    static MenuIntent saveSettings(AppSettings settings) { return {SaveSettings{std::move(settings)}}; }
    static MenuIntent cancelRecording() { return {CancelRecording{}}; }
    static MenuIntent startRecording() { return {StartRecording{}}; }
    static MenuIntent stopRecording() { return {StopRecording{}}; }
    static MenuIntent checkPendingTrim() { return {CheckPendingTrim{}}; }
    static MenuIntent refreshRecent() { return {RefreshRecent{}}; }
    static MenuIntent chooseSaveFolder() { return {ChooseSaveFolder{}}; }

    template <typename Case>
    bool is() const {
        return std::holds_alternative<Case>(value);
    }
};

// The settings as one snapshot loaded them: a value, or nothing when loading failed.
class MenuBarSettingsState {
public:
    static MenuBarSettingsState available(AppSettings settings) { return MenuBarSettingsState(std::move(settings)); }
    static MenuBarSettingsState unavailable() { return MenuBarSettingsState(std::nullopt); }

    bool isAvailable() const { return settings_.has_value(); }
    // Null when unavailable.
    const AppSettings* settings() const { return settings_ ? &*settings_ : nullptr; }

    bool operator==(const MenuBarSettingsState&) const = default;

private:
    explicit MenuBarSettingsState(std::optional<AppSettings> settings) : settings_(std::move(settings)) {}

    std::optional<AppSettings> settings_;
};

// Everything the panel shows, taken at one moment.
struct MenuBarPanelState {
    RecordingSessionState recordingState;
    // At most five, in the library's order; empty until the first reload.
    std::vector<RecordingFile> recent;
    MenuBarSettingsState settings = MenuBarSettingsState::unavailable();
    std::optional<AppError> blockingError;
    // Present exactly when blockingError is.
    std::optional<std::string> blockingMessage;

    bool operator==(const MenuBarPanelState&) const = default;
};

// Builds a snapshot from its parts. `loaded` is the loaded settings, or the load failure (an
// AppError, or nullopt for any other failure). A failed session's error wins; otherwise a load
// failure; the coordinator's own error shows only while the settings loaded.
MenuBarPanelState derivePanelState(RecordingSessionState sessionState,
                                   std::variant<AppSettings, std::optional<AppError>> loaded,
                                   const std::optional<AppError>& ownError, std::vector<RecordingFile> recent);

// The panel's way in: every change goes through an intent.
class MenuBarIntentHandling {
public:
    virtual ~MenuBarIntentHandling() = default;
    // Returns once handled; a failure shows as the next snapshot's blocking error.
    virtual QCoro::Task<void> dispatch(MenuIntent intent) = 0;
    // True suspends the recording shortcut while a new one is typed, false restores it; the
    // result says whether that worked.
    virtual QCoro::Task<bool> setShortcutRecording(bool recording) = 0;
};

// The panel's way out: every read is a fresh snapshot.
class MenuBarStateProviding {
public:
    virtual ~MenuBarStateProviding() = default;
    virtual QCoro::Task<MenuBarPanelState> currentPanelState() = 0;
};

}  // namespace yux

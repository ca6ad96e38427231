#include "shell/menu_bar_panel_state.hpp"

#include "model/user_facing_error_message_policy.hpp"

namespace yux {

MenuBarPanelState derivePanelState(RecordingSessionState sessionState,
                                   std::variant<AppSettings, std::optional<AppError>> loaded,
                                   const std::optional<AppError>& ownError, std::vector<RecordingFile> recent) {
    MenuBarPanelState state;
    std::optional<AppError> shown;
    if (const AppError* failure = sessionState.failure()) shown = *failure;
    if (auto* settings = std::get_if<AppSettings>(&loaded)) {
        state.settings = MenuBarSettingsState::available(std::move(*settings));
        if (!shown) shown = ownError;
    } else {
        state.settings = MenuBarSettingsState::unavailable();
        if (!shown) {
            const auto& loadError = std::get<std::optional<AppError>>(loaded);
            shown = loadError ? *loadError : AppError::settingsLoadFailed("unable to load settings");
        }
    }
    if (shown) {
        state.blockingMessage = UserFacingErrorMessagePolicy{}.message(*shown);
        state.blockingError = std::move(shown);
    }
    state.recent = std::move(recent);
    state.recordingState = std::move(sessionState);
    return state;
}

}  // namespace yux

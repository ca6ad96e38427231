#include "model/app_error.hpp"

#include "model/user_facing_error_message_policy.hpp"
#include "platform/desktop/file_contents.hpp"

namespace yux {

AppError::AppError(Case kind, std::string detail) : case_(kind), detail_(std::move(detail)) {
    message_ = UserFacingErrorMessagePolicy().message(*this);
}

std::string UserFacingErrorMessagePolicy::message(const AppError& error) const {
    const auto& detail = error.detail();
    switch (error.kind()) {
        case AppError::Case::displayDiscoveryFailed:
            return "Display discovery failed. Reconnect your display and retry.";
        case AppError::Case::screenSelectionFailed: return "Screen selection failed: " + detail;
        case AppError::Case::systemPlaybackAudioFailed:
            return "System playback capture failed. Check that the sound server is running and retry.";
        case AppError::Case::microphoneFailed: return "Microphone capture failed: " + detail;
        case AppError::Case::cameraFailed: return "Camera capture failed: " + detail;
        case AppError::Case::keyboardShortcutUnavailable: return detail;
        case AppError::Case::saveFolderUnusable:
            return "Save folder is unusable: " + detail + ". Choose another save folder.";
        case AppError::Case::settingsLoadFailed:
            return "Settings could not be loaded. Choose a save folder to continue.";
        case AppError::Case::settingsPersistFailed:
            if (detail.ends_with(": " + std::string(platform::kDiskFullCause))) {
                return "Settings could not be saved. The disk is full.";
            }
            return "Settings could not be saved. Check disk permissions and retry.";
        case AppError::Case::recentRecordingLoadFailed: return "Recent recordings could not be loaded.";
        case AppError::Case::recentRecordingPersistFailed: return "Recent recordings could not be saved.";
        case AppError::Case::outputFinalizationFailed: return "Recording finalization failed: " + detail;
        case AppError::Case::screenSelectionCancelled: return "Screen selection was cancelled.";
        case AppError::Case::screenSelectionInteractiveModeUnavailable:
            return "Interactive screen selection is not available.";
        case AppError::Case::systemPlaybackAudioUnavailable:
            return "System playback recording requires a running sound server (PulseAudio or PipeWire).";
        case AppError::Case::videoCaptureUnavailable: return "Video capture is unavailable. Recording cannot start.";
        case AppError::Case::recordingSessionAlreadyActive: return "A recording session is already active.";
        case AppError::Case::recordingSessionNotActive: return "No active recording session to stop.";
        case AppError::Case::settingsMissing: return "Choose a save folder to finish setup.";
    }
    return {};
}

}  // namespace yux

#include "model/log_text.hpp"

#include <charconv>
#include <cmath>

#include "model/app_error.hpp"
#include "platform/async/errors.hpp"

namespace yux {

const char* caseName(AppError::Case kind) {
    switch (kind) {
        case AppError::Case::displayDiscoveryFailed: return "displayDiscoveryFailed";
        case AppError::Case::screenSelectionFailed: return "screenSelectionFailed";
        case AppError::Case::systemPlaybackAudioFailed: return "systemPlaybackAudioFailed";
        case AppError::Case::microphoneFailed: return "microphoneFailed";
        case AppError::Case::cameraFailed: return "cameraFailed";
        case AppError::Case::keyboardShortcutUnavailable: return "keyboardShortcutUnavailable";
        case AppError::Case::saveFolderUnusable: return "saveFolderUnusable";
        case AppError::Case::settingsLoadFailed: return "settingsLoadFailed";
        case AppError::Case::settingsPersistFailed: return "settingsPersistFailed";
        case AppError::Case::recentRecordingLoadFailed: return "recentRecordingLoadFailed";
        case AppError::Case::recentRecordingPersistFailed: return "recentRecordingPersistFailed";
        case AppError::Case::outputFinalizationFailed: return "outputFinalizationFailed";
        case AppError::Case::screenSelectionCancelled: return "screenSelectionCancelled";
        case AppError::Case::screenSelectionInteractiveModeUnavailable: return "screenSelectionInteractiveModeUnavailable";
        case AppError::Case::systemPlaybackAudioUnavailable: return "systemPlaybackAudioUnavailable";
        case AppError::Case::videoCaptureUnavailable: return "videoCaptureUnavailable";
        case AppError::Case::recordingSessionAlreadyActive: return "recordingSessionAlreadyActive";
        case AppError::Case::recordingSessionNotActive: return "recordingSessionNotActive";
        case AppError::Case::settingsMissing: return "settingsMissing";
    }
    return "unknown";
}

std::string logNumber(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

std::string logErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const AppError& appError) {
        std::string text = caseName(appError.kind());
        if (appError.hasDetail()) text += "(\"" + appError.detail() + "\")";
        return text;
    } catch (const platform::CancelledError&) {
        return "CancelledError()";
    } catch (const std::exception& other) {
        return other.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace yux

#include "model/log_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

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

namespace {

// A detail written as a quoted literal: quotes, backslashes and control characters escaped, so
// a detail can never split or end its log line.
std::string quotedLiteral(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': quoted += "\\\""; break;
            case '\\': quoted += "\\\\"; break;
            case '\n': quoted += "\\n"; break;
            case '\r': quoted += "\\r"; break;
            case '\t': quoted += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char code[12];
                    std::snprintf(code, sizeof code, "\\u{%x}", static_cast<unsigned>(c));
                    quoted += code;
                } else {
                    quoted += c;
                }
        }
    }
    return quoted + "\"";
}

}  // namespace

std::string logErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const AppError& appError) {
        std::string text = caseName(appError.kind());
        if (appError.hasDetail()) text += "(" + quotedLiteral(appError.detail()) + ")";
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

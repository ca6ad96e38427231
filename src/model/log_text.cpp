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
    // Plain decimals, exponent form only for very large and very small magnitudes: the plain
    // shortest form would write 100000 as 1e+05. Either form is the shortest that reads back.
    constexpr double kSmallest = 1e-4;
    constexpr double kLargest = 0x1p53;  // doubles stop holding every whole number here
    char buffer[64];
    const double magnitude = std::fabs(value);
    const bool exponent = value != 0 && (magnitude < kSmallest || magnitude >= kLargest);
    auto result = !std::isfinite(value) ? std::to_chars(buffer, buffer + sizeof buffer, value)
                  : exponent ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific)
                             : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    std::string text(buffer, result.ptr);
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

namespace {

std::string hexEscape(unsigned code) {
    char escape[16];
    std::snprintf(escape, sizeof escape, "\\u{%x}", code);
    return escape;
}

// A string literal: backslash, double and single quote behind a backslash; tab, line feed,
// carriage return and NUL as \t, \n, \r and \0; every other control character, C1 ones included,
// as \u{hex}.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (std::size_t index = 0; index < text.size(); ++index) {
        const auto c = static_cast<unsigned char>(text[index]);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\'': out += "\\'"; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    out += hexEscape(c);
                } else if (c == 0xC2 && index + 1 < text.size() && static_cast<unsigned char>(text[index + 1]) >= 0x80 &&
                           static_cast<unsigned char>(text[index + 1]) <= 0x9F) {
                    // U+0080 to U+009F in UTF-8.
                    out += hexEscape(static_cast<unsigned char>(text[++index]));
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

}  // namespace

std::string appErrorText(const AppError& error) {
    std::string text = caseName(error.kind());
    if (error.hasDetail()) text += "(" + quoted(error.detail()) + ")";
    return text;
}

std::string logErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const AppError& appError) {
        return appErrorText(appError);
    } catch (const platform::CancelledError&) {
        return "CancelledError()";
    } catch (const std::exception& other) {
        return other.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace yux

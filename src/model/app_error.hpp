#pragma once

#include <exception>
#include <string>

namespace yux {

// The one error type of the services. what() is the sentence shown to the user.
class AppError : public std::exception {
public:
    // Order matters: the first twelve cases carry a detail text.
    enum class Case {
        displayDiscoveryFailed,
        screenSelectionFailed,
        systemPlaybackAudioFailed,
        microphoneFailed,
        cameraFailed,
        keyboardShortcutUnavailable,
        saveFolderUnusable,
        settingsLoadFailed,
        settingsPersistFailed,
        recentRecordingLoadFailed,
        recentRecordingPersistFailed,
        outputFinalizationFailed,
        screenSelectionCancelled,
        screenSelectionInteractiveModeUnavailable,
        systemPlaybackAudioUnavailable,
        videoCaptureUnavailable,
        recordingSessionAlreadyActive,
        recordingSessionNotActive,
        settingsMissing,
    };

    static AppError displayDiscoveryFailed(std::string detail) { return {Case::displayDiscoveryFailed, std::move(detail)}; }
    static AppError screenSelectionFailed(std::string detail) { return {Case::screenSelectionFailed, std::move(detail)}; }
    static AppError systemPlaybackAudioFailed(std::string detail) { return {Case::systemPlaybackAudioFailed, std::move(detail)}; }
    static AppError microphoneFailed(std::string detail) { return {Case::microphoneFailed, std::move(detail)}; }
    static AppError cameraFailed(std::string detail) { return {Case::cameraFailed, std::move(detail)}; }
    static AppError keyboardShortcutUnavailable(std::string detail) { return {Case::keyboardShortcutUnavailable, std::move(detail)}; }
    static AppError saveFolderUnusable(std::string detail) { return {Case::saveFolderUnusable, std::move(detail)}; }
    static AppError settingsLoadFailed(std::string detail) { return {Case::settingsLoadFailed, std::move(detail)}; }
    static AppError settingsPersistFailed(std::string detail) { return {Case::settingsPersistFailed, std::move(detail)}; }
    static AppError recentRecordingLoadFailed(std::string detail) { return {Case::recentRecordingLoadFailed, std::move(detail)}; }
    static AppError recentRecordingPersistFailed(std::string detail) { return {Case::recentRecordingPersistFailed, std::move(detail)}; }
    static AppError outputFinalizationFailed(std::string detail) { return {Case::outputFinalizationFailed, std::move(detail)}; }
    static AppError screenSelectionCancelled() { return {Case::screenSelectionCancelled, {}}; }
    static AppError screenSelectionInteractiveModeUnavailable() { return {Case::screenSelectionInteractiveModeUnavailable, {}}; }
    static AppError systemPlaybackAudioUnavailable() { return {Case::systemPlaybackAudioUnavailable, {}}; }
    static AppError videoCaptureUnavailable() { return {Case::videoCaptureUnavailable, {}}; }
    static AppError recordingSessionAlreadyActive() { return {Case::recordingSessionAlreadyActive, {}}; }
    static AppError recordingSessionNotActive() { return {Case::recordingSessionNotActive, {}}; }
    static AppError settingsMissing() { return {Case::settingsMissing, {}}; }

    Case kind() const { return case_; }
    bool hasDetail() const { return case_ <= Case::outputFinalizationFailed; }
    // Empty for the cases without a detail.
    const std::string& detail() const { return detail_; }

    const char* what() const noexcept override { return message_.c_str(); }

    // Same case and, for the cases with one, the same detail.
    bool operator==(const AppError& other) const { return case_ == other.case_ && detail_ == other.detail_; }

private:
    AppError(Case kind, std::string detail);

    Case case_;
    std::string detail_;
    std::string message_;
};

}  // namespace yux

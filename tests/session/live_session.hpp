#pragma once

#include <filesystem>
#include <memory>

#include "capture/x11_video_capture.hpp"
#include "model/preferences_file_settings_store.hpp"
#include "platform/desktop/app_locations.hpp"
#include "session/recording_session_orchestrator.hpp"
#include "session/session_doubles.hpp"
#include "support/recording_debug_log.hpp"

namespace yux::testing {

// Confirms the whole main display at once and has a tray that never stops the recording.
class FullDisplaySelection : public ScreenSelectionBoundary {
public:
    QCoro::Task<ScreenSelectionOutcome> startSelection(CapturePreference, std::vector<DisplayBounds>) override {
        co_return ScreenSelectionOutcome::confirmed(
            RecordingSelection{CaptureTarget::fullMainDisplay(), CapturePreference{CaptureMode::screen, {}, {}}});
    }
    QCoro::Task<void> cancelSelection() override { co_return; }
    QCoro::Task<void> showRecordingControls() override { co_return; }
    QCoro::Task<void> showStoppingControls() override { co_return; }
    QCoro::Task<void> hideOverlay() override { co_return; }
    QCoro::Task<RecordingOverlayAction> nextRecordingOverlayAction() override {
        co_return RecordingOverlayAction::closed;
    }
};

class OneDisplay : public DisplayBoundary {
public:
    QCoro::Task<std::vector<DisplayBounds>> availableDisplays() override {
        co_return std::vector<DisplayBounds>{DisplayBounds{DisplayID{"0"}, 0, 0, 1920, 1080}};
    }
};

// The live recorder (X server, sound server, files on disk) without inputs, its folders below
// `root` as the XDG variables would place them: config, data, cache and a videos folder.
struct LiveSession {
    platform::AppLocations locations;
    std::shared_ptr<RecordingDebugLog> log = std::make_shared<RecordingDebugLog>();
    std::shared_ptr<PreferencesFileSettingsStore> settings;
    std::shared_ptr<RecordingExportSessionFactory> exports;
    std::shared_ptr<X11VideoCapture> capture;
    std::shared_ptr<FakePendingTrimHandler> handler = std::make_shared<FakePendingTrimHandler>();
    std::shared_ptr<SystemClock> clock = std::make_shared<SystemClock>();
    std::shared_ptr<RecordingSessionOrchestrator> session;

    LiveSession(const std::filesystem::path& root, std::shared_ptr<RecordingTrimBoundary> trim);
};

}  // namespace yux::testing

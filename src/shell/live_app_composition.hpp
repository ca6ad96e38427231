#pragma once

#include <memory>
#include <optional>
#include <string>

#include "capture/capture_device_runtime.hpp"
#include "capture/capture_inputs_controller.hpp"
#include "model/clock_boundary.hpp"
#include "model/debug_log_boundary.hpp"
#include "model/global_hot_key.hpp"
#include "model/output_library_boundary.hpp"
#include "model/preferences_file_settings_store.hpp"
#include "model/save_folder_authority_boundary.hpp"
#include "model/scratch_storage_boundary.hpp"
#include "platform/async/detached_tasks.hpp"
#include "platform/desktop/app_locations.hpp"
#include "platform/desktop/bundle_info.hpp"
#include "platform/desktop/system_settings_opener.hpp"
#include "selection/camera_overlay_presenter.hpp"
#include "selection/interactive_screen_selection.hpp"
#include "selection/x11_display_provider.hpp"
#include "capture/permission_gate_controller.hpp"
#include "capture/screen_recording_permission.hpp"
#include "capture/video_capture_boundary.hpp"
#include "platform/desktop/application_activation.hpp"
#include "session/pending_trim_event_relay.hpp"
#include "session/trim_preview_boundary.hpp"
#include "session/recording_session_boundary.hpp"
#include "session/recording_setup_controller.hpp"
#include "shell/app_composition_boundary.hpp"
#include "shell/menu_bar_coordinator.hpp"
#include "shell/menu_bar_presentation.hpp"
#include "automation/live_automation_services.hpp"

namespace yux {

// The one place where the live object graph is built: one implementation for every interface,
// each service handed exactly its collaborators. Built once at launch; nothing is torn down
// by it. Main thread only.
struct LiveAppComposition : AppCompositionBoundary {
    // The parts `create` takes; empty optional ones become fresh live objects.
    struct Parts {
        std::shared_ptr<PreferencesFileSettingsStore> settings;
        platform::AppLocations locations;
        std::shared_ptr<ClockBoundary> clock;
        // The first-run setup's settings opener, handed on to its permission gates.
        platform::SystemSettingsOpener permissionSettings;
        std::shared_ptr<X11DisplayProvider> displays;
        platform::BundleInfo bundle;
        std::string homeDirectory;
        std::shared_ptr<DebugLogBoundary> debugLog = {};
        std::shared_ptr<SaveFolderAuthorityBoundary> saveFolderAuthority = {};
        std::unique_ptr<GlobalHotKey> recordingHotKey = {};
        std::shared_ptr<CaptureDeviceRuntime> captureDevices = {};
        std::shared_ptr<ScratchStorageBoundary> scratchStorage = {};
        std::shared_ptr<RecentRecordingStoreBoundary> recentStore = {};
        // The input controller's settings opener, with a record of its own; empty: a fresh live one.
        std::optional<platform::SystemSettingsOpener> inputSettings = {};
        // Passed on to the selection; without one each selection makes its own.
        std::unique_ptr<GlobalHotKey> escapeKey = {};
        bool liveDesktopServices = true;
        // Decides between the live session and the unavailable one.
        std::shared_ptr<SystemPlaybackAudioCapabilityBoundary> playbackCapability = {};
        std::shared_ptr<ScreenRecordingPermissionBoundary> screenPermission = {};
        // Empty: the live capture engine over the desktop.
        std::shared_ptr<VideoCaptureBoundary> videoCapture = {};
        // The application's standing on the desktop; its terminate() is the quit path. Empty: a
        // live one that ends the event loop, or a null one without live desktop services.
        std::optional<platform::ApplicationActivation> activation = {};
        // The permission gates' windows and timers; empty: real windows.
        std::function<PermissionGateController::Platform()> gatePlatform = {};
        // The trim window; none means a finished recording stays pending until one is there.
        TrimPreviewBoundary* trimPreview = nullptr;
    };

    // The debug log's length.
    static constexpr int kDebugLogEntries = 1000;

    std::shared_ptr<PreferencesFileSettingsStore> settings;
    std::shared_ptr<DebugLogBoundary> debugLog;
    std::shared_ptr<CaptureDeviceRuntime> captureDevices;
    std::shared_ptr<CaptureInputsController> captureInputs;
    std::shared_ptr<CameraOverlayPresenter> cameraOverlay;
    std::shared_ptr<InteractiveScreenSelection> screenSelection;
    std::shared_ptr<X11DisplayProvider> displays;
    std::shared_ptr<SaveFolderAuthorityBoundary> saveFolderAuthority;
    std::shared_ptr<RecentRecordingStoreBoundary> recentStore;
    std::shared_ptr<OutputLibraryBoundary> outputLibrary;
    std::shared_ptr<ScratchStorageBoundary> scratchStorage;
    std::shared_ptr<GlobalHotKey> recordingHotKey;
    std::shared_ptr<ClockBoundary> clock;
    std::shared_ptr<RecordingSetupController> recordingSetup;
    std::shared_ptr<PendingTrimEventRelay> pendingTrimRelay;
    std::shared_ptr<RecordingSessionBoundary> recordingSession;
    std::shared_ptr<MenuBarCoordinator> menuHandler;
    std::shared_ptr<MenuBarStateProviding> menuStateProvider;
    // The file-based automation runner; the entry starts its run().
    std::shared_ptr<automation::LiveAutomation> automation;
    // Keeps the trim window that `trimPreview` pointed at; empty when the caller owns it.
    std::shared_ptr<TrimPreviewBoundary> trimWindow;
    // Work started here that nobody awaits: the start-up diagnostics.
    std::shared_ptr<platform::DetachedTasks> background;

    // What the menu presentation needs of the desktop besides the services above.
    struct Desktop {
        platform::ApplicationActivation activation;
        platform::BundleInfo bundle;
        std::string homeDirectory;
        // False: the presentation's tray, log, file manager, updates and login entry are doubles.
        bool live = true;
    };
    std::shared_ptr<const Desktop> desktop;

    std::shared_ptr<RecordingSessionBoundary> makeRecordingSession() const override { return recordingSession; }
    std::shared_ptr<MenuBarIntentHandling> makeMenuIntentHandler() const override { return menuHandler; }

    // The status item and its panel over the coordinator and the inputs, with a new update
    // controller for this build and a new launch-at-login switch; nothing is shown until its
    // start(). Once per process: it points an enabled login entry that names another program at
    // this one.
    std::unique_ptr<MenuBarPresentation> makeMenuPresentation() const;
    // Registers the saved recording shortcut through the coordinator.
    QCoro::Task<void> startKeyboardShortcuts() const;

    // `activation` is the application's, whose terminate is the quit path.
    static LiveAppComposition bootstrapForDefaultEnvironment(std::shared_ptr<ClockBoundary> clock,
                                                             platform::ApplicationActivation activation);
    static LiveAppComposition create(Parts parts);
    // The debug log in the support folder.
    static std::shared_ptr<DebugLogBoundary> defaultDebugLog(const platform::AppLocations& locations);

    // The start-up lines of the debug log; they may interleave with other services' lines.
    static QCoro::Task<void> logStartupDiagnostics(std::shared_ptr<DebugLogBoundary> debugLog,
                                      std::shared_ptr<SettingsBoundary> settings, const platform::BundleInfo& bundle,
                                      std::string homeDirectory);
};

}  // namespace yux

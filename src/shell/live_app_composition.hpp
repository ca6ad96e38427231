#pragma once

#include <memory>
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

namespace yux {

// The one place where the live object graph is built: one implementation for every interface,
// each service handed exactly its collaborators. Built once at launch; nothing is torn down
// by it. Main thread only.
struct LiveAppComposition {
    // The parts `create` takes; empty optional ones become fresh live objects.
    struct Parts {
        std::shared_ptr<PreferencesFileSettingsStore> settings;
        platform::AppLocations locations;
        std::shared_ptr<ClockBoundary> clock;
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
        // Passed on to the selection; without one each selection makes its own.
        std::unique_ptr<GlobalHotKey> escapeKey = {};
        bool liveDesktopServices = true;
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
    // Work started here that nobody awaits: the start-up diagnostics.
    std::shared_ptr<platform::DetachedTasks> background;

    static LiveAppComposition bootstrapForDefaultEnvironment(std::shared_ptr<ClockBoundary> clock);
    static LiveAppComposition create(Parts parts);

    // The start-up lines of the debug log; they may interleave with other services' lines.
    static QCoro::Task<void> logStartupDiagnostics(std::shared_ptr<DebugLogBoundary> debugLog,
                                      std::shared_ptr<SettingsBoundary> settings, const platform::BundleInfo& bundle,
                                      std::string homeDirectory);
};

}  // namespace yux

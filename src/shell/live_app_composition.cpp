#include "shell/live_app_composition.hpp"

#include <QDir>

#include "capture/x11_video_capture.hpp"
#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "editor/floating_trim_preview_window.hpp"
#include "model/file_debug_log_store.hpp"
#include "model/file_recent_recording_store.hpp"
#include "model/linux_save_folder_authority.hpp"
#include "model/local_file_system.hpp"
#include "model/log_text.hpp"
#include "model/persistent_output_library.hpp"
#include "model/save_folder_default_location_policy.hpp"
#include "model/temporary_directory_scratch_storage.hpp"
#include "model/timestamp_file_naming_policy.hpp"
#include "platform/desktop/autostart_entry.hpp"
#include "platform/desktop/file_manager_reveal.hpp"
#include "platform/desktop/launch_at_startup.hpp"
#include "platform/desktop/system_log.hpp"
#include "platform/updates/app_update_controller.hpp"
#include "session/recording_export_session.hpp"
#include "session/recording_session_orchestrator.hpp"
#include "session/unavailable_recording_session.hpp"
#include "shell/pending_recording_markers.hpp"

namespace yux {

namespace {

QCoro::Task<void> writeStartupLines(std::shared_ptr<DebugLogBoundary> debugLog,
                                    std::shared_ptr<SettingsBoundary> settings, std::string identifierText,
                                    std::string bundlePath, std::string home) {
    co_await debugLog->append("app_startup_authorization persistent_screen_permission");
    co_await debugLog->append("app_startup " + identifierText + " bundle_path=" + bundlePath + " home=" + home);
    std::string line;
    try {
        const AppSettings loaded = co_await settings->loadSettings();
        std::string expanded = loaded.saveFolderPath();
        // Only a tilde alone or before a slash names the home folder: "~ann2/x" is another's.
        if (expanded == "~" || expanded.starts_with("~/")) expanded = home + expanded.substr(1);
        line = "app_startup_settings save_folder=" + loaded.saveFolderPath() + " expanded_save_folder=" + expanded;
    } catch (...) {
        line = "app_startup_settings_failed error=" + logErrorText(std::current_exception());
    }
    co_await debugLog->append(line);
}

QCoro::Task<void> forwardKeyboardShortcuts(std::shared_ptr<MenuBarCoordinator> coordinator) {
    co_await coordinator->startKeyboardShortcuts();
}

}  // namespace

QCoro::Task<void> LiveAppComposition::startKeyboardShortcuts() const { return forwardKeyboardShortcuts(menuHandler); }

std::unique_ptr<MenuBarPresentation> LiveAppComposition::makeMenuPresentation() const {
    const bool live = desktop->live;
    const platform::SystemLog log = live ? platform::SystemLog::create() : platform::SystemLog::create_null();
    auto login = std::make_shared<platform::LaunchAtStartup>(
        live ? platform::AutostartEntry::create() : platform::AutostartEntry::create_null(), log);
    login->repointEntry();
    // The recording shortcut typed into the open panel starts a press that nobody awaits.
    auto presses = std::make_shared<platform::DetachedTasks>(
        [log](const std::string& failure) { log.error("App", "app_startup_failed " + failure); });
    platform::ApplicationActivation activation = desktop->activation;
    return MenuBarPresentation::create(MenuBarPresentation::Parts{
        .intentHandler = *menuHandler,
        .stateProvider = *menuStateProvider,
        .panel = {.inputs = captureInputs.get(),
                  .log = log,
                  .reveal = live ? platform::FileManagerReveal::create() : platform::FileManagerReveal::create_null(),
                  .quit = [activation]() mutable { activation.terminate(); },
                  .version = desktop->bundle.value(platform::BundleInfo::kVersionKey),
                  .home = QString::fromStdString(desktop->homeDirectory)},
        .statusItem = live ? std::unique_ptr<StatusItem>() : StatusItem::create_null(),
        .activation = activation,
        .onRecordingShortcut = [coordinator = menuHandler, presses] {
            presses->start(coordinator->dispatch(MenuIntent::startRecording()));
        },
        .clock = {},
        .cursor = {},
        .updates = live ? platform::AppUpdateController::create(desktop->bundle)
                        : platform::AppUpdateController::create_null(desktop->bundle, {}),
        .login = std::move(login),
    });
}

QCoro::Task<void> LiveAppComposition::logStartupDiagnostics(std::shared_ptr<DebugLogBoundary> debugLog,
                                               std::shared_ptr<SettingsBoundary> settings,
                                               const platform::BundleInfo& bundle, std::string homeDirectory) {
    const auto identifier = bundle.identifier();
    std::string identifierText = identifier ? "bundle_id=" + *identifier : "bundle_id_absent=true";
    return writeStartupLines(std::move(debugLog), std::move(settings), std::move(identifierText),
                             bundle.executablePath(), std::move(homeDirectory));
}

LiveAppComposition LiveAppComposition::bootstrapForDefaultEnvironment(std::shared_ptr<ClockBoundary> clock,
                                                                     platform::ApplicationActivation activation) {
    const platform::AppLocations locations = platform::AppLocations::forCurrentUser();
    Parts parts{
        .settings = PreferencesFileSettingsStore::create(locations.preferencesFile(),
                                                         SaveFolderDefaultLocationPolicy::forCurrentUser()),
        .locations = locations,
        .clock = std::move(clock),
        .permissionSettings = platform::SystemSettingsOpener::create(),
        .displays = X11DisplayProvider::create(),
        .bundle = platform::BundleInfo::create(),
        .homeDirectory = QDir::homePath().toStdString(),
        .playbackCapability = std::make_shared<PulsePlaybackAudioCapability>(PulsePlaybackAudioCapability::create()),
        .screenPermission = std::make_shared<X11ScreenRecordingPermission>(X11ScreenRecordingPermission::create()),
        .activation = activation,
        .gatePlatform = [activation] { return PermissionGateController::Platform::create(activation); },
    };
    // One trim window for the process; it writes to the same debug log as everything else.
    parts.debugLog = defaultDebugLog(locations);
    auto trimWindow = std::make_shared<FloatingTrimPreviewWindow>(parts.debugLog);
    parts.trimPreview = trimWindow.get();
    LiveAppComposition root = create(std::move(parts));
    root.trimWindow = std::move(trimWindow);
    return root;
}

std::shared_ptr<DebugLogBoundary> LiveAppComposition::defaultDebugLog(const platform::AppLocations& locations) {
    return std::make_shared<FileDebugLogStore>((locations.supportDirectory / "debug-log.jsonl").string(),
                                               LocalFileSystem(), kDebugLogEntries);
}

LiveAppComposition LiveAppComposition::create(Parts parts) {
    LiveAppComposition root;
    root.settings = parts.settings;
    root.clock = parts.clock;
    root.displays = parts.displays;
    const auto& support = parts.locations.supportDirectory;
    root.debugLog = parts.debugLog ? parts.debugLog : defaultDebugLog(parts.locations);
    root.captureDevices = parts.captureDevices ? parts.captureDevices : CaptureDeviceRuntime::create();
    // Two openers, each with its own record: what the input controller opens never shows as
    // opened by the first-run setup.
    root.captureInputs = std::make_shared<CaptureInputsController>(
        root.settings, root.captureDevices,
        parts.inputSettings ? *parts.inputSettings : platform::SystemSettingsOpener::create());
    root.cameraOverlay = std::make_shared<CameraOverlayPresenter>(
        root.captureInputs.get(), root.captureDevices,
        parts.liveDesktopServices ? CameraOverlayPresenter::Services::live() : CameraOverlayPresenter::Services{});
    root.screenSelection = std::make_shared<InteractiveScreenSelection>(
        ScreenSelectionGeometry{}, std::move(parts.escapeKey), root.captureInputs.get(), root.cameraOverlay.get(),
        parts.liveDesktopServices ? SelectionOverlayServices::live() : SelectionOverlayServices{});
    root.saveFolderAuthority =
        parts.saveFolderAuthority
            ? parts.saveFolderAuthority
            : LinuxSaveFolderAuthority::create(root.debugLog, SaveFolderDefaultLocationPolicy::forCurrentUser());
    root.recentStore = parts.recentStore ? parts.recentStore
                                         : std::make_shared<FileRecentRecordingStore>(
                                               (support / "recent-recordings.json").string(), LocalFileSystem(),
                                               root.debugLog);
    root.outputLibrary = std::make_shared<PersistentOutputLibrary>(std::make_shared<LocalFileSystem>(), root.clock,
                                                                   TimestampFileNamingPolicy{}, root.recentStore);
    root.scratchStorage =
        parts.scratchStorage ? parts.scratchStorage : TemporaryDirectoryScratchStorage::create(LocalFileSystem());
    root.recordingHotKey = parts.recordingHotKey ? std::shared_ptr<GlobalHotKey>(std::move(parts.recordingHotKey))
                                                 : std::shared_ptr<GlobalHotKey>(GlobalHotKey::create());
    auto gatePlatform = parts.gatePlatform;
    if (!gatePlatform) {
        gatePlatform = [] { return PermissionGateController::Platform::create(platform::ApplicationActivation::create()); };
    }
    root.recordingSetup = std::make_shared<RecordingSetupController>(
        root.captureInputs, root.captureDevices, parts.permissionSettings,
        [gatePlatform](PermissionGateController::Options options) {
            return std::make_unique<PermissionGateController>(std::move(options), gatePlatform());
        });
    root.pendingTrimRelay = std::make_shared<PendingTrimEventRelay>();

    if (parts.playbackCapability && parts.playbackCapability->isSupported()) {
        auto pendingRecordings = std::make_shared<PendingRecordingMarkers>(root.debugLog);
        auto exports = std::make_shared<RecordingExportSessionFactory>(
            root.settings, support, root.debugLog, root.clock, std::make_shared<FfmpegRecordingTrimBoundary>(root.debugLog),
            RecordingExportSessionFactory::Replacements{.saveFolderAuthority = root.saveFolderAuthority,
                                                        .scratchStorage = root.scratchStorage,
                                                        .recentStore = root.recentStore,
                                                        .fileSystem = std::nullopt,
                                                        .scratchFileSizeReader = nullptr,
                                                        .pendingRecordings = pendingRecordings});
        root.outputLibrary = exports->outputLibrary();  // one library for the panel and the exports
        std::shared_ptr<VideoCaptureBoundary> videoCapture = parts.videoCapture;
        if (!videoCapture) {
            videoCapture = X11VideoCapture::create(parts.screenPermission, root.debugLog, root.captureDevices,
                                                   root.captureInputs.get());
        }
        root.recordingSession = std::make_shared<RecordingSessionOrchestrator>(RecordingSessionOrchestrator::Collaborators{
            .screenSelection = root.screenSelection,
            .displayBoundary = root.displays,
            .settings = root.settings,
            .exports = exports,
            .scratchStorage = root.scratchStorage,
            .videoCapture = videoCapture,
            .captureInputs = root.captureInputs,
            .pendingTrimEventHandler = root.pendingTrimRelay,
            .clock = root.clock,
            .debugLog = root.debugLog,
            .pendingRecordings = pendingRecordings,
        });
    } else {
        root.recordingSession =
            std::make_shared<UnavailableRecordingSession>(AppError::systemPlaybackAudioUnavailable());
    }

    root.menuHandler = std::make_shared<MenuBarCoordinator>(*root.recordingSession, *root.recordingHotKey,
                                                            parts.trimPreview, *root.outputLibrary, *root.settings,
                                                            *root.saveFolderAuthority, *root.debugLog);
    root.menuStateProvider = root.menuHandler;
    root.pendingTrimRelay->setHandler(root.menuHandler);

    root.automation = automation::LiveAutomation::create(
        automation::LiveAutomationServices{
            .session = std::dynamic_pointer_cast<RecordingSessionOrchestrator>(root.recordingSession),
            .displays = root.displays,
            .applications = std::make_shared<DesktopApplicationCatalog>(
                parts.liveDesktopServices ? DesktopApplicationCatalog::create() : DesktopApplicationCatalog::create_null({})),
            .screenPermission = parts.screenPermission,
            .inputs = root.captureInputs,
            .cameraOverlay = root.cameraOverlay,
        },
        parts.locations.automationDirectory("production"), root.debugLog);

    root.desktop = std::make_shared<const Desktop>(Desktop{
        .activation = parts.activation ? *parts.activation
                      : parts.liveDesktopServices ? platform::ApplicationActivation::create()
                                                  : platform::ApplicationActivation::create_null(),
        .bundle = parts.bundle,
        .homeDirectory = parts.homeDirectory,
        .live = parts.liveDesktopServices,
    });

    root.background = std::make_shared<platform::DetachedTasks>();
    root.background->start(logStartupDiagnostics(root.debugLog, root.settings, parts.bundle, parts.homeDirectory));
    return root;
}

}  // namespace yux

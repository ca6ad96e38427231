#include "session/live_session.hpp"

#include "capture/capture_device_runtime.hpp"
#include "capture/screen_recording_permission.hpp"
#include "model/linux_save_folder_authority.hpp"
#include "model/temporary_directory_scratch_storage.hpp"

namespace yux::testing {

LiveSession::LiveSession(const std::filesystem::path& root, std::shared_ptr<RecordingTrimBoundary> trim) {
    const std::map<std::string, std::string> variables{{"XDG_CONFIG_HOME", (root / "config").string()},
                                                       {"XDG_DATA_HOME", (root / "data").string()},
                                                       {"XDG_CACHE_HOME", (root / "cache").string()}};
    locations = platform::AppLocations::resolve(
        [variables](const std::string& name) -> std::optional<std::string> {
            auto found = variables.find(name);
            if (found == variables.end()) return std::nullopt;
            return found->second;
        },
        root / "home", root / "Videos");
    SaveFolderDefaultLocationPolicy saveFolders;
    saveFolders.videosDirectory = locations.moviesDirectory.string();
    settings = PreferencesFileSettingsStore::create(locations.preferencesFile(), saveFolders);
    auto scratch = TemporaryDirectoryScratchStorage::create(LocalFileSystem(), locations.scratchDirectory().string());
    RecordingExportSessionFactory::Replacements replacements;
    replacements.scratchStorage = scratch;
    replacements.saveFolderAuthority = LinuxSaveFolderAuthority::create(log, saveFolders);
    exports = std::make_shared<RecordingExportSessionFactory>(settings, locations.supportDirectory, log, clock,
                                                              std::move(trim), replacements);
    // No inputs controller: system audio only.
    auto noInputs = []() -> QCoro::Task<X11VideoCapture::RecordingInputs> { co_return X11VideoCapture::RecordingInputs{}; };
    capture = std::make_shared<X11VideoCapture>(
        std::make_shared<X11ScreenRecordingPermission>(X11ScreenRecordingPermission::create()), log,
        CaptureDeviceRuntime::create_null({}), nullptr, noInputs, X11VideoCapture::livePieces());
    session = std::make_shared<RecordingSessionOrchestrator>(RecordingSessionOrchestrator::Collaborators{
        std::make_shared<FullDisplaySelection>(), std::make_shared<OneDisplay>(), settings, exports, scratch, capture,
        nullptr, handler, clock, log});
}

}  // namespace yux::testing

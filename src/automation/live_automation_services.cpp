#include "automation/live_automation_services.hpp"

#include <algorithm>
#include <filesystem>

#include "editor/recording_sources.hpp"
#include "model/app_error.hpp"
#include "platform/async/sleep.hpp"

namespace yux::automation {

std::optional<RecordingSessionState> LiveAutomationEnvironment::sessionState() const {
    if (!services_.session) return std::nullopt;
    return services_.session->state();
}

QCoro::Task<RecordingAutomationDiscovery> LiveAutomationEnvironment::discover() {
    RecordingAutomationDiscovery report;
    report.displays = co_await services_.displays->availableDisplays();
    auto& inputs = *services_.inputs;
    inputs.refreshDevices();
    std::vector<RecordingAutomationDiscovery::Application> applications;
    for (const auto& window : services_.applications->windows()) {
        auto found = std::find_if(applications.begin(), applications.end(), [&](const auto& application) {
            return application.bundleIdentifier == window.bundleIdentifier;
        });
        if (found == applications.end()) {
            applications.push_back({window.bundleIdentifier, window.applicationName, {}});
            found = applications.end() - 1;
        }
        const CaptureRect& frame = window.frame;
        found->windows.push_back(CaptureRect{std::min(frame.x, frame.x + frame.width), std::min(frame.y, frame.y + frame.height),
                                             std::abs(frame.width), std::abs(frame.height)});
    }
    std::stable_sort(applications.begin(), applications.end(),
                     [](const auto& a, const auto& b) { return a.bundleIdentifier < b.bundleIdentifier; });
    report.applications = std::move(applications);
    for (const auto& device : inputs.microphones()) report.microphones.push_back({device.id, device.name});
    for (const auto& device : inputs.cameras()) report.cameras.push_back({device.id, device.name});
    report.screenRecordingAccess = services_.screenPermission && services_.screenPermission->hasAccess();
    report.microphoneAccess = inputs.hasAccess(CaptureInputKind::microphone);
    report.cameraAccess = inputs.hasAccess(CaptureInputKind::camera);
    report.inputPreferences = inputs.preferences();
    report.exportPresets = RecordingPresetCatalog::builtIn();
    co_return report;
}

QCoro::Task<std::vector<DisplayBounds>> LiveRecordingJobServices::availableDisplays() {
    co_return co_await services_.displays->availableDisplays();
}

QCoro::Task<void> LiveRecordingJobServices::startInputs() { co_await services_.inputs->start(); }

QCoro::Task<void> LiveRecordingJobServices::configureInputs(std::optional<std::string> microphoneID,
                                                            std::optional<std::string> cameraID,
                                                            std::optional<CameraPlacement> placement) {
    co_await services_.inputs->configureForAutomation(std::move(microphoneID), std::move(cameraID), std::move(placement));
}

QCoro::Task<std::string> LiveRecordingJobServices::showCameraOverlay(CaptureTarget target,
                                                                     std::vector<DisplayBounds> displays) {
    co_return services_.cameraOverlay->showForAutomation(target, displays);
}

void LiveRecordingJobServices::hideCameraOverlay() { services_.cameraOverlay->hide(); }

QCoro::Task<RecordedTracks> LiveRecordingJobServices::loadTracks(std::string moviePath) {
    const auto sources = co_await RecordingSources::load(std::move(moviePath));
    RecordedTracks tracks;
    const RecordingSource* screen = nullptr;
    for (const auto& source : sources) {
        tracks.kinds[source.id] = source.kind;
        if (!screen && source.kind == RecordingSourceKind::screen) screen = &source;
    }
    if (!screen || !screen->track) throw AppError::outputFinalizationFailed("Screen source missing");
    // Our movies carry no display rotation: the picture is stored upright.
    tracks.screenNaturalSize = Size{static_cast<double>(screen->track->width), static_cast<double>(screen->track->height)};
    co_return tracks;
}

QCoro::Task<bool> LiveRecordingJobServices::movieExists(std::string moviePath) {
    std::error_code error;
    co_return std::filesystem::is_regular_file(moviePath, error);
}

std::shared_ptr<LiveAutomation> LiveAutomation::create(LiveAutomationServices services,
                                                       const std::filesystem::path& automationDirectory,
                                                       std::shared_ptr<DebugLogBoundary> debugLog) {
    auto live = std::make_shared<LiveAutomation>();
    live->environment = std::make_unique<LiveAutomationEnvironment>(services);
    RecordingAutomation::Sleep sleep = [](std::chrono::milliseconds step, platform::CancelToken token) {
        return platform::sleepFor(step, std::move(token));
    };
    live->runner = std::make_unique<RecordingAutomation>(
        AutomationFiles::create(),
        RecordingAutomation::Directories{automationDirectory / "commands", automationDirectory / "responses"},
        *live->environment, debugLog, sleep);
    if (services.session) {
        live->job = std::make_unique<RecordingJob>(
            *live->runner, std::make_shared<OrchestratorAutomationSession>(services.session),
            std::make_shared<LiveRecordingJobServices>(services), debugLog, sleep,
            [] { return std::chrono::steady_clock::now(); });
        live->runner->setRecordJob(live->job->asRecordJob());
    }
    return live;
}

}  // namespace yux::automation

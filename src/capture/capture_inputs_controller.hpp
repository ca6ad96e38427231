#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

#include "capture/capture_device_runtime.hpp"
#include "model/capture_input_preferences.hpp"
#include "model/preferences_file_settings_store.hpp"
#include "platform/async/cancel_token.hpp"
#include "platform/async/shared_task.hpp"
#include "platform/desktop/system_log.hpp"
#include "platform/desktop/system_settings_opener.hpp"

#include <QCoroTask>

namespace yux {

// Decides which microphone and camera a recording takes: keeps the user's input choices,
// lists the devices, starts and stops them through the runtime, meters the microphone and
// shows one status line per kind. Main thread only; every published property has its own
// change signal.
class CaptureInputsController : public QObject {
    Q_OBJECT

public:
    // The input whose access was refused last.
    struct PermissionRequest {
        CaptureInputKind kind;
        std::string deviceID;
        bool operator==(const PermissionRequest&) const = default;
    };
    struct RecordingInputs {
        std::optional<std::string> microphoneID;
        bool cameraEnabled = false;
        bool operator==(const RecordingInputs&) const = default;
    };
    // Suspends the monitor; a cancelled token ends the wait with CancelledError.
    using Sleep = std::function<QCoro::Task<void>(std::chrono::milliseconds, platform::CancelToken)>;

    static constexpr const char* kLogCategory = "CaptureInputs";
    // Lists, messages and the level follow the devices this often.
    static constexpr std::chrono::milliseconds kMonitorInterval{100};
    // A stored phone is listed only once discovery has reached it and it has greeted, after the
    // platform's lists. Start waits this long for it: a first listing, a missed connection and
    // the next listing, two seconds later.
    static constexpr std::chrono::milliseconds kStoredPhoneWait{5000};

    CaptureInputsController(std::shared_ptr<PreferencesFileSettingsStore> settings,
                            std::shared_ptr<CaptureDeviceRuntime> runtime, platform::SystemSettingsOpener settingsOpener,
                            platform::SystemLog log = platform::SystemLog::create(), Sleep sleep = {});
    ~CaptureInputsController() override;

    QCoro::Task<void> start();
    QCoro::Task<void> stop();
    void refreshDevices();

    const std::optional<PermissionRequest>& permissionRequest() const { return permissionRequest_; }
    const CaptureInputPreferences& preferences() const { return preferences_; }
    const std::vector<CaptureDevice>& microphones() const { return microphones_; }
    const std::vector<CaptureDevice>& cameras() const { return cameras_; }
    const std::optional<std::string>& microphoneMessage() const { return microphoneMessage_; }
    const std::optional<std::string>& cameraMessage() const { return cameraMessage_; }
    double level() const { return level_; }
    bool locked() const { return locked_; }
    bool busy() const { return busy_; }
    std::optional<std::uint32_t> cameraWindowID() const { return cameraWindowID_; }
    bool isMonitoring() const { return observation_.has_value(); }

    const std::vector<CaptureDevice>& devices(CaptureInputKind kind) const;
    bool hasAccess(CaptureInputKind kind) const;
    bool enabled(CaptureInputKind kind) const;
    const std::optional<std::string>& message(CaptureInputKind kind) const;
    const std::optional<std::string>& selectedID(CaptureInputKind kind) const;
    // Opens the desktop's settings for the kind. The camera has no settings page here: its
    // message stays and the help says how to give access instead.
    void openSettings(CaptureInputKind kind);
    // How to give Yux access to the kind, as the first-run setup says it.
    static std::string accessInstructions(CaptureInputKind kind);
    // Shown under the kind's message after a settings page could not open; goes with the message.
    const std::optional<std::string>& settingsHelp(CaptureInputKind kind) const;

    QCoro::Task<void> toggle(CaptureInputKind kind);
    QCoro::Task<void> select(CaptureInputKind kind, std::optional<std::string> id);

    RecordingInputs recordingInputs() const;
    void beginRecording();
    void endRecording();
    // The camera overlay's X window id; none while it is hidden.
    void setCameraWindowID(std::optional<std::uint32_t> id);
    QCoro::Task<void> configureForAutomation(std::optional<std::string> microphoneID,
                                             std::optional<std::string> cameraID,
                                             std::optional<CameraPlacement> placement);
    QCoro::Task<void> setRatio(CaptureRatio ratio);
    void setCameraPlacement(const CameraPlacement& placement);
    QCoro::Task<void> savePlacement();
    QCoro::Task<void> finishSetup();

signals:
    void permissionRequestChanged();
    void preferencesChanged();
    void microphonesChanged();
    void camerasChanged();
    void microphoneMessageChanged();
    void cameraMessageChanged();
    void settingsHelpChanged();
    void levelChanged();
    void lockedChanged();
    void busyChanged();

private:
    QCoro::Task<void> load();
    QCoro::Task<void> activate(CaptureInputKind kind, std::optional<std::string> id);
    QCoro::Task<void> persist();
    // False when stop() came while waiting.
    QCoro::Task<bool> waitForStoredPhones(platform::CancelToken token);
    static QCoro::Task<void> monitor(QPointer<CaptureInputsController> controller, platform::CancelToken token,
                                     Sleep sleep);

    void setEnabled(CaptureInputKind kind, bool enabled);
    void setMessage(CaptureInputKind kind, std::optional<std::string> message);
    void setSettingsHelp(CaptureInputKind kind, std::optional<std::string> help);
    void setSelectedID(CaptureInputKind kind, std::string id);
    void setBusy(bool busy);
    void setLocked(bool locked);
    void setPreferences(CaptureInputPreferences preferences);
    void setPermissionRequest(std::optional<PermissionRequest> request);
    bool listed(CaptureInputKind kind, const std::optional<std::string>& id) const;
    void logInfo(const std::string& line) const { log_.info(kLogCategory, line); }

    platform::SystemLog log_;
    std::optional<PermissionRequest> permissionRequest_;
    CaptureInputPreferences preferences_;
    std::vector<CaptureDevice> microphones_;
    std::vector<CaptureDevice> cameras_;
    std::optional<std::string> microphoneMessage_;
    std::optional<std::string> cameraMessage_;
    std::optional<std::string> microphoneSettingsHelp_;
    std::optional<std::string> cameraSettingsHelp_;
    double level_ = 0;
    bool locked_ = false;
    bool busy_ = false;
    std::shared_ptr<CaptureDeviceRuntime> runtime_;
    std::optional<std::uint32_t> cameraWindowID_;
    platform::SystemSettingsOpener settingsOpener_;
    std::shared_ptr<PreferencesFileSettingsStore> settings_;
    Sleep sleep_;
    // The running monitor's cancellation.
    std::optional<platform::CancelToken> observation_;
    // The start's cancellation while it waits for a stored phone.
    std::optional<platform::CancelToken> loading_;
    bool loaded_ = false;
    // The start every caller of start() awaits, until stop().
    std::optional<platform::SharedTask<void>> starting_;
    std::optional<double> phoneAspect_;
};

}  // namespace yux

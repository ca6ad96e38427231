#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <QCoroTask>

#include "capture/capture_device_runtime.hpp"
#include "capture/capture_inputs_controller.hpp"
#include "capture/permission_gate_controller.hpp"
#include "platform/async/cancel_token.hpp"
#include "platform/desktop/system_settings_opener.hpp"

namespace yux {

// Guides the user through microphone and camera access on the first launch (one gate per
// input, each can be skipped), stores that the setup is done, and later opens a gate again for
// an input switched on without access. Never blocks the launch. Main thread only.
class RecordingSetupController : public QObject {
    Q_OBJECT

public:
    enum class Step { microphone, camera };
    // Builds each gate window; the composition root gives the live one, tests a null one.
    using GateFactory = std::function<std::unique_ptr<PermissionGateController>(PermissionGateController::Options)>;

    static constexpr const char* kAppName = "Yux";
    // How often an open gate looks at the access again, and how long it shows a grant.
    static constexpr double kPollInterval = 1.0;
    static constexpr double kGrantedDisplayDuration = 1.8;

    RecordingSetupController(std::shared_ptr<CaptureInputsController> inputs,
                             std::shared_ptr<CaptureDeviceRuntime> devices, platform::SystemSettingsOpener settings,
                             GateFactory makeGate);
    ~RecordingSetupController() override;

    // Always true; the onboarding runs on in the background.
    QCoro::Task<bool> start();
    // Cancels everything and closes any gate.
    void stop();

    // The texts of a step's gate; `progress` only during the onboarding.
    static PermissionGateContent content(Step step, std::optional<std::string> progress);
    // The settings address of a step, as the settings opener maps it.
    static std::string settingsAddress(Step step);

    const PermissionGateController* gate() const { return gate_.get(); }

    // The answer of the open gate: a granted or skipped step, handed over once.
    struct Answer;

private:

    void resume(CaptureInputsController::PermissionRequest request);
    QCoro::Task<bool> ask(Step step, std::optional<std::string> progress, bool openSettings,
                          platform::CancelToken token);
    void complete(bool granted);
    static QCoro::Task<void> onboard(QPointer<RecordingSetupController> self, platform::CancelToken token);
    static QCoro::Task<void> recover(QPointer<RecordingSetupController> self,
                                     CaptureInputsController::PermissionRequest request, platform::CancelToken token);

    std::shared_ptr<CaptureInputsController> inputs_;
    std::shared_ptr<CaptureDeviceRuntime> devices_;
    platform::SystemSettingsOpener settings_;
    GateFactory makeGate_;
    std::optional<QMetaObject::Connection> subscription_;
    std::optional<platform::CancelToken> onboarding_;
    std::optional<platform::CancelToken> recovery_;
    std::unique_ptr<PermissionGateController> gate_;
    std::shared_ptr<Answer> result_;
};

}  // namespace yux

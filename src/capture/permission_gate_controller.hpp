#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QPointer>

#include "platform/async/cancel_token.hpp"
#include "platform/async/timer_source.hpp"
#include "platform/desktop/application_activation.hpp"
#include "platform/desktop/motion_preference.hpp"
#include "platform/desktop/system_settings_opener.hpp"

#include <QCoroTask>

namespace yux {

// The texts of one gate. The first-run setup owns the wording.
struct PermissionGateContent {
    PermissionGateContent(std::string appName_, std::string permissionName_, std::string explanation_,
                          std::string instructions_, std::string enabledMessage_, std::string title_,
                          std::optional<std::string> progress_ = std::nullopt)
        : title(std::move(title_)),
          progress(std::move(progress_)),
          appName(std::move(appName_)),
          permissionName(std::move(permissionName_)),
          explanation(std::move(explanation_)),
          instructions(std::move(instructions_)),
          enabledMessage(std::move(enabledMessage_)) {}

    std::string title;
    std::optional<std::string> progress;  // a small line above the title; none: no line
    std::string appName;
    std::string permissionName;  // "Microphone", "Camera"
    std::string explanation;
    std::string instructions;
    std::string enabledMessage;
};

// What the gate's views show. Only the controller changes it.
class PermissionGateViewState : public QObject {
    Q_OBJECT

public:
    bool isGranted() const { return isGranted_; }
    // The last attempt to open the settings failed.
    bool settingsUnavailable() const { return settingsUnavailable_; }
    // A request for access is on its way.
    bool isPreparing() const { return isPreparing_; }

signals:
    void isGrantedChanged();
    void settingsUnavailableChanged();
    void isPreparingChanged();

private:
    friend class PermissionGateController;
    void setGranted(bool value);
    void setSettingsUnavailable(bool value);
    void setPreparing(bool value);

    bool isGranted_ = false;
    bool settingsUnavailable_ = false;
    bool isPreparing_ = false;
};

// The buttons of the gate's window.
struct PermissionGateActions {
    std::function<void()> openSettings;
    std::function<void()> requestAccess;  // empty when the gate cannot ask
    std::function<void()> skip;           // empty when the step cannot be skipped
    std::function<void()> quit;
};

// The gate's window as the controller drives it: made once, shown and hidden many times.
class PermissionGateSurface {
public:
    virtual ~PermissionGateSurface() = default;
    // Shows it centred, in front of other windows and with the focus.
    virtual void present() = 0;
    // Hides it; it is kept for the next presentation.
    virtual void dismiss() = 0;
};

// What the null platform's windows went through, for tests.
struct PermissionGateWindowRecord {
    int made = 0;
    int presentations = 0;
    bool showing = false;
    std::optional<PermissionGateActions> actions;  // of the window made last
};

// Stands between the user and one permission: explains it, asks for it or sends the user to
// the settings, watches until it is granted, confirms the grant briefly and reports it.
// Main thread only.
class PermissionGateController : public QObject {
    Q_OBJECT

public:
    struct Options {
        PermissionGateContent content;
        // Whether the permission is granted now; called every poll, so it must be cheap.
        std::function<bool()> isGranted;
        platform::SystemSettingsOpener settings;
        std::string settingsURL;
        // Asks for the permission; its answer is not used (the check decides). Empty: the gate
        // offers to open the settings instead. A throw counts as refused.
        std::function<QCoro::Task<bool>()> requestAccess{};
        // Called after the gate has stopped; the gate may be released from inside them.
        std::function<void()> onGranted{};
        std::function<void()> onSkip{};
        bool openSettingsOnDenied = false;
        bool openSettingsOnActivation = false;
        double pollInterval = 1.0;            // seconds
        double grantedDisplayDuration = 1.8;  // seconds
    };

    using WindowMaker = std::function<std::unique_ptr<PermissionGateSurface>(
        const PermissionGateContent&, PermissionGateViewState&, PermissionGateActions)>;

    struct Platform {
        platform::ApplicationActivation activation;
        platform::TimerSource timers;
        WindowMaker makeWindow;
        // Null platforms only: what their windows went through.
        std::shared_ptr<PermissionGateWindowRecord> windows;

        // Real windows (needs a QApplication) and event-loop timers.
        static Platform create(platform::ApplicationActivation activation,
                               platform::MotionPreference motion = platform::MotionPreference::create());
        // Recorded windows, a null activation and timers that move only when advanced.
        static Platform create_null(
            platform::ApplicationActivation activation = platform::ApplicationActivation::create_null());
    };

    PermissionGateController(Options options, Platform platform, QObject* parent = nullptr);
    ~PermissionGateController() override;

    // Starts watching; shows the window unless the permission is already granted. Does nothing
    // while started.
    void start();
    // Ends everything without calling back: the request in flight, both timers, the window.
    void stop();
    void openSettings();

    const PermissionGateViewState& viewState() const { return viewState_; }
    bool isStarted() const { return pollTimer_ != nullptr; }
    bool isPresenting() const { return isPresenting_; }
    bool isShowingGranted() const { return isShowingGranted_; }
    bool isRequesting() const { return requesting_; }

private:
    static QCoro::Task<void> runRequest(QPointer<PermissionGateController> self,
                                        std::function<QCoro::Task<bool>()> request, platform::CancelToken token);
    bool granted() const;
    void check();
    void presentGate();
    void handleGranted();
    void grantedTimerFired();
    void handleRequestAccess();
    void requestReturned();
    void dismissGate();
    void skip();
    // Stops, then calls `callback`; touches nothing of the gate afterwards.
    void stopAndCall(const std::function<void()>& callback);

    Options options_;
    Platform platform_;
    PermissionGateViewState viewState_;
    std::unique_ptr<PermissionGateSurface> window_;
    std::unique_ptr<platform::ScheduledTimer> pollTimer_;
    std::unique_ptr<platform::ScheduledTimer> grantedTimer_;
    std::optional<platform::CancelToken> requestToken_;
    bool requesting_ = false;
    bool isPresenting_ = false;
    bool isShowingGranted_ = false;
    platform::ApplicationActivation::Policy restingPolicy_ = platform::ApplicationActivation::Policy::accessory;
};

}  // namespace yux

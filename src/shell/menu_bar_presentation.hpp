#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

#include "platform/desktop/application_activation.hpp"
#include "platform/desktop/launch_at_startup.hpp"
#include "platform/updates/app_update_controller.hpp"
#include "shell/menu_bar_panel.hpp"
#include "shell/status_item.hpp"

class QWidget;

namespace yux {

// The tray face of Yux: the status item and the panel that opens below it. The panel is built
// on the first opening and kept until stop(). Without a system tray the panel is a small normal
// window from the start, with a task-bar entry; closing it minimises it. Main thread only.
class MenuBarPresentation : public QObject {
    Q_OBJECT

public:
    // A toggle this soon after the panel closed is the same click that closed it.
    static constexpr qint64 kReopenGuardMilliseconds = 250;

    struct Parts {
        MenuBarIntentHandling& intentHandler;
        MenuBarStateProviding& stateProvider;
        MenuBarPanel::Services panel;
        std::unique_ptr<StatusItem> statusItem;
        platform::ApplicationActivation activation;
        // The recording shortcut pressed while the panel holds the keyboard: the panel closes
        // and this runs, as the global hot key would.
        std::function<void()> onRecordingShortcut;
        // Milliseconds of a steady clock; the cursor position.
        std::function<qint64()> clock;
        std::function<QPoint()> cursor;
        // The update checks, started with the presentation, and the launch-at-login switch;
        // either may be absent (tests).
        std::shared_ptr<platform::AppUpdateController> updates;
        std::shared_ptr<platform::LaunchAtStartup> login;
    };

    static std::unique_ptr<MenuBarPresentation> create(Parts parts);
    explicit MenuBarPresentation(Parts parts);
    ~MenuBarPresentation() override;

    void start();
    void togglePanel();
    void open();
    void stop();

    bool isStarted() const { return started_; }
    bool isPanelShown() const;
    // Null before the first opening and after stop().
    MenuBarPanel* panel() const { return panel_; }
    QWidget* window() const { return window_; }
    StatusItem& statusItem() const { return *parts_.statusItem; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build(bool popup);
    void placeBelowIcon();
    void closed();

    Parts parts_;
    bool started_ = false;
    bool popup_ = true;
    QPointer<QWidget> window_;
    MenuBarPanel* panel_ = nullptr;
    qint64 closedAt_ = -1;
};

}  // namespace yux

#pragma once

#include <QWidget>

#include "capture/permission_gate_controller.hpp"
#include "platform/desktop/application_activation.hpp"

namespace yux {

class PermissionGateView;

// The gate's own top-level window: frameless, above other windows, on every desktop, moved by
// dragging its background and as large as its view. Only its own buttons end it: a close
// request from the window manager is refused.
class PermissionGateWindow : public QWidget {
    Q_OBJECT

public:
    PermissionGateWindow(const PermissionGateContent& content, const PermissionGateViewState& state,
                         PermissionGateActions actions, bool reduceMotion, platform::ApplicationActivation activation);

    // Marks the window for the window manager, centres it on the primary screen and brings it
    // to the front with the focus.
    void present();
    PermissionGateView& view() const { return *view_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    PermissionGateView* view_;
    QWidget* outline_;
    platform::ApplicationActivation activation_;
};

}  // namespace yux

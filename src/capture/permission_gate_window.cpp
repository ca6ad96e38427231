#include "capture/permission_gate_window.hpp"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "capture/permission_gate_view.hpp"

namespace yux {

namespace {

// A frameless window gets no decoration from the window manager: a hairline keeps it apart
// from a window of the same colour behind it.
class Outline : public QWidget {
public:
    explicit Outline(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QColor line = palette().color(QPalette::WindowText);
        line.setAlphaF(0.25);
        painter.setPen(line);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

}  // namespace

PermissionGateWindow::PermissionGateWindow(const PermissionGateContent& content, const PermissionGateViewState& state,
                                           PermissionGateActions actions, bool reduceMotion,
                                           platform::ApplicationActivation activation)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      activation_(std::move(activation)) {
    setObjectName("permission-gate-window");
    setWindowTitle(tr("%1 Permission Required").arg(QString::fromStdString(content.permissionName)));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The window follows the view's size, which follows its content.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    view_ = new PermissionGateView(content, state, std::move(actions), reduceMotion, this);
    layout->addWidget(view_);
    outline_ = new Outline(this);
}

void PermissionGateWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    outline_->setGeometry(rect());
    outline_->raise();
}

void PermissionGateWindow::present() {
    // The window manager forgets the marks of a withdrawn window: set them before each show.
    activation_.prepareWindow(*this);
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
}

void PermissionGateWindow::closeEvent(QCloseEvent* event) {
    // A close from the window manager (Alt+F4) would leave the gate thinking it shows; the
    // application quitting closes it for good.
    if (event->spontaneous()) event->ignore();
    else event->accept();
}

void PermissionGateWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && windowHandle() != nullptr && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void PermissionGateWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}

namespace {

// Holds the window for the controller. Dropped, it goes later, not at once: the controller
// may be released from inside one of the window's own button presses.
class LiveGateWindow : public PermissionGateSurface {
public:
    explicit LiveGateWindow(PermissionGateWindow* window) : window_(window) {}
    ~LiveGateWindow() override {
        if (window_) {
            window_->hide();
            window_->deleteLater();
        }
    }
    void present() override {
        if (window_) window_->present();
    }
    void dismiss() override {
        if (window_) window_->hide();
    }

private:
    QPointer<PermissionGateWindow> window_;
};

}  // namespace

PermissionGateController::Platform PermissionGateController::Platform::create(platform::ApplicationActivation activation,
                                                                               platform::MotionPreference motion) {
    WindowMaker maker = [activation, motion](const PermissionGateContent& content, PermissionGateViewState& state,
                                             PermissionGateActions actions) -> std::unique_ptr<PermissionGateSurface> {
        return std::make_unique<LiveGateWindow>(
            new PermissionGateWindow(content, state, std::move(actions), motion.reduceMotion(), activation));
    };
    return {activation, platform::TimerSource::create(), std::move(maker), nullptr};
}

}  // namespace yux

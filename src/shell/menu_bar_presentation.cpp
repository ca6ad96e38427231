#include "shell/menu_bar_presentation.hpp"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "platform/desktop/symbol_painter.hpp"
#include "shell/menu_bar_panel_view_model.hpp"
#include "shell/record_tab.hpp"
#include "shell/recording_shortcut_recorder.hpp"

namespace yux {

namespace {

// Trays ask for sizes from 16 to 48 pixels; each gets a sharp picture.
QIcon trayIcon(const QColor& colour) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48}) {
        icon.addPixmap(platform::SymbolPainter::icon(platform::Symbol::recordCircle, colour, size).pixmap(size, size));
    }
    return icon;
}

}  // namespace

std::unique_ptr<MenuBarPresentation> MenuBarPresentation::create(Parts parts) {
    if (!parts.statusItem) parts.statusItem = StatusItem::create();
    if (!parts.clock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        parts.clock = [timer] { return timer->elapsed(); };
    }
    if (!parts.cursor) parts.cursor = [] { return QCursor::pos(); };
    return std::make_unique<MenuBarPresentation>(std::move(parts));
}

MenuBarPresentation::MenuBarPresentation(Parts parts) : parts_(std::move(parts)) {}

MenuBarPresentation::~MenuBarPresentation() { stop(); }

bool MenuBarPresentation::isPanelShown() const { return window_ && window_->isVisible(); }

void MenuBarPresentation::start() {
    if (started_) return;
    started_ = true;
    if (parts_.updates) parts_.updates->start();
    if (parts_.statusItem->isAvailable()) {
        // The tray's own background is unknown (often dark while windows are light): the accent
        // reads on both, where the window text would vanish on a dark panel.
        parts_.statusItem->show(trayIcon(QApplication::palette().color(QPalette::Active, QPalette::Highlight)),
                                QStringLiteral("Yux"),
                                [this] { togglePanel(); },
                                StatusItem::Menu{.open = [this] { open(); },
                                                 .quit = [this] {
                                                     if (parts_.panel.quit) parts_.panel.quit();
                                                 }});
        return;
    }
    // No tray to live in: a plain window keeps the program usable.
    parts_.activation.setPolicy(platform::ApplicationActivation::Policy::regular);
    open();
}

void MenuBarPresentation::togglePanel() {
    if (isPanelShown()) {
        window_->hide();
        return;
    }
    if (closedAt_ >= 0 && parts_.clock() - closedAt_ < kReopenGuardMilliseconds) return;
    open();
}

void MenuBarPresentation::open() {
    if (!started_) return;
    if (!window_) build(parts_.statusItem->isShown());
    if (popup_) {
        window_->adjustSize();
        placeBelowIcon();
        window_->show();
        window_->activateWindow();
        window_->setFocus(Qt::PopupFocusReason);
    } else {
        parts_.activation.prepareWindow(*window_);
        window_->showNormal();
        window_->raise();
        window_->activateWindow();
    }
    parts_.activation.activate();
}

void MenuBarPresentation::stop() {
    if (window_) {
        qApp->removeEventFilter(this);
        // Hidden first, while whole: a shortcut capture ends and its model's answer redraws a
        // panel that is still there.
        window_->hide();
        delete window_.data();
    }
    panel_ = nullptr;
    parts_.statusItem->hide();
    started_ = false;
}

void MenuBarPresentation::build(bool popup) {
    popup_ = popup;
    window_ = new QWidget(nullptr, popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window);
    window_->setWindowTitle(QStringLiteral("Yux"));
    window_->setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    MenuBarPanel::Services services = parts_.panel;
    services.updates = parts_.updates.get();
    services.login = parts_.login.get();
    panel_ = new MenuBarPanel(parts_.intentHandler, parts_.stateProvider, services, window_);
    layout->addWidget(panel_);
    connect(panel_->recordTab(), &RecordTab::primaryActionRequested, this, [this] {
        if (popup_ && window_) window_->hide();
    });
    window_->installEventFilter(this);
    qApp->installEventFilter(this);
}

void MenuBarPresentation::placeBelowIcon() {
    const QSize size = window_->size();
    // Until the tray has placed the icon, its geometry reads as the origin; the cursor, which
    // just clicked the icon, is the better guess then.
    QRect icon = parts_.statusItem->geometry();
    if (icon.topLeft() == QPoint(0, 0)) icon = QRect();
    QPoint anchor = icon.isValid() ? QPoint(icon.center().x(), icon.bottom() + 1) : parts_.cursor();
    QScreen* screen = QGuiApplication::screenAt(icon.isValid() ? icon.center() : anchor);
    if (!screen) screen = QGuiApplication::primaryScreen();
    QPoint topLeft(anchor.x() - size.width() / 2, anchor.y());
    if (screen) {
        const QRect area = screen->availableGeometry();
        // A tray at the bottom of the screen: open above the icon instead.
        if (topLeft.y() + size.height() > area.bottom() && icon.isValid()) topLeft.setY(icon.top() - size.height());
        topLeft.setX(std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() + 1 - size.width())));
        topLeft.setY(std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height())));
    }
    window_->move(topLeft);
}

bool MenuBarPresentation::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        if (event->type() == QEvent::Hide) closedAt_ = parts_.clock();
        // A page of another height keeps the popup against its icon.
        if (event->type() == QEvent::Resize && popup_ && window_->isVisible()) placeBelowIcon();
        if (event->type() == QEvent::Close && !popup_) {
            // The window is the program's only face here: closing it keeps it in the task bar.
            event->ignore();
            window_->showMinimized();
            return true;
        }
        return false;
    }
    // The popup holds the keyboard, so the global hot key cannot fire while it is open.
    if (event->type() != QEvent::KeyPress || !popup_ || !isPanelShown() || !panel_) return false;
    auto* target = qobject_cast<QWidget*>(watched);
    if (!target || target->window() != window_.data()) return false;
    const auto& press = static_cast<const QKeyEvent&>(*event);
    if (press.isAutoRepeat() || panel_->recordTab()->shortcutRecorder()->isCapturing()) return false;
    const auto& saved = panel_->model().persistedSettings();
    if (!saved) return false;
    const ShortcutKeys keys = shortcutKeysOf(press);
    if (keys.keyCode != saved->recordingShortcut.keyCode() || keys.modifiers != saved->recordingShortcut.modifiers()) {
        return false;
    }
    window_->hide();
    if (parts_.onRecordingShortcut) parts_.onRecordingShortcut();
    return true;
}

}  // namespace yux

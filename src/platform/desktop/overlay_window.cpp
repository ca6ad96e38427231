#include "platform/desktop/overlay_window.hpp"

#include <algorithm>
#include <vector>

#include <QApplication>
#include <QGuiApplication>
#include <QVariant>

namespace yux::platform {

namespace {

constexpr const char* kLevelProperty = "yuxOverlayLevel";

}  // namespace

void makeOverlayWindow(QWidget& window, OverlayLevel level, bool clickThrough, bool takesFocus) {
    Qt::WindowFlags flags =
        Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint;
    if (clickThrough) flags |= Qt::WindowTransparentForInput;
    if (!takesFocus) flags |= Qt::WindowDoesNotAcceptFocus;
    window.setWindowFlags(flags);
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    window.setProperty(kLevelProperty, static_cast<int>(level));
}

OverlayLevel overlayLevel(const QWidget& window) {
    return static_cast<OverlayLevel>(window.property(kLevelProperty).toInt());
}

void restackOverlays() {
    // Only X11 stacks windows; other platforms (the offscreen one of tests) have nothing to raise.
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
    std::vector<QWidget*> overlays;
    std::vector<QWidget*> popups;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible()) continue;
        if (widget->property(kLevelProperty).isValid()) overlays.push_back(widget);
        else if (widget->windowType() == Qt::Popup || widget->windowType() == Qt::ToolTip) popups.push_back(widget);
    }
    std::stable_sort(overlays.begin(), overlays.end(), [](QWidget* a, QWidget* b) {
        return a->property(kLevelProperty).toInt() < b->property(kLevelProperty).toInt();
    });
    for (QWidget* widget : overlays) widget->raise();
    for (QWidget* widget : popups) widget->raise();
}

}  // namespace yux::platform

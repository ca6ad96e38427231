#pragma once

#include <QWidget>

namespace yux::platform {

// Stacking levels of our overlay windows; a higher level stays above a lower one. Windows of
// one level keep no order among themselves, so windows that overlap have levels of their own.
enum class OverlayLevel : int {
    selection = 1000,      // the selection overlay and the recording highlight
    recordingTray = 1001,  // above the highlight, whose dim would otherwise cover it
    cameraGhost = 1002,
    cameraImage = 1003,
    cameraGuides = 1004,
    cameraTools = 1005,
};

// Makes a top-level widget a frameless overlay above every other window: override-redirect,
// so no window manager decorates, moves or lists it; `clickThrough` lets every click reach
// the windows below. Only a window that `takesFocus` can get the keyboard, and it gets it only
// when activated (an override-redirect window is then given X input focus directly).
void makeOverlayWindow(QWidget& window, OverlayLevel level, bool clickThrough, bool takesFocus = false);
OverlayLevel overlayLevel(const QWidget& window);

// Raises our visible overlays above all other windows, by level, and our open menus and
// tooltips above them. Run at every show and on a short poll, since a window raised later by
// the window manager would otherwise cover them.
void restackOverlays();

}  // namespace yux::platform

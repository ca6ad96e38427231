#pragma once

#include <QWidget>

namespace yux::platform {

// Stacking levels of our overlay windows; a higher level stays above a lower one.
enum class OverlayLevel : int {
    selection = 1000,  // the selection overlay, the recording highlight and the tray
    cameraGhost = 1001,
    cameraImage = 1002,
    cameraGuides = 1003,
    cameraTools = 1004,
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

#pragma once

namespace yux::platform {

class X11Connection;

// Whether a compositing manager owns _NET_WM_CM_S<screen> on $DISPLAY; without one a
// translucent window shows black where it is transparent. False when there is no X server.
bool compositingManagerRunning();
// The same on an open connection's default screen.
bool compositingManagerRunning(X11Connection& connection);

}  // namespace yux::platform

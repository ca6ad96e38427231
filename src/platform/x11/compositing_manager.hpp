#pragma once

namespace yux::platform {

// Whether a compositing manager owns _NET_WM_CM_S<screen> on $DISPLAY; without one a
// translucent window shows black where it is transparent. False when there is no X server.
bool compositingManagerRunning();

}  // namespace yux::platform

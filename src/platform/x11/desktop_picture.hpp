#pragma once

#include <xcb/render.h>
#include <xcb/xfixes.h>

#include <memory>
#include <vector>

#include "platform/x11/x11_desktop.hpp"

namespace yux::platform {

// The desktop under the windows of one region, as a Render picture for a composited frame
// source to paint first. Windows redirected into pictures of their own leave nothing of the
// root window's drawing beneath them, so this keeps a copy: the root window's background
// (whatever set it) painted into a window of ours beyond the screen's edge, and over it what
// the root window itself shows wherever no window covers it. Under a compositing manager the
// root is hidden: the wallpaper that setters publish (_XROOTPMAP_ID) is used, else the
// background. Lives on its frame source's connection and thread; frees what it made on the
// server when destroyed.
class DesktopPicture {
public:
    // `rootFormat`: the picture format of the root window's visual. Throws std::runtime_error
    // when the server refuses what it needs.
    DesktopPicture(X11Connection& connection, PixelRect region, xcb_render_pictformat_t rootFormat,
                   bool underCompositingManager);
    ~DesktopPicture();
    DesktopPicture(const DesktopPicture&) = delete;
    DesktopPicture& operator=(const DesktopPicture&) = delete;

    // Paints the region's desktop into `canvas` at (0, 0) within the canvas's clip.
    void paint(xcb_render_picture_t canvas);
    // Reads the background and the root again: a wallpaper setter published a new pixmap.
    void refresh();
    // Reads the background again within `parts` (picture coordinates): where windows that the
    // pictures leave out cover the root on screen, the root's damage never tells of a new
    // background (`xsetroot -solid` sets no property either).
    void refreshUnder(const std::vector<PixelRect>& parts);
    // Copies what the root window itself shows inside `changed` (root coordinates, e.g. the
    // root's damage); parts that windows cover on screen keep what they had.
    void followRoot(xcb_xfixes_region_t changed);
    // Whether followRoot has anything to do: the root window shows on screen.
    bool followsRoot() const { return !underCompositingManager_; }

private:
    void useWallpaper();
    void copyBackground(const PixelRect& part);

    X11Connection& connection_;
    PixelRect region_;
    xcb_render_pictformat_t rootFormat_;
    bool underCompositingManager_;
    // The background drawn by the server into a window of ours beyond the screen's edge.
    xcb_window_t backdrop_ = 0;
    // The region's copy of the root window.
    xcb_pixmap_t pixmap_ = 0;
    xcb_render_picture_t picture_ = 0;
    xcb_gcontext_t copying_ = 0;
    // The published wallpaper, painted instead when in use.
    xcb_pixmap_t wallpaperPixmap_ = 0;
    xcb_render_picture_t wallpaper_ = 0;
};

}  // namespace yux::platform

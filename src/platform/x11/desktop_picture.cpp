#include "platform/x11/desktop_picture.hpp"

#include <algorithm>
#include <stdexcept>

namespace yux::platform {

DesktopPicture::DesktopPicture(X11Connection& connection, PixelRect region, xcb_render_pictformat_t rootFormat,
                               bool underCompositingManager)
    : connection_(connection), region_(region), rootFormat_(rootFormat),
      underCompositingManager_(underCompositingManager) {
    xcb_connection_t* c = connection_.raw();
    const xcb_screen_t* screen = connection_.screen();
    const auto width = static_cast<std::uint16_t>(region_.width);
    const auto height = static_cast<std::uint16_t>(region_.height);

    pixmap_ = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, pixmap_, connection_.root(), width, height);
    picture_ = xcb_generate_id(c);
    xcb_render_create_picture(c, picture_, pixmap_, rootFormat_, 0, nullptr);
    // Copies from the root clip by its children: what windows cover on screen is never copied,
    // so our own windows cannot leak in, whatever they do meanwhile.
    copying_ = xcb_generate_id(c);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(c, copying_, pixmap_, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);

    // The server paints the root's background into a window whose background is its parent's;
    // redirected, it holds its whole picture though no part of it is on screen. One screen
    // width to the left lines up a screen-sized wallpaper tiled from the root's origin.
    backdrop_ = xcb_generate_id(c);
    const std::uint32_t values[] = {XCB_BACK_PIXMAP_PARENT_RELATIVE, 1};
    auto cookie = xcb_create_window_checked(
        c, XCB_COPY_FROM_PARENT, backdrop_, connection_.root(),
        static_cast<std::int16_t>(region_.x - screen->width_in_pixels), static_cast<std::int16_t>(region_.y), width,
        height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT,
        values);
    XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
    if (error) {
        backdrop_ = 0;
        throw std::runtime_error("The X server cannot draw the desktop's background.");
    }
    xcb_map_window(c, backdrop_);
    refresh();
}

DesktopPicture::~DesktopPicture() {
    xcb_connection_t* c = connection_.raw();
    if (backdrop_ != 0) xcb_destroy_window(c, backdrop_);
    if (wallpaper_ != 0) xcb_render_free_picture(c, wallpaper_);
    xcb_render_free_picture(c, picture_);
    xcb_free_pixmap(c, pixmap_);
    xcb_free_gc(c, copying_);
    xcb_flush(c);
}

void DesktopPicture::paint(xcb_render_picture_t canvas) {
    const bool wallpaper = wallpaper_ != 0;
    xcb_render_composite(connection_.raw(), XCB_RENDER_PICT_OP_SRC, wallpaper ? wallpaper_ : picture_, XCB_NONE,
                         canvas, static_cast<std::int16_t>(wallpaper ? region_.x : 0),
                         static_cast<std::int16_t>(wallpaper ? region_.y : 0), 0, 0, 0, 0,
                         static_cast<std::uint16_t>(region_.width), static_cast<std::uint16_t>(region_.height));
}

void DesktopPicture::refresh() {
    if (underCompositingManager_) useWallpaper();
    copyBackground({0, 0, region_.width, region_.height});
    if (followsRoot()) followRoot(XCB_NONE);
}

void DesktopPicture::refreshUnder(const std::vector<PixelRect>& parts) {
    for (const auto& part : parts) copyBackground(part);
}

void DesktopPicture::copyBackground(const PixelRect& part) {
    const int left = std::max(part.x, 0);
    const int top = std::max(part.y, 0);
    const int right = std::min(part.x + part.width, region_.width);
    const int bottom = std::min(part.y + part.height, region_.height);
    if (right <= left || bottom <= top) return;
    const auto x = static_cast<std::int16_t>(left);
    const auto y = static_cast<std::int16_t>(top);
    const auto width = static_cast<std::uint16_t>(right - left);
    const auto height = static_cast<std::uint16_t>(bottom - top);
    xcb_connection_t* c = connection_.raw();
    xcb_clear_area(c, 0, backdrop_, x, y, width, height);
    const std::uint32_t noClip = XCB_NONE;
    xcb_change_gc(c, copying_, XCB_GC_CLIP_MASK, &noClip);
    xcb_copy_area(c, backdrop_, pixmap_, copying_, x, y, x, y, width, height);
}

void DesktopPicture::followRoot(xcb_xfixes_region_t changed) {
    xcb_connection_t* c = connection_.raw();
    if (changed == XCB_NONE) {
        const std::uint32_t noClip = XCB_NONE;
        xcb_change_gc(c, copying_, XCB_GC_CLIP_MASK, &noClip);
    } else {
        xcb_xfixes_set_gc_clip_region(c, copying_, changed, static_cast<std::int16_t>(-region_.x),
                                      static_cast<std::int16_t>(-region_.y));
    }
    xcb_copy_area(c, connection_.root(), pixmap_, copying_, static_cast<std::int16_t>(region_.x),
                  static_cast<std::int16_t>(region_.y), 0, 0, static_cast<std::uint16_t>(region_.width),
                  static_cast<std::uint16_t>(region_.height));
}

void DesktopPicture::useWallpaper() {
    xcb_connection_t* c = connection_.raw();
    auto published = connection_.cardinals(connection_.root(), connection_.atom("_XROOTPMAP_ID"), XCB_ATOM_PIXMAP, 1);
    const xcb_pixmap_t pixmap = published && !published->empty() ? published->front() : 0;
    if (pixmap == wallpaperPixmap_ && (wallpaper_ != 0 || pixmap == 0)) return;
    if (wallpaper_ != 0) xcb_render_free_picture(c, wallpaper_);
    wallpaper_ = 0;
    wallpaperPixmap_ = pixmap;
    if (pixmap == 0) return;
    // Tiled from the root's origin, as the root shows a background smaller than the screen.
    const std::uint32_t repeat = XCB_RENDER_REPEAT_NORMAL;
    xcb_render_picture_t picture = xcb_generate_id(c);
    auto cookie = xcb_render_create_picture_checked(c, picture, pixmap, rootFormat_, XCB_RENDER_CP_REPEAT, &repeat);
    XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
    if (!error) wallpaper_ = picture;
}

}  // namespace yux::platform

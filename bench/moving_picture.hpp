#pragma once

// A full-screen window of a client of its own whose picture changes at every step: bands that
// slide across, as a video or an animation keeps the whole screen changing.

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>

namespace yux::bench {

class MovingPicture {
public:
    MovingPicture(int width, int height) : width_(width), height_(height) {
        c_ = xcb_connect(nullptr, nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        const std::uint32_t values[] = {screen->black_pixel, 1};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, static_cast<std::uint16_t>(width),
                          static_cast<std::uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c_, window_);
        gc_ = xcb_generate_id(c_);
        xcb_create_gc(c_, gc_, window_, 0, nullptr);
    }
    ~MovingPicture() { xcb_disconnect(c_); }
    MovingPicture(const MovingPicture&) = delete;
    MovingPicture& operator=(const MovingPicture&) = delete;

    // The bands at `step`; each colour channel at most `brightest`.
    void paintBands(std::int64_t step, std::uint32_t brightest = 0xff) {
        for (int band = 0; band < 8; ++band) {
            std::uint32_t colour = static_cast<std::uint32_t>((step * 7 + band * 40) & brightest) << ((band % 3) * 8);
            xcb_change_gc(c_, gc_, XCB_GC_FOREGROUND, &colour);
            int x = static_cast<int>((step * 16 + band * width_ / 8) % width_);
            xcb_rectangle_t rect{static_cast<std::int16_t>(x), 0, static_cast<std::uint16_t>(width_ / 8),
                                 static_cast<std::uint16_t>(height_)};
            xcb_poly_fill_rectangle(c_, window_, gc_, 1, &rect);
        }
    }
    void paintWhite() {
        std::uint32_t white = 0xffffff;
        xcb_change_gc(c_, gc_, XCB_GC_FOREGROUND, &white);
        xcb_rectangle_t all{0, 0, static_cast<std::uint16_t>(width_), static_cast<std::uint16_t>(height_)};
        xcb_poly_fill_rectangle(c_, window_, gc_, 1, &all);
    }
    // Returns once the server has carried out everything painted so far: it shows now.
    void sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

private:
    int width_;
    int height_;
    xcb_connection_t* c_;
    xcb_window_t window_;
    xcb_gcontext_t gc_;
};

}  // namespace yux::bench

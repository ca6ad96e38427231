#include "support/x11_test_window.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace yux::testing {

namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t atom = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

}  // namespace

X11TestWindow::X11TestWindow(const Options& options)
    : connection_(xcb_connect(nullptr, nullptr)),
      managed_(!options.overrideRedirect),
      drawnOnly_(options.drawnOnly),
      rgb_(options.rgb) {
    if (xcb_connection_has_error(connection_) != 0) throw std::runtime_error("no X server for the test window");
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    const std::uint32_t values[] = {options.drawnOnly ? static_cast<std::uint32_t>(XCB_BACK_PIXMAP_NONE) : options.rgb,
                                    options.overrideRedirect ? 1u : 0u, XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, static_cast<std::int16_t>(options.x),
                      static_cast<std::int16_t>(options.y), static_cast<std::uint16_t>(options.width),
                      static_cast<std::uint16_t>(options.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      (options.drawnOnly ? XCB_CW_BACK_PIXMAP : XCB_CW_BACK_PIXEL) | XCB_CW_OVERRIDE_REDIRECT |
                          XCB_CW_EVENT_MASK,
                      values);
    if (!options.applicationClass.empty()) {
        std::string instanceAndClass = options.applicationClass + '\0' + options.applicationClass + '\0';
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            static_cast<std::uint32_t>(instanceAndClass.size()), instanceAndClass.data());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            static_cast<std::uint32_t>(options.applicationClass.size()), options.applicationClass.data());
    }
    if (options.processID) {
        std::uint32_t pid = static_cast<std::uint32_t>(*options.processID);
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, internAtom(connection_, "_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &pid);
    }
    if (!options.overrideRedirect) {
        // Ask the window manager to keep the requested position.
        std::uint32_t hints[18] = {};
        hints[0] = 1 | 4 | 8;  // USPosition, PPosition, PSize
        hints[1] = static_cast<std::uint32_t>(options.x);
        hints[2] = static_cast<std::uint32_t>(options.y);
        hints[3] = static_cast<std::uint32_t>(options.width);
        hints[4] = static_cast<std::uint32_t>(options.height);
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
    }
    xcb_map_window(connection_, window_);
    xcb_flush(connection_);
}

X11TestWindow::~X11TestWindow() {
    if (managed_) {
        // Let the window manager let go of the window first: destroying it at once and a new
        // connection reusing its id could meet stale window manager state.
        xcb_unmap_window(connection_, window_);
        xcb_flush(connection_);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        xcb_atom_t clientList = internAtom(connection_, "_NET_CLIENT_LIST");
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (std::chrono::steady_clock::now() < deadline) {
            auto* reply = xcb_get_property_reply(
                connection_, xcb_get_property(connection_, 0, screen->root, clientList, XCB_ATOM_WINDOW, 0, 4096), nullptr);
            bool listed = false;
            if (reply != nullptr) {
                auto* ids = static_cast<xcb_window_t*>(xcb_get_property_value(reply));
                for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i) listed = listed || ids[i] == window_;
            }
            std::free(reply);
            if (!listed) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    xcb_destroy_window(connection_, window_);
    xcb_flush(connection_);
    xcb_disconnect(connection_);
}

bool X11TestWindow::waitUntilViewable() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline) {
        auto* attributes =
            xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window_), nullptr);
        bool viewable = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        if (viewable) {
            if (drawnOnly_) fill(rgb_);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::pair<int, int> X11TestWindow::rootPosition() {
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    auto* reply = xcb_translate_coordinates_reply(connection_,
                                                  xcb_translate_coordinates(connection_, window_, screen->root, 0, 0), nullptr);
    std::pair<int, int> position{reply != nullptr ? reply->dst_x : 0, reply != nullptr ? reply->dst_y : 0};
    std::free(reply);
    return position;
}

void X11TestWindow::move(int x, int y) {
    const std::uint32_t values[] = {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)};
    xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    xcb_flush(connection_);
}

void X11TestWindow::fill(std::uint32_t rgb, int x, int y, int width, int height) {
    xcb_change_window_attributes(connection_, window_, XCB_CW_BACK_PIXEL, &rgb);
    xcb_clear_area(connection_, 0, window_, static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                   static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height));
    if (drawnOnly_) {
        const std::uint32_t none = XCB_BACK_PIXMAP_NONE;
        xcb_change_window_attributes(connection_, window_, XCB_CW_BACK_PIXMAP, &none);
    }
    sync();
}

X11RootBackground::X11RootBackground(Setter setter, std::uint32_t rgb)
    : setter_(setter), connection_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(connection_) != 0) throw std::runtime_error("no X server for the root background");
    set(rgb);
}

X11RootBackground::~X11RootBackground() {
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    xcb_delete_property(connection_, screen->root, internAtom(connection_, "_XROOTPMAP_ID"));
    const std::uint32_t black = 0;
    xcb_change_window_attributes(connection_, screen->root, XCB_CW_BACK_PIXEL, &black);
    xcb_clear_area(connection_, 0, screen->root, 0, 0, 0, 0);
    if (pixmap_ != 0) xcb_free_pixmap(connection_, pixmap_);
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    xcb_disconnect(connection_);
}

void X11RootBackground::set(std::uint32_t rgb) {
    if (setter_ == Setter::xsetroot) {
        char colour[16];
        std::snprintf(colour, sizeof colour, "#%06x", rgb & 0xffffff);
        if (std::system(("xsetroot -solid '" + std::string(colour) + "'").c_str()) != 0) {
            throw std::runtime_error("xsetroot failed");
        }
        return;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    xcb_pixmap_t previous = pixmap_;
    pixmap_ = xcb_generate_id(connection_);
    xcb_create_pixmap(connection_, screen->root_depth, pixmap_, screen->root, screen->width_in_pixels,
                      screen->height_in_pixels);
    xcb_gcontext_t gc = xcb_generate_id(connection_);
    xcb_create_gc(connection_, gc, pixmap_, XCB_GC_FOREGROUND, &rgb);
    xcb_rectangle_t all{0, 0, screen->width_in_pixels, screen->height_in_pixels};
    xcb_poly_fill_rectangle(connection_, pixmap_, gc, 1, &all);
    xcb_free_gc(connection_, gc);
    xcb_change_window_attributes(connection_, screen->root, XCB_CW_BACK_PIXMAP, &pixmap_);
    xcb_clear_area(connection_, 0, screen->root, 0, 0, 0, 0);
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, screen->root, internAtom(connection_, "_XROOTPMAP_ID"),
                        XCB_ATOM_PIXMAP, 32, 1, &pixmap_);
    if (previous != 0) xcb_free_pixmap(connection_, previous);
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

X11TestProgram::X11TestProgram(const std::vector<std::string>& arguments) {
    pid_ = fork();
    if (pid_ != 0) return;
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

X11TestProgram::~X11TestProgram() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

xcb_window_t X11TestProgram::waitForWindow(const std::string& applicationClass) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_atom_t clientList = internAtom(c, "_NET_CLIENT_LIST");
    xcb_window_t found = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (found == 0 && std::chrono::steady_clock::now() < deadline) {
        auto* list = xcb_get_property_reply(c, xcb_get_property(c, 0, screen->root, clientList, XCB_ATOM_WINDOW, 0, 4096),
                                            nullptr);
        const int count = list != nullptr ? xcb_get_property_value_length(list) / 4 : 0;
        for (int i = 0; i < count && found == 0; ++i) {
            const xcb_window_t id = static_cast<xcb_window_t*>(xcb_get_property_value(list))[i];
            auto* cls = xcb_get_property_reply(c, xcb_get_property(c, 0, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                                               nullptr);
            auto* attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr);
            if (cls != nullptr && attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
                std::string bytes(static_cast<const char*>(xcb_get_property_value(cls)),
                                  static_cast<std::size_t>(xcb_get_property_value_length(cls)));
                const auto split = bytes.find('\0');
                if (split != std::string::npos && bytes.substr(split + 1).c_str() == applicationClass) found = id;
            }
            std::free(cls);
            std::free(attributes);
        }
        std::free(list);
        if (found == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    xcb_disconnect(c);
    return found;
}

void X11TestWindow::sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

}  // namespace yux::testing

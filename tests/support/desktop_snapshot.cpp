#include "support/desktop_snapshot.hpp"

#include <unistd.h>
#include <xcb/xcb.h>

#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

namespace yux::testing {

namespace {

// Past this many a test, further failures are only the same fault again.
constexpr int kSnapshotsPerTest = 3;
// Frames, their clients and the clients' own children: deeper windows are a toolkit's inner parts.
constexpr int kDepthListed = 3;

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> reply(T* raw) {
    return Reply<T>(raw, &std::free);
}

std::string hex(xcb_window_t window) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", window);
    return text;
}

class Display {
public:
    Display() : connection_(xcb_connect(nullptr, nullptr)) {}
    ~Display() { xcb_disconnect(connection_); }
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    bool ok() const { return xcb_connection_has_error(connection_) == 0; }
    xcb_screen_t* screen() const { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data; }
    xcb_window_t root() const { return screen()->root; }

    QImage picture() {
        const auto* s = screen();
        auto image = reply(xcb_get_image_reply(
            connection_,
            xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, s->root, 0, 0, s->width_in_pixels,
                          s->height_in_pixels, ~0u),
            nullptr));
        if (!image || image->depth != 24) return {};
        const int stride = xcb_get_image_data_length(image.get()) / s->height_in_pixels;
        return QImage(xcb_get_image_data(image.get()), s->width_in_pixels, s->height_in_pixels, stride,
                      QImage::Format_RGB32)
            .copy();
    }

    std::string windows() {
        std::ostringstream out;
        auto focus = reply(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        out << "input focus: " << (focus ? describe(focus->focus) : "?") << "\n";
        const std::string active = property(root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
        xcb_window_t activeWindow = XCB_WINDOW_NONE;
        if (active.size() == sizeof activeWindow) std::memcpy(&activeWindow, active.data(), sizeof activeWindow);
        out << "active window (window manager): " << describe(activeWindow) << "\n";
        if (auto pointer = reply(xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root()), nullptr))) {
            out << "pointer at (" << pointer->root_x << ", " << pointer->root_y << ") over "
                << describe(pointer->child) << "\n";
        }
        out << "mapped windows, bottom to top:\n";
        list(root(), 1, out);
        return out.str();
    }

private:
    xcb_atom_t atom(const char* name) {
        auto found = atoms_.find(name);
        if (found != atoms_.end()) return found->second;
        auto interned = reply(xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
        return atoms_[name] = interned ? interned->atom : XCB_ATOM_NONE;
    }

    std::string property(xcb_window_t window, const char* name, xcb_atom_t type) {
        auto value = reply(xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, atom(name), type, 0, 256), nullptr));
        if (!value) return {};
        return std::string(static_cast<const char*>(xcb_get_property_value(value.get())),
                           xcb_get_property_value_length(value.get()));
    }

    std::string atomName(xcb_atom_t value) {
        auto name = reply(xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, value), nullptr));
        return name ? std::string(xcb_get_atom_name_name(name.get()), xcb_get_atom_name_name_length(name.get())) : "?";
    }

    // The window's name and owner, as far as it has them.
    std::string describe(xcb_window_t window) {
        if (window == XCB_WINDOW_NONE) return "none";
        if (window == XCB_INPUT_FOCUS_POINTER_ROOT) return "pointer root";
        if (window == root()) return hex(window) + " (root)";
        std::string text = hex(window);
        std::string title = property(window, "_NET_WM_NAME", atom("UTF8_STRING"));
        if (title.empty()) title = property(window, "WM_NAME", XCB_ATOM_STRING);
        if (!title.empty()) text += " \"" + title + "\"";
        std::string wmClass = property(window, "WM_CLASS", XCB_ATOM_STRING);
        if (!wmClass.empty()) {
            std::replace(wmClass.begin(), wmClass.end(), '\0', ' ');
            text += " class=" + wmClass.substr(0, wmClass.find_last_not_of(' ') + 1);
        }
        const std::string pid = property(window, "_NET_WM_PID", XCB_ATOM_CARDINAL);
        if (pid.size() == sizeof(uint32_t)) {
            uint32_t value = 0;
            std::memcpy(&value, pid.data(), sizeof value);
            text += " pid=" + std::to_string(value) + ownership(static_cast<pid_t>(value));
        }
        for (const char* list : {"_NET_WM_WINDOW_TYPE", "_NET_WM_STATE"}) {
            const std::string atoms = property(window, list, XCB_ATOM_ATOM);
            for (std::size_t at = 0; at + sizeof(xcb_atom_t) <= atoms.size(); at += sizeof(xcb_atom_t)) {
                xcb_atom_t value = 0;
                std::memcpy(&value, atoms.data() + at, sizeof value);
                text += " " + atomName(value);
            }
        }
        return text;
    }

    // Whether the window is the test's own: one of its process, or of a program it started.
    static std::string ownership(pid_t pid) {
        if (pid == ::getpid()) return " (this test)";
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        // The parent follows the name, which may itself hold spaces and parentheses.
        std::istringstream fields(line.substr(line.rfind(')') + 1));
        std::string state;
        pid_t parent = 0;
        return fields >> state >> parent && parent == ::getpid() ? " (started by this test)" : "";
    }

    void list(xcb_window_t parent, int depth, std::ostringstream& out) {
        auto tree = reply(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, parent), nullptr));
        if (!tree) return;
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            const xcb_window_t window = children[i];
            auto attributes = reply(xcb_get_window_attributes_reply(
                connection_, xcb_get_window_attributes(connection_, window), nullptr));
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
            const std::string described = describe(window);
            // Below the top level, only windows that name themselves: a frame's and a toolkit's
            // inner parts would bury the rest.
            if (depth > 1 && described == hex(window)) {
                if (depth < kDepthListed) list(window, depth + 1, out);
                continue;
            }
            auto size = reply(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
            auto place = reply(xcb_translate_coordinates_reply(
                connection_, xcb_translate_coordinates(connection_, window, root(), 0, 0), nullptr));
            out << std::string(2 * depth, ' ') << described;
            if (size && place) {
                out << " " << size->width << "x" << size->height << "+" << place->dst_x << "+" << place->dst_y;
            }
            if (attributes->override_redirect) out << " override-redirect";
            if (attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY) out << " input-only";
            out << "\n";
            if (depth < kDepthListed) list(window, depth + 1, out);
        }
    }

    xcb_connection_t* connection_;
    std::map<std::string, xcb_atom_t> atoms_;
};

class SnapshotOnFailure : public ::testing::EmptyTestEventListener {
public:
    explicit SnapshotOnFailure(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // Noted here: while a result is added, gtest holds the lock that asking it for the test takes.
    void OnTestStart(const ::testing::TestInfo& test) override {
        taken_ = 0;
        test_ = std::string(test.test_suite_name()) + "." + test.name();
        std::replace(test_.begin(), test_.end(), '/', '_');
    }
    void OnTestEnd(const ::testing::TestInfo&) override { test_ = "outside-a-test"; }

    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed() || taken_ >= kSnapshotsPerTest) return;
        const std::string name = test_ + "-" + std::to_string(++taken_);
        const DesktopSnapshot snapshot = snapshotDesktop(folder_, name);
        std::cout << "[ snapshot ] the desktop at the failure above: "
                  << (snapshot.picture.empty() ? std::string("no picture") : snapshot.picture.string()) << "\n"
                  << snapshot.windows << std::flush;
    }

private:
    std::filesystem::path folder_;
    std::string test_ = "outside-a-test";
    int taken_ = 0;
};

}  // namespace

DesktopSnapshot snapshotDesktop(const std::filesystem::path& folder, const std::string& name) {
    DesktopSnapshot snapshot;
    Display display;
    if (!display.ok()) {
        snapshot.windows = "no X11 display answers\n";
        return snapshot;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    snapshot.windows = display.windows();
    std::ofstream(folder / (name + ".txt")) << snapshot.windows;
    const QImage picture = display.picture();
    const auto path = folder / (name + ".png");
    if (!picture.isNull() && picture.save(QString::fromStdString(path.string()), "PNG")) snapshot.picture = path;
    return snapshot;
}

void snapshotDesktopOnFailure(const std::filesystem::path& folder) {
    // After the printer, so that the snapshot follows the failure's own message.
    ::testing::UnitTest::GetInstance()->listeners().Append(new SnapshotOnFailure(folder));
}

}  // namespace yux::testing

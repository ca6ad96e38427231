#include "platform/x11/x11_desktop.hpp"

#include <xcb/randr.h>
#include <xcb/res.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace yux::platform {

std::vector<X11Monitor> listMonitors(X11Connection& connection) {
    xcb_connection_t* c = connection.raw();
    std::vector<X11Monitor> monitors;
    if (connection.hasExtension("RANDR")) {
        XcbReply<xcb_randr_query_version_reply_t> version(
            xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        if (version && (version->major_version > 1 || version->minor_version >= 5)) {
            XcbReply<xcb_randr_get_monitors_reply_t> reply(
                xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, connection.root(), 1), nullptr));
            if (reply) {
                for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
                     xcb_randr_monitor_info_next(&it)) {
                    const auto* info = it.data;
                    monitors.push_back({info->name, connection.atomName(info->name),
                                        {info->x, info->y, info->width, info->height}, info->primary != 0});
                }
            }
        }
    }
    if (monitors.empty()) {
        auto* screen = connection.screen();
        monitors.push_back(
            {screen->root, "screen", {0, 0, screen->width_in_pixels, screen->height_in_pixels}, true});
    }
    return monitors;
}

std::optional<std::size_t> mainMonitorIndex(const std::vector<X11Monitor>& monitors) {
    if (monitors.empty()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (monitors[i].primary) return i;
    }
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (monitors[i].bounds.x == 0 && monitors[i].bounds.y == 0) return i;
    }
    return 0;
}

double screenRefreshRate(X11Connection& connection) {
    if (!connection.hasExtension("RANDR")) {
        return 0;
    }
    xcb_connection_t* c = connection.raw();
    XcbReply<xcb_randr_get_screen_info_reply_t> info(
        xcb_randr_get_screen_info_reply(c, xcb_randr_get_screen_info(c, connection.root()), nullptr));
    return info ? info->rate : 0;
}

std::vector<std::optional<std::int32_t>> clientProcessIDs(X11Connection& connection,
                                                          const std::vector<std::uint32_t>& resources) {
    std::vector<std::optional<std::int32_t>> processes(resources.size());
    if (resources.empty()) return processes;
    xcb_connection_t* c = connection.raw();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_res_id);
    if (extension == nullptr || extension->present == 0) return processes;
    // Client ids came with version 1.2.
    XcbReply<xcb_res_query_version_reply_t> version(
        xcb_res_query_version_reply(c, xcb_res_query_version(c, 1, 2), nullptr));
    if (!version || version->server_major < 1 || (version->server_major == 1 && version->server_minor < 2)) {
        return processes;
    }
    std::vector<xcb_res_query_client_ids_cookie_t> cookies;
    cookies.reserve(resources.size());
    for (auto resource : resources) {
        xcb_res_client_id_spec_t spec{resource, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        cookies.push_back(xcb_res_query_client_ids(c, 1, &spec));
    }
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        XcbReply<xcb_res_query_client_ids_reply_t> reply(xcb_res_query_client_ids_reply(c, cookies[i], nullptr));
        if (!reply) continue;
        for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem > 0;
             xcb_res_client_id_value_next(&ids)) {
            if ((ids.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) == 0 || ids.data->length < 4) continue;
            const auto pid = static_cast<std::int32_t>(*xcb_res_client_id_value_value(ids.data));
            if (pid > 0) processes[i] = pid;
        }
    }
    return processes;
}

namespace {

struct PendingWindow {
    xcb_window_t id;
    xcb_get_property_cookie_t pid, wmClass, name, type, state, transient, extents;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
};

XcbReply<xcb_get_property_reply_t> propertyReply(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    return XcbReply<xcb_get_property_reply_t>(xcb_get_property_reply(c, cookie, nullptr));
}

std::vector<std::uint32_t> values32(const xcb_get_property_reply_t* reply) {
    if (reply == nullptr || reply->format != 32) return {};
    auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    return {data, data + xcb_get_property_value_length(reply) / 4};
}

std::string bytes8(const xcb_get_property_reply_t* reply) {
    if (reply == nullptr || reply->format != 8) return {};
    return {static_cast<const char*>(xcb_get_property_value(reply)),
            static_cast<std::size_t>(xcb_get_property_value_length(reply))};
}

}  // namespace

std::vector<X11ClientWindow> listClientWindows(X11Connection& connection) {
    xcb_connection_t* c = connection.raw();
    const xcb_window_t root = connection.root();
    auto ids = connection.cardinals(root, connection.atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    if (!ids) {
        ids = connection.cardinals(root, connection.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    }
    if (!ids) {
        return {};
    }
    const xcb_atom_t cardinal = XCB_ATOM_CARDINAL;
    const xcb_atom_t utf8 = connection.atom("UTF8_STRING");
    const xcb_atom_t pidAtom = connection.atom("_NET_WM_PID");
    const xcb_atom_t nameAtom = connection.atom("_NET_WM_NAME");
    const xcb_atom_t typeAtom = connection.atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t stateAtom = connection.atom("_NET_WM_STATE");
    const xcb_atom_t extentsAtom = connection.atom("_NET_FRAME_EXTENTS");
    const xcb_atom_t hidden = connection.atom("_NET_WM_STATE_HIDDEN");
    const xcb_atom_t above = connection.atom("_NET_WM_STATE_ABOVE");
    const xcb_atom_t below = connection.atom("_NET_WM_STATE_BELOW");
    const xcb_atom_t skipTaskbar = connection.atom("_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t typeNormal = connection.atom("_NET_WM_WINDOW_TYPE_NORMAL");
    const xcb_atom_t typeDialog = connection.atom("_NET_WM_WINDOW_TYPE_DIALOG");
    const xcb_atom_t typeDock = connection.atom("_NET_WM_WINDOW_TYPE_DOCK");
    const xcb_atom_t typeDesktop = connection.atom("_NET_WM_WINDOW_TYPE_DESKTOP");

    // Every request first, then the replies: one round trip for the whole list.
    std::vector<PendingWindow> pending;
    pending.reserve(ids->size());
    for (auto id : *ids) {
        pending.push_back({id,
                           xcb_get_property(c, 0, id, pidAtom, cardinal, 0, 1),
                           xcb_get_property(c, 0, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                           xcb_get_property(c, 0, id, nameAtom, utf8, 0, 1024),
                           xcb_get_property(c, 0, id, typeAtom, XCB_ATOM_ATOM, 0, 32),
                           xcb_get_property(c, 0, id, stateAtom, XCB_ATOM_ATOM, 0, 32),
                           xcb_get_property(c, 0, id, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1),
                           xcb_get_property(c, 0, id, extentsAtom, cardinal, 0, 4),
                           xcb_get_window_attributes(c, id),
                           xcb_get_geometry(c, id),
                           xcb_translate_coordinates(c, id, root, 0, 0)});
    }
    std::vector<X11ClientWindow> windows;
    for (const auto& p : pending) {
        auto pid = propertyReply(c, p.pid);
        auto wmClass = propertyReply(c, p.wmClass);
        auto name = propertyReply(c, p.name);
        auto type = propertyReply(c, p.type);
        auto state = propertyReply(c, p.state);
        auto transient = propertyReply(c, p.transient);
        auto extents = propertyReply(c, p.extents);
        XcbReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(c, p.attributes, nullptr));
        XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, p.geometry, nullptr));
        XcbReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(c, p.origin, nullptr));
        if (!attributes || !geometry || !origin) {
            continue;  // the window went away meanwhile
        }
        X11ClientWindow window;
        window.id = p.id;
        if (auto values = values32(pid.get()); !values.empty()) {
            window.processID = static_cast<std::int32_t>(values[0]);
        }
        // WM_CLASS holds the instance and the class, each ending in a zero byte.
        std::string classBytes = bytes8(wmClass.get());
        if (auto split = classBytes.find('\0'); split != std::string::npos) {
            std::string rest = classBytes.substr(split + 1);
            window.applicationClass = rest.substr(0, rest.find('\0'));
        }
        window.title = bytes8(name.get());
        if (window.title.empty()) {
            window.title = connection.text(p.id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING).value_or("");
        }
        auto types = values32(type.get());
        auto states = values32(state.get());
        auto has = [](const std::vector<std::uint32_t>& list, xcb_atom_t atom) {
            return std::find(list.begin(), list.end(), atom) != list.end();
        };
        if (has(types, typeDock)) {
            window.layer = WindowLayer::dock;
        } else if (has(types, typeDesktop)) {
            window.layer = WindowLayer::desktop;
        } else if (has(states, above)) {
            window.layer = WindowLayer::above;
        } else if (has(states, below)) {
            window.layer = WindowLayer::below;
        }
        bool listedType = types.empty() || has(types, typeNormal) || has(types, typeDialog);
        window.inTaskBar = listedType && !has(states, skipTaskbar);
        window.onScreen = attributes->map_state == XCB_MAP_STATE_VIEWABLE && !has(states, hidden);
        if (auto values = values32(transient.get()); !values.empty() && values[0] != XCB_NONE) {
            window.transientFor = values[0];
        }
        std::uint32_t left = 0, right = 0, top = 0, bottom = 0;
        if (auto values = values32(extents.get()); values.size() == 4) {
            left = values[0];
            right = values[1];
            top = values[2];
            bottom = values[3];
        }
        window.frame = {origin->dst_x - static_cast<int>(left), origin->dst_y - static_cast<int>(top),
                        geometry->width + static_cast<int>(left + right),
                        geometry->height + static_cast<int>(top + bottom)};
        windows.push_back(std::move(window));
    }
    // Programs that set no _NET_WM_PID (those of the older toolkits) are known by their connection.
    std::vector<std::uint32_t> unknown;
    for (const auto& window : windows) {
        if (!window.processID) unknown.push_back(window.id);
    }
    if (!unknown.empty()) {
        auto processes = clientProcessIDs(connection, unknown);
        std::size_t next = 0;
        for (auto& window : windows) {
            if (!window.processID) window.processID = processes[next++];
        }
    }
    return windows;
}

namespace {

std::vector<std::filesystem::path> applicationDirectories() {
    std::vector<std::filesystem::path> directories;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome != nullptr && *dataHome != '\0') {
        directories.emplace_back(std::filesystem::path(dataHome) / "applications");
    } else if (home != nullptr) {
        directories.emplace_back(std::filesystem::path(home) / ".local/share/applications");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::stringstream list(dataDirs != nullptr && *dataDirs != '\0' ? dataDirs : "/usr/local/share:/usr/share");
    for (std::string dir; std::getline(list, dir, ':');) {
        if (!dir.empty()) directories.emplace_back(std::filesystem::path(dir) / "applications");
    }
    return directories;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return text;
}

// The untranslated Name and the StartupWMClass of a desktop file's main group.
std::pair<std::string, std::string> readDesktopEntry(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::string line, name, wmClass;
    bool inEntry = false;
    while (std::getline(file, line)) {
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        if (line.rfind("Name=", 0) == 0 && name.empty()) name = line.substr(5);
        if (line.rfind("StartupWMClass=", 0) == 0) wmClass = line.substr(15);
    }
    return {name, wmClass};
}

}  // namespace

std::string applicationNameForClass(const std::string& applicationClass) {
    static std::mutex mutex;
    static std::map<std::string, std::string> cache;
    std::lock_guard lock(mutex);
    if (auto found = cache.find(applicationClass); found != cache.end()) {
        return found->second;
    }
    std::string result;
    const std::string wanted = lowered(applicationClass);
    std::error_code error;
    for (const auto& directory : applicationDirectories()) {
        for (std::filesystem::recursive_directory_iterator it(directory, error), end; !error && it != end;
             it.increment(error)) {
            if (it->path().extension() != ".desktop") continue;
            auto [name, wmClass] = readDesktopEntry(it->path());
            std::string stem = lowered(it->path().stem().string());
            bool matches = (!wmClass.empty() && wmClass == applicationClass) || stem == wanted ||
                           (stem.size() > wanted.size() && stem.ends_with("." + wanted));
            if (matches && !name.empty()) {
                result = name;
                break;
            }
        }
        if (!result.empty()) break;
        error.clear();
    }
    if (result.empty()) result = applicationClass;
    cache[applicationClass] = result;
    return result;
}

}  // namespace yux::platform

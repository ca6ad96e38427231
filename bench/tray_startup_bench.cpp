// Start-up to a tray icon: Yux (fresh folders, input setup done) against a minimal Qt program
// that shows one tray icon, alternately, from fork until the icon is mapped in the panel's
// tray. Run inside scripts/test-env.sh (its panel has a tray) on two pinned CPUs:
//   scripts/test-env.sh taskset -c 0,1 build/bench/tray_startup_bench [runs]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <cstring>
#include <xcb/xcb.h>

namespace {

using Clock = std::chrono::steady_clock;
// A run that shows no icon by then counts as failed.
constexpr auto kIconTimeout = std::chrono::seconds(15);

int minimalTrayProgram(int argc, char** argv) {
    QApplication app(argc, argv);
    QPixmap picture(22, 22);
    picture.fill(Qt::transparent);
    QPainter(&picture).fillRect(4, 4, 14, 14, Qt::red);
    QSystemTrayIcon icon{QIcon(picture)};
    icon.show();
    return QApplication::exec();
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    auto* reply = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, strlen(name), name), nullptr);
    xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return value;
}

std::optional<uint32_t> windowPid(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t pidAtom) {
    auto* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    std::optional<uint32_t> pid;
    if (reply && xcb_get_property_value_length(reply) == 4) pid = *static_cast<uint32_t*>(xcb_get_property_value(reply));
    free(reply);
    return pid;
}

// A viewable window of `pid` below the tray's owner window.
bool iconMapped(xcb_connection_t* connection, xcb_window_t parent, xcb_atom_t pidAtom, pid_t pid, int depth = 0) {
    if (depth > 4) return false;
    auto* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, parent), nullptr);
    if (!tree) return false;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    bool found = false;
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
        if (windowPid(connection, children[i], pidAtom) == static_cast<uint32_t>(pid)) {
            auto* attributes = xcb_get_window_attributes_reply(
                connection, xcb_get_window_attributes(connection, children[i]), nullptr);
            found = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            free(attributes);
        }
        if (!found) found = iconMapped(connection, children[i], pidAtom, pid, depth + 1);
    }
    free(tree);
    return found;
}

bool isPanel(xcb_connection_t* connection, xcb_window_t window) {
    auto* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 32), nullptr);
    bool panel = reply && xcb_get_property_value_length(reply) >= 5 &&
                 std::string(static_cast<const char*>(xcb_get_property_value(reply)), 5) == "tint2";
    free(reply);
    return panel;
}

// The panel whose tray holds the icons: tint2 embeds them below its own window.
xcb_window_t findPanel(xcb_connection_t* connection, xcb_window_t parent, int depth = 0) {
    if (depth > 3) return XCB_WINDOW_NONE;
    auto* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, parent), nullptr);
    if (!tree) return XCB_WINDOW_NONE;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    xcb_window_t found = XCB_WINDOW_NONE;
    for (int i = 0; i < xcb_query_tree_children_length(tree) && found == XCB_WINDOW_NONE; ++i) {
        found = isPanel(connection, children[i]) ? children[i] : findPanel(connection, children[i], depth + 1);
    }
    free(tree);
    return found;
}

xcb_window_t trayOwner(xcb_connection_t* connection, int screen) {
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    auto* reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom(connection, name.c_str())), nullptr);
    xcb_window_t owner = reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
    free(reply);
    return owner;
}

// Seconds from fork to a mapped icon; absent when none came in time.
std::optional<double> timeToIcon(const std::vector<std::string>& command, const std::filesystem::path& home) {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    // The panel may still be starting when the bench does.
    xcb_window_t owner = trayOwner(connection, screen);
    for (int i = 0; i < 100 && owner == XCB_WINDOW_NONE; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        owner = trayOwner(connection, screen);
    }
    const xcb_atom_t pidAtom = atom(connection, "_NET_WM_PID");
    const xcb_window_t panel =
        owner == XCB_WINDOW_NONE ? xcb_window_t{XCB_WINDOW_NONE}
                                 : findPanel(connection, xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root);
    if (panel == XCB_WINDOW_NONE) {
        std::fprintf(stderr, "tray_startup_bench: no tray on this display (run inside scripts/test-env.sh)\n");
        std::exit(1);
    }
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
        std::vector<char*> arguments;
        for (const auto& part : command) arguments.push_back(const_cast<char*>(part.c_str()));
        arguments.push_back(nullptr);
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    std::optional<double> seconds;
    while (Clock::now() - start < kIconTimeout) {
        if (iconMapped(connection, panel, pidAtom, child)) {
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            break;
        }
        if (waitpid(child, nullptr, WNOHANG) == child) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    xcb_disconnect(connection);
    return seconds;
}

void freshFolders(const std::filesystem::path& home) {
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home / "run");
    std::filesystem::permissions(home / "run", std::filesystem::perms::owner_all);
    std::filesystem::create_directories(home / "config" / "Yux");
    std::ofstream(home / "config" / "Yux" / "preferences.json")
        << R"({"yux.settings.captureInputs": {"setupCompleted": true, "microphoneEnabled": false,
             "cameraEnabled": false, "ratio": "Free", "camera": {}}})";
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--minimal-tray") return minimalTrayProgram(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const std::filesystem::path home = std::filesystem::temp_directory_path() / ("yux-tray-bench-" + std::to_string(getpid()));
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();

    std::vector<double> yux, minimal;
    int yuxFailures = 0, minimalFailures = 0;
    for (int run = 0; run < runs; ++run) {
        freshFolders(home);
        const auto yuxSeconds = timeToIcon({YUX_EXECUTABLE}, home);
        freshFolders(home);
        const auto minimalSeconds = timeToIcon({self, "--minimal-tray"}, home);
        if (yuxSeconds) yux.push_back(*yuxSeconds); else ++yuxFailures;
        if (minimalSeconds) minimal.push_back(*minimalSeconds); else ++minimalFailures;
        std::printf("run %d: Yux %s, minimal %s\n", run + 1,
                    yuxSeconds ? (std::to_string(*yuxSeconds) + " s").c_str() : "no icon",
                    minimalSeconds ? (std::to_string(*minimalSeconds) + " s").c_str() : "no icon");
        std::fflush(stdout);
    }
    std::filesystem::remove_all(home);
    std::printf("runs: %d each (%d Yux and %d minimal runs showed no icon within %lld s)\n", runs, yuxFailures,
                minimalFailures, static_cast<long long>(kIconTimeout.count()));
    if (yux.empty() || minimal.empty()) {
        std::printf("no ratio: one side never showed its icon\n");
        return 1;
    }
    const double yuxMedian = median(yux), minimalMedian = median(minimal);
    std::printf("fork to tray icon mapped, median: Yux %.3f s, minimal Qt tray program %.3f s, ratio %.2f (goal <= 2.0)\n",
                yuxMedian, minimalMedian, yuxMedian / minimalMedian);
    return 0;
}

#include "support/test_compositor.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <xcb/xcb.h>

extern char** environ;

namespace yux::testing {

namespace {

using namespace std::chrono_literals;

// How long a compositing manager may take to come or go on a busy machine.
constexpr auto kSettleTimeout = 10s;

template <class Condition>
bool waitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kSettleTimeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// Gone, and reaped when it was ours; a child of test-env.sh may linger unreaped a while.
bool exited(pid_t pid) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string skipped;
    std::string state;
    std::getline(stat, skipped, ')');
    stat >> state;
    return !stat || state == "Z";
}

}  // namespace

TestCompositor::TestCompositor() : wasRunning_(running()) {
    const char* folder = std::getenv("YUX_TEST_ENV_DIR");
    if (folder != nullptr) folder_ = folder;
}

TestCompositor::~TestCompositor() {
    if (running() != wasRunning_) toggle();
}

bool TestCompositor::running() {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    bool owned = false;
    if (!xcb_connection_has_error(connection)) {
        const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
        auto* atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
        if (atom != nullptr) {
            auto* owner = xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom),
                                                        nullptr);
            owned = owner != nullptr && owner->owner != XCB_WINDOW_NONE;
            std::free(owner);
        }
        std::free(atom);
    }
    xcb_disconnect(connection);
    return owned;
}

bool TestCompositor::stop() {
    if (folder_.empty()) return false;
    pid_t pid = 0;
    std::ifstream(folder_ / "compositor.pid") >> pid;
    if (pid <= 0) return !running();
    kill(pid, SIGTERM);
    const bool gone = waitFor([pid] { return exited(pid); });
    std::ofstream(folder_ / "compositor.pid", std::ios::trunc);
    return gone && waitFor([] { return !running(); });
}

bool TestCompositor::start() {
    if (folder_.empty()) return false;
    const std::string log = (folder_ / "compositor.log").string();
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
    // No user configuration: no shadows or fading, as test-env.sh starts it.
    char* argv[] = {const_cast<char*>("picom"), const_cast<char*>("--backend"), const_cast<char*>("xrender"),
                    const_cast<char*>("--config"), const_cast<char*>("/dev/null"), nullptr};
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, "picom", &files, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    if (failed != 0) return false;
    std::ofstream(folder_ / "compositor.pid", std::ios::trunc) << pid << "\n";
    return waitFor([] { return running(); });
}

}  // namespace yux::testing

#include "shell/yux_app.hpp"

#include <cstdio>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "platform/desktop/app_locations.hpp"
#include "platform/desktop/application_activation.hpp"
#include "platform/desktop/system_log.hpp"
#include "shell/instance_lock.hpp"
#include "shell/live_app_composition.hpp"
#include "shell/quit_path.hpp"

namespace yux {

namespace {

// How long after launch the visible windows are written to the system log.
constexpr int kLaunchWindowsDelayMs = 1000;

void logLaunchWindows(const platform::SystemLog& log) {
    QStringList titles;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) titles << window->windowTitle();
    }
    log.info("App", "app_launch_windows " + titles.join(QStringLiteral(" | ")).toStdString());
}

}  // namespace

int YuxApp::main(int argc, char** argv) {
    // The lock comes before anything touches the support folder, so a second launch changes nothing.
    const platform::AppLocations locations = platform::AppLocations::forCurrentUser();
    std::string failure;
    std::optional<InstanceLock> lock = InstanceLock::acquire(locations.instanceLockFile(), failure);
    if (!lock) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Yux"));
    QApplication::setQuitOnLastWindowClosed(false);

    QuitPath quit([](int code) { QCoreApplication::exit(code); });
    if (!quit.catchTerminationSignals()) {
        std::fprintf(stderr, "Yux could not catch SIGTERM and SIGINT; they end it without saving a recording.\n");
    }
    platform::ApplicationActivation activation = platform::ApplicationActivation::create([&quit] { quit.requestQuit(); });
    activation.setPolicy(platform::ApplicationActivation::Policy::accessory);

    LiveAppComposition root = LiveAppComposition::bootstrapForDefaultEnvironment(std::make_shared<SystemClock>());
    const platform::SystemLog log = platform::SystemLog::create();

    // Stops what runs outside the event loop's own objects; awaited before the process ends.
    quit.addWillTerminate([inputs = root.captureInputs]() -> QCoro::Task<void> { co_await inputs->stop(); });

    QTimer::singleShot(kLaunchWindowsDelayMs, &app, [&log] { logLaunchWindows(log); });
    return QApplication::exec();
}

}  // namespace yux

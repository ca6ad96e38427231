#include "shell/yux_app.hpp"

#include <cstdio>
#include <functional>
#include <vector>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "editor/floating_trim_preview_window.hpp"
#include "platform/desktop/app_locations.hpp"
#include "platform/desktop/application_activation.hpp"
#include "platform/desktop/system_log.hpp"
#include "platform/async/detached_tasks.hpp"
#include "platform/async/sleep.hpp"
#include "session/recording_session_orchestrator.hpp"
#include "shell/app_icon.hpp"
#include "shell/instance_lock.hpp"
#include "shell/kept_takes_offer.hpp"
#include "shell/main_menu.hpp"
#include "shell/menu_bar_presentation.hpp"
#include "shell/pending_recording_markers.hpp"
#include "shell/live_app_composition.hpp"
#include "shell/quit_path.hpp"
#include "shell/shell_startup.hpp"

namespace yux {

namespace {

// How long after launch the visible windows are written to the system log.
constexpr int kLaunchWindowsDelayMs = 1000;
// How often a quit looks whether a stop already under way has ended.
constexpr std::chrono::milliseconds kStopPollInterval{50};

void logLaunchWindows(const platform::SystemLog& log) {
    QStringList titles;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) titles << window->windowTitle();
    }
    log.info("App", "app_launch_windows " + titles.join(QStringLiteral(" | ")).toStdString());
}

QCoro::Task<void> keepRecordingAtQuit(LiveAppComposition root) {
    root.pendingTrimRelay->setHandler(nullptr);
    // An open trim window goes without asking and without throwing the take away.
    if (auto* window = dynamic_cast<FloatingTrimPreviewWindow*>(root.trimWindow.get())) co_await window->closeForQuit();
    RecordingSessionBoundary& session = *root.recordingSession;
    const RecordingSessionState state = session.state();
    if (state.isSelecting()) {
        co_await session.cancel();
    } else if (state.recordingInfo()) {
        co_await session.stop();
    }
    // A stop the user asked for just before quitting is still writing the movie: let it end (the
    // quit path's deadline bounds the wait).
    while (session.state().isStopping()) co_await platform::sleepFor(kStopPollInterval);
    const RecordingSessionState after = session.state();
    if (const PendingRecordingArtifact* pending = after.pendingArtifact()) {
        // Noted since it became pending; written again in case that note failed.
        const std::string scratch = pending->scratchPath();
        co_await PendingRecordingMarkers(root.debugLog).keep(scratch, pending->createdAt());
        co_await root.debugLog->append("app_quit_pending_kept scratch=" + scratch);
    }
}

QCoro::Task<RecordingSessionState> presentAdopted(LiveAppComposition root) {
    co_await root.menuHandler->dispatch(MenuIntent::checkPendingTrim());
    co_return root.recordingSession->state();
}

QCoro::Task<void> runNow(std::function<void()> step) {
    step();
    co_return;
}

// A failed quit step is written where the user's report will find it; without a debug log, or
// when it cannot take the line, the system log has it.
QCoro::Task<void> reportQuitStep(std::shared_ptr<DebugLogBoundary> debugLog, platform::SystemLog log, std::string step,
                                 std::string error) {
    const std::string line = "app_quit_step_failed step=" + step + " error=" + error;
    bool written = false;
    if (debugLog) {
        try {
            co_await debugLog->append(line);
            written = true;
        } catch (...) {
        }
    }
    if (!written) log.error("App", line);
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

    // Before anything can keep a take of this run: those are offered at the next start.
    const std::string scratchDirectory = locations.scratchDirectory().string();
    const std::vector<std::string> keptAtStart = PendingRecordingMarkers::presentIn(scratchDirectory);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Yux"));
    QApplication::setDesktopFileName(QString::fromLatin1(AppIcon::kName));
    QApplication::setWindowIcon(AppIcon::icon());
    QApplication::setQuitOnLastWindowClosed(false);

    QuitPath quit([](int code) { QCoreApplication::exit(code); });
    if (!quit.catchTerminationSignals()) {
        std::fprintf(stderr,
                     "Yux could not catch SIGTERM, SIGINT and SIGHUP; they end it without saving a recording.\n");
    }
    quit.catchApplicationQuit();
    platform::ApplicationActivation activation = platform::ApplicationActivation::create([&quit] { quit.requestQuit(); });
    activation.setPolicy(platform::ApplicationActivation::Policy::accessory);

    const auto mainMenu = MainMenu::installOnEveryWindow([&quit] { quit.requestQuit(); });

    LiveAppComposition root = LiveAppComposition::bootstrapForDefaultEnvironment(std::make_shared<SystemClock>(), activation);
    const platform::SystemLog log = platform::SystemLog::create();

    platform::DetachedTasks startup([&log](const std::string& failure) { log.error("App", "app_startup_failed " + failure); });

    // The status item and its panel; shown only once the first-run setup is ready.
    std::unique_ptr<MenuBarPresentation> presentation = root.makeMenuPresentation();

    // First-run setup, then the shortcut, then the takes earlier runs kept, in the trim window.
    const auto orchestrator = std::dynamic_pointer_cast<RecordingSessionOrchestrator>(root.recordingSession);
    const KeptTakesOffer keptTakes{
        .markers = PendingRecordingMarkers(root.debugLog),
        .debugLog = root.debugLog,
        .adopt = [orchestrator](KeptTakesOffer::Marker take) {
            return orchestrator->adoptPendingRecording(std::move(take.scratchPath), take.createdAt);
        },
        .holdsNothing = &KeptTakesOffer::movieHoldsNothing,
        .present = [root] { return presentAdopted(root); },
        .quitting = [&quit] { return quit.isQuitting(); },
    };
    const ShellStartup steps{
        .setup = [setup = root.recordingSetup] { return setup->start(); },
        .showStatusItem = [&presentation] { presentation->start(); },
        .registerShortcut = [coordinator = root.menuHandler] { return coordinator->startKeyboardShortcuts(); },
        // Without a live session there is nothing to take them back into; they wait.
        .offerLeftover = [keptTakes, keptAtStart, live = orchestrator != nullptr] {
            return keptTakes.run(live ? keptAtStart : std::vector<std::string>{});
        },
    };
    startup.start(steps.run());
    // Other programs' command files, answered until quit; independent of the first-run setup.
    platform::CancelToken automationStop;
    startup.start(root.automation->runner->run(automationStop));

    // The take in progress is kept first: stopped (never presented, the process is ending) and
    // noted for the next start. Then the setup (its gate window goes first), the panel, the
    // automation and the inputs stop; each step runs whatever the one before did, and a failed
    // one is logged.
    quit.onStepFailed([debugLog = root.debugLog, log](std::string step, std::string error) {
        return reportQuitStep(debugLog, log, std::move(step), std::move(error));
    });
    quit.addWillTerminate("keep_take", [root] { return keepRecordingAtQuit(root); });
    // A job whose recording the quit stops answers that it was cancelled and where the take is.
    if (root.automation->job) root.automation->job->setQuitting([&quit] { return quit.isQuitting(); });
    quit.addWillTerminate("stop_setup", [setup = root.recordingSetup] { return runNow([setup] { setup->stop(); }); });
    quit.addWillTerminate("stop_panel", [&presentation] { return runNow([&presentation] { presentation->stop(); }); });
    // After the take is kept: a job then finds it the user's and leaves it alone.
    quit.addWillTerminate("stop_automation", [root, automationStop]() mutable {
        automationStop.cancel();
        return root.automation->runner->waitForJob();
    });
    quit.addWillTerminate("stop_inputs", [inputs = root.captureInputs] { return inputs->stop(); });

    QTimer::singleShot(kLaunchWindowsDelayMs, &app, [&log] { logLaunchWindows(log); });
    return QApplication::exec();
}

}  // namespace yux

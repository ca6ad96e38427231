#include <csignal>
#include <cstring>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMenu>
#include <QWidget>
#include <gtest/gtest.h>

#include "model/file_debug_log_store.hpp"
#include "platform/async/wait_for.hpp"
#include "shell/instance_lock.hpp"
#include "shell/live_app_composition.hpp"
#include "shell/launch_at_startup_row.hpp"
#include "shell/main_menu.hpp"
#include "shell/record_tab.hpp"
#include "shell/updates_section.hpp"
#include "shell/quit_path.hpp"
#include "shell/shell_startup.hpp"
#include "support/pending_answer.hpp"
#include "model/temporary_directory_scratch_storage.hpp"
#include "support/session_printers.hpp"
#include "support/temporary_directory.hpp"

namespace yux {
namespace {

TEST(InstanceLockTest, SecondHolderIsToldWhoHoldsTheLock) {
    testing::TemporaryDirectory folder;
    const auto file = folder.path() / "run" / "yux.lock";
    std::string failure;
    auto first = InstanceLock::acquire(file, failure);
    ASSERT_TRUE(first) << failure;
    EXPECT_FALSE(InstanceLock::acquire(file, failure));
    EXPECT_EQ(failure, "Yux is already running (lock: " + file.string() + ").");
    first.reset();
    EXPECT_TRUE(InstanceLock::acquire(file, failure));
}

TEST(QuitPathTest, EveryRequestAfterTheFirstDoesNothingAndEachFailingStepIsToldAndTheRestStillRun) {
    std::vector<int> exits;
    QuitPath quit([&](int code) { exits.push_back(code); });
    std::vector<std::string> told;
    quit.onStepFailed([&](std::string step, std::string error) -> QCoro::Task<void> {
        told.push_back(step + ": " + error);
        co_return;
    });
    testing::PendingAnswer stopping;
    std::vector<std::string> ran;
    quit.addWillTerminate("keep_take", [&]() -> QCoro::Task<void> {
        ran.push_back("keep_take");
        co_await stopping.operation()();
        throw AppError::outputFinalizationFailed("video stop failed");
    });
    // Failing before it has a task to hand back.
    quit.addWillTerminate("stop_panel", [&]() -> QCoro::Task<void> {
        ran.push_back("stop_panel");
        throw std::runtime_error("no panel");
    });
    quit.addWillTerminate("stop_inputs", [&]() -> QCoro::Task<void> {
        ran.push_back("stop_inputs");
        co_return;
    });
    quit.requestQuit();
    quit.requestQuit();
    EXPECT_TRUE(exits.empty());  // not before the work is done
    stopping.answer(true);
    quit.requestQuit();
    EXPECT_EQ(ran, (std::vector<std::string>{"keep_take", "stop_panel", "stop_inputs"}));
    EXPECT_EQ(told, (std::vector<std::string>{"keep_take: outputFinalizationFailed(\"video stop failed\")",
                                              "stop_panel: no panel"}));
    EXPECT_EQ(exits, std::vector<int>{0});
}

TEST(QuitPathTest, TerminationSignalsTakeTheSamePath) {
    // SIGHUP: the terminal that started Yux closed.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        int exits = 0;
        QuitPath quit([&](int) { ++exits; });
        ASSERT_TRUE(quit.catchTerminationSignals());
        std::raise(signal);
        std::raise(signal);
        for (int i = 0; i < 50 && exits == 0; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::processEvents();
        EXPECT_EQ(exits, 1) << strsignal(signal);
    }
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) std::signal(signal, SIG_DFL);
}

TEST(QuitPathTest, AHangUpIgnoredByWhoeverStartedYuxStaysIgnored) {
    std::signal(SIGHUP, SIG_IGN);
    int exits = 0;
    QuitPath quit([&](int) { ++exits; });
    ASSERT_TRUE(quit.catchTerminationSignals());
    std::raise(SIGHUP);
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(exits, 0);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) std::signal(signal, SIG_DFL);
}

// What a window of ours sees of a quit.
class CloseCounter : public QWidget {
public:
    int closes = 0;

protected:
    void closeEvent(QCloseEvent* event) override {
        ++closes;
        event->accept();
    }
};

TEST(QuitPathTest, TheApplicationsOwnQuitTakesThePathWithoutClosingAnyWindow) {
    int exits = 0;
    QuitPath quit([&](int) { ++exits; });
    quit.catchApplicationQuit();
    CloseCounter window;
    window.show();
    // What the session manager sends when the desktop session ends.
    QEvent quitEvent(QEvent::Quit);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &quitEvent);
    QCoreApplication::processEvents();
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(quit.isQuitting());
    EXPECT_EQ(window.closes, 0);
    EXPECT_TRUE(window.isVisible());
}

TEST(MainMenuTest, CommandsKeysAndTheirTarget) {
    QWidget window;
    int quits = 0;
    auto actions = MainMenu::install(window, [&] { ++quits; });
    std::vector<std::pair<QString, QString>> seen;
    for (QAction* action : actions) seen.emplace_back(action->text(), action->shortcut().toString());
    const std::vector<std::pair<QString, QString>> expected = {
        {"Quit Yux", "Ctrl+Q"}, {"Undo", "Ctrl+Z"},  {"Redo", "Ctrl+Shift+Z"},     {"Cut", "Ctrl+X"},
        {"Copy", "Ctrl+C"},     {"Paste", "Ctrl+V"}, {"Select All", "Ctrl+A"},
    };
    EXPECT_EQ(seen, expected);
    actions[0]->trigger();
    EXPECT_EQ(quits, 1);

    auto* field = new QLineEdit(QStringLiteral("hello"), &window);
    window.show();
    field->setFocus();
    QApplication::setActiveWindow(&window);
    QApplication::processEvents();
    if (QApplication::focusWidget() != field) GTEST_SKIP() << "no focus on this platform";
    actions[6]->trigger();  // Select All
    EXPECT_EQ(field->selectedText(), QStringLiteral("hello"));
    actions[3]->trigger();  // Cut
    EXPECT_TRUE(field->text().isEmpty());
    actions[1]->trigger();  // Undo
    EXPECT_EQ(field->text(), QStringLiteral("hello"));

    // A window whose own Undo button owns Ctrl+Z gets no second one.
    QWidget editor;
    auto editorActions = MainMenu::install(editor, [] {}, false);
    for (QAction* action : editorActions) EXPECT_NE(action->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    EXPECT_EQ(editorActions.size(), 6u);
}

TEST(MainMenuTest, EveryWindowGetsTheCommandsOnceAndAnUndoOwnerKeepsCtrlZ) {
    int quits = 0;
    auto installer = MainMenu::installOnEveryWindow([&] { ++quits; });
    QWidget plain;
    plain.show();
    plain.hide();
    plain.show();
    EXPECT_EQ(plain.actions().size(), 7);
    QWidget editor;
    editor.setProperty(MainMenu::kOwnsUndoProperty, true);
    editor.show();
    EXPECT_EQ(editor.actions().size(), 6);
    QWidget child(&plain);
    child.show();
    EXPECT_TRUE(child.actions().isEmpty());
    // A menu would list them as entries.
    QMenu menu;
    menu.addAction(QStringLiteral("Quit Yux"));
    menu.popup(QPoint(0, 0));
    EXPECT_EQ(menu.actions().size(), 1);
    menu.close();
    plain.actions().at(0)->trigger();
    EXPECT_EQ(quits, 1);
}

TEST(ShellStartupTest, NothingAfterASetupThatIsNotReady) {
    for (const bool ready : {false, true}) {
        std::vector<std::string> steps;
        ShellStartup startup{
            .setup = [&]() -> QCoro::Task<bool> {
                steps.push_back("setup");
                co_return ready;
            },
            .showStatusItem = [&] { steps.push_back("status item"); },
            .registerShortcut = [&]() -> QCoro::Task<void> {
                steps.push_back("shortcut");
                co_return;
            },
            .offerLeftover = [&]() -> QCoro::Task<void> {
                steps.push_back("leftover");
                co_return;
            },
        };
        auto running = startup.run();
        platform::waitForTask(running);
        const std::vector<std::string> expected =
            ready ? std::vector<std::string>{"setup", "status item", "shortcut", "leftover"}
                  : std::vector<std::string>{"setup"};
        EXPECT_EQ(steps, expected);
    }
}

struct MemoryLog : DebugLogBoundary {
    std::vector<std::string> lines;
    QCoro::Task<void> append(std::string message) override {
        lines.push_back(message);
        co_return;
    }
};

TEST(LiveAppCompositionTest, StartupLinesOverNullParts) {
    auto log = std::make_shared<MemoryLog>();
    auto settings = PreferencesFileSettingsStore::create_null(AppSettings::initial({"~/Movies/Yux", {}}), {});
    auto task = LiveAppComposition::logStartupDiagnostics(log, settings, platform::BundleInfo::create_null({}, "/opt/yux"),
                                                          "/home/ada");
    platform::waitForTask(task);
    EXPECT_EQ(log->lines, (std::vector<std::string>{
                              "app_startup_authorization persistent_screen_permission",
                              "app_startup bundle_id_absent=true bundle_path=/opt/yux home=/home/ada",
                              "app_startup_settings save_folder=~/Movies/Yux expanded_save_folder=/home/ada/Movies/Yux",
                          }));

    log->lines.clear();
    auto otherTilde = LiveAppComposition::logStartupDiagnostics(
        log, PreferencesFileSettingsStore::create_null(AppSettings::initial({"~adam/Yux", {}}), {}),
        platform::BundleInfo::create(), "/home/ada");
    platform::waitForTask(otherTilde);
    EXPECT_EQ(log->lines.back(), "app_startup_settings save_folder=~adam/Yux expanded_save_folder=~adam/Yux");

    log->lines.clear();
    struct BrokenSettings : SettingsBoundary {
        QCoro::Task<AppSettings> loadSettings() override { throw AppError::settingsLoadFailed("bad \"json\""); }
        QCoro::Task<void> persistSettings(AppSettings) override { co_return; }
        QCoro::Task<CapturePreference> loadCapturePreference() override { co_return CapturePreference{}; }
        QCoro::Task<void> persistCapturePreference(CapturePreference) override { co_return; }
    };
    auto failing = LiveAppComposition::logStartupDiagnostics(log, std::make_shared<BrokenSettings>(),
                                                             platform::BundleInfo::create(), "/home/ada");
    platform::waitForTask(failing);
    EXPECT_EQ(log->lines.back(), "app_startup_settings_failed error=settingsLoadFailed(\"bad \\\"json\\\"\")");
}

LiveAppComposition::Parts nullParts(const testing::TemporaryDirectory& folder, std::shared_ptr<DebugLogBoundary> log) {
    return {
        .settings = PreferencesFileSettingsStore::create_null(AppSettings::initial({"/videos", {}}), {}),
        .locations = platform::AppLocations::resolve([](const std::string&) { return std::nullopt; }, folder.path(),
                                                     folder.path() / "Videos"),
        .clock = std::make_shared<SystemClock>(),
        .permissionSettings = platform::SystemSettingsOpener::create_null(false),
        .displays = X11DisplayProvider::create_null({}, DisplayID{"1"}),
        .bundle = platform::BundleInfo::create_null(),
        .homeDirectory = folder.path().string(),
        .debugLog = std::move(log),
        .recordingHotKey = GlobalHotKey::create_null(),
        .captureDevices = CaptureDeviceRuntime::create_null({}),
        .scratchStorage = TemporaryDirectoryScratchStorage::create_null((folder.path() / "Scratch").string()),
        .inputSettings = platform::SystemSettingsOpener::create_null(false),
        .liveDesktopServices = false,
    };
}

TEST(LiveAppCompositionTest, CreateOverNullParts) {
    testing::TemporaryDirectory folder;
    auto log = std::make_shared<MemoryLog>();
    const auto setupSettings = platform::SystemSettingsOpener::create_null(true);
    const auto inputSettings = platform::SystemSettingsOpener::create_null(true);
    auto parts = nullParts(folder, log);
    parts.permissionSettings = setupSettings;
    parts.inputSettings = inputSettings;
    LiveAppComposition root = LiveAppComposition::create(std::move(parts));
    EXPECT_EQ(root.debugLog, log);
    // Each opener keeps its own record: what the inputs open is not the first-run setup's doing.
    root.captureInputs->openSettings(CaptureInputKind::microphone);
    EXPECT_EQ(inputSettings.track_openedPanes()->urls,
              std::vector<std::string>{platform::SystemSettingsOpener::kMicrophonePane});
    EXPECT_TRUE(setupSettings.track_openedPanes()->urls.empty());
    // Without system audio there is no live session: it reports why from the start.
    EXPECT_EQ(root.recordingSession->state(),
              RecordingSessionState::failed(AppError::systemPlaybackAudioUnavailable()));
    platform::waitForTask(*std::make_unique<QCoro::Task<void>>(root.recordingSession->start()));
    EXPECT_EQ(root.recordingSession->state().failure()->kind(), AppError::Case::systemPlaybackAudioUnavailable);
    // The panel's two views are one coordinator: what an intent changes, the snapshot shows.
    EXPECT_EQ(root.menuStateProvider.get(), static_cast<MenuBarStateProviding*>(root.menuHandler.get()));
    auto snapshot = root.menuStateProvider->currentPanelState();
    EXPECT_EQ(platform::waitForTask(snapshot).blockingError, AppError::systemPlaybackAudioUnavailable());
    EXPECT_EQ(root.screenSelection->escapeKey(), nullptr);  // each selection makes its own
    auto recent = root.outputLibrary->recentRecordings(5);
    EXPECT_TRUE(platform::waitForTask(recent).empty());
    for (int i = 0; i < 10 && log->lines.size() < 3; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(log->lines.size(), 3u);
}

TEST(LiveAppCompositionTest, TheMenuPresentationShowsNothingBeforeItsStartThenEveryPartOfThePanel) {
    testing::TemporaryDirectory folder;
    auto parts = nullParts(folder, std::make_shared<MemoryLog>());
    auto activation = platform::ApplicationActivation::create_null();
    parts.activation = activation;
    const LiveAppComposition root = LiveAppComposition::create(std::move(parts));
    auto presentation = root.makeMenuPresentation();
    EXPECT_FALSE(presentation->statusItem().isShown());
    EXPECT_EQ(presentation->panel(), nullptr);

    presentation->start();
    presentation->statusItem().simulate_trigger();
    MenuBarPanel* panel = presentation->panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_NE(panel->recordTab()->inputControls(), nullptr);
    EXPECT_NE(panel->findChild<UpdateBadge*>(), nullptr);
    panel->openInspector(InspectorPage::settings);
    EXPECT_NE(panel->inspectorPage()->findChild<LaunchAtStartupRow*>(), nullptr);
    // The tray's Quit takes the application's quit path.
    auto calls = activation.track_calls();
    presentation->statusItem().simulate_quit();
    ASSERT_FALSE(calls.data().empty());
    EXPECT_EQ(calls.data().back().kind, platform::ApplicationActivation::Call::Kind::terminate);
    presentation->stop();
}

}  // namespace
}  // namespace yux

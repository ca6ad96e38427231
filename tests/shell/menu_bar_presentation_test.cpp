#include "shell/menu_bar_presentation.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>

#include <optional>

#include "platform/async/wait_for.hpp"
#include "shell/fake_menu_bar_coordinator.hpp"
#include "shell/menu_bar_panel_view_model.hpp"
#include "shell/launch_at_startup_row.hpp"
#include "shell/record_tab.hpp"
#include "shell/updates_section.hpp"
#include "shell/recording_shortcut_recorder.hpp"
#include "shell/shell_startup.hpp"

namespace yux {
namespace {

using testing::FakeMenuBarCoordinator;
using testing::settingsIn;

struct PresentationTest : ::testing::Test {
    FakeMenuBarCoordinator coordinator;
    platform::ApplicationActivation activation = platform::ApplicationActivation::create_null();
    qint64 now = 1000;
    int shortcutPresses = 0;
    int quits = 0;

    std::shared_ptr<platform::AppUpdateController> updates;
    std::shared_ptr<platform::LaunchAtStartup> login;

    std::unique_ptr<MenuBarPresentation> make(bool trayAvailable, QRect iconGeometry = {}) {
        MenuBarPanel::Services services;
        services.quit = [this] { ++quits; };
        services.home = "/home/user";
        return MenuBarPresentation::create(MenuBarPresentation::Parts{
            .intentHandler = coordinator,
            .stateProvider = coordinator,
            .panel = services,
            .statusItem = StatusItem::create_null(trayAvailable, iconGeometry),
            .activation = activation,
            .onRecordingShortcut = [this] { ++shortcutPresses; },
            .clock = [this] { return now; },
            .cursor = [] { return QPoint(500, 300); },
            .updates = updates,
            .login = login,
        });
    }
};

// The program's start-up shows the status item through the presentation, and only once the
// first-run setup is ready: an unfinished setup leaves no icon and no panel.
TEST_F(PresentationTest, StatusItemOnlyAfterAReadySetup) {
    for (const bool ready : {false, true}) {
        auto presentation = make(true);
        const ShellStartup startup{
            .setup = [ready]() -> QCoro::Task<bool> { co_return ready; },
            .showStatusItem = [&presentation] { presentation->start(); },
            .registerShortcut = []() -> QCoro::Task<void> { co_return; },
            .offerLeftover = []() -> QCoro::Task<void> { co_return; },
        };
        auto running = startup.run();
        platform::waitForTask(running);
        EXPECT_EQ(presentation->statusItem().isShown(), ready);
        EXPECT_EQ(presentation->isStarted(), ready);
        EXPECT_FALSE(presentation->isPanelShown());
        presentation->stop();
    }
}

TEST_F(PresentationTest, StartingStartsTheUpdateChecksOnceAndThePanelShowsTheirPlaces) {
    updates = platform::AppUpdateController::create_null(
        platform::BundleInfo::create_null({{platform::BundleInfo::kFeedURLKey, QStringLiteral("https://u.example/f.xml")},
                                           {platform::BundleInfo::kPublicEDKeyKey,
                                            QStringLiteral("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=")}}),
        {platform::UpdateCheckReply::available("2.0", QDateTime::currentDateTimeUtc())});
    login = std::make_shared<platform::LaunchAtStartup>(platform::AutostartEntry::create_null(),
                                                        platform::SystemLog::create_null());
    int starts = 0;
    QObject::connect(updates.get(), &platform::AppUpdateController::canCheckForUpdatesChanged, [&] { ++starts; });
    auto presentation = make(true, QRect(700, 0, 24, 24));
    presentation->start();
    presentation->start();
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(updates->canCheckForUpdates());

    presentation->statusItem().simulate_trigger();
    MenuBarPanel* panel = presentation->panel();
    ASSERT_NE(panel, nullptr);
    auto* badge = panel->findChild<UpdateBadge*>();
    ASSERT_NE(badge, nullptr);
    EXPECT_TRUE(badge->isHidden());
    updates->checkForUpdates();
    EXPECT_FALSE(badge->isHidden());

    panel->openInspector(InspectorPage::settings);
    EXPECT_NE(panel->inspectorPage()->findChild<LaunchAtStartupRow*>(), nullptr);
    panel->openInspector(InspectorPage::about);
    EXPECT_NE(panel->inspectorPage()->findChild<UpdatesSection*>(), nullptr);
    presentation->stop();
}

TEST_F(PresentationTest, TheIconTogglesOnePanelAndIgnoresTheClickThatClosedIt) {
    auto presentation = make(true, QRect(700, 0, 24, 24));
    auto shown = presentation->statusItem().track_shown();
    presentation->stop();  // before start: nothing
    presentation->start();
    presentation->start();
    ASSERT_EQ(shown.data().size(), 1u);
    EXPECT_EQ(shown.data()[0].tooltip, "Yux");
    EXPECT_EQ(presentation->panel(), nullptr);

    presentation->statusItem().simulate_trigger();
    ASSERT_TRUE(presentation->isPanelShown());
    MenuBarPanel* panel = presentation->panel();
    EXPECT_TRUE(presentation->window()->windowFlags().testFlag(Qt::Popup));
    EXPECT_EQ(presentation->window()->width(), 340);
    EXPECT_EQ(coordinator.intentCases(), std::vector<std::size_t>{5});

    // Closing by a click on the icon: the popup closes, and the same click reaching the icon
    // does not open it again.
    presentation->window()->hide();
    now += 100;
    presentation->statusItem().simulate_trigger();
    EXPECT_FALSE(presentation->isPanelShown());
    now += 300;
    presentation->statusItem().simulate_trigger();
    EXPECT_TRUE(presentation->isPanelShown());
    EXPECT_EQ(presentation->panel(), panel);
    EXPECT_EQ(coordinator.intentCases(), (std::vector<std::size_t>{5, 5}));
    presentation->statusItem().simulate_trigger();
    EXPECT_FALSE(presentation->isPanelShown());

    presentation->statusItem().simulate_quit();
    EXPECT_EQ(quits, 1);
    presentation->stop();
    EXPECT_FALSE(presentation->statusItem().isShown());
    EXPECT_EQ(presentation->panel(), nullptr);
}

TEST_F(PresentationTest, ThePopupOpensBelowTheIconOrAtTheCursorInsideTheScreen) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    auto atIcon = make(true, QRect(area.right() - 10, area.top(), 24, 24));
    atIcon->start();
    atIcon->open();
    QWidget* window = atIcon->window();
    EXPECT_EQ(window->y(), area.top() + 24);
    EXPECT_EQ(window->geometry().right(), area.right());
    atIcon->stop();

    // A tray at the bottom: the popup stands on the icon, whatever page it shows.
    auto atBottom = make(true, QRect(area.center().x(), area.bottom() - 23, 24, 24));
    atBottom->start();
    atBottom->open();
    EXPECT_EQ(atBottom->window()->geometry().bottom(), area.bottom() - 24);
    atBottom->panel()->openInspector(InspectorPage::about);
    EXPECT_EQ(atBottom->window()->geometry().bottom(), area.bottom() - 24);
    atBottom->stop();

    // A tray that has not placed its icon yet answers the origin: the cursor knows better.
    auto atCursor = make(true, QRect(0, 0, 22, 22));
    atCursor->start();
    atCursor->open();
    EXPECT_EQ(atCursor->window()->x(), 500 - 170);
    EXPECT_TRUE(area.contains(atCursor->window()->geometry()));
}

TEST_F(PresentationTest, WithoutATrayThePanelIsANormalWindowThatMinimisesOnClose) {
    auto calls = activation.track_calls();
    auto presentation = make(false);
    presentation->start();
    ASSERT_TRUE(presentation->isPanelShown());
    EXPECT_FALSE(presentation->statusItem().isShown());
    EXPECT_FALSE(presentation->window()->windowFlags().testFlag(Qt::Popup));
    EXPECT_EQ(activation.policy(), platform::ApplicationActivation::Policy::regular);
    presentation->window()->close();
    EXPECT_NE(presentation->window(), nullptr);
    EXPECT_TRUE(presentation->window()->isMinimized() || presentation->window()->isVisible());
}

TEST_F(PresentationTest, ThePanelClosesBeforeItsPrimaryActionAndTheShortcutActsAsTheHotKey) {
    coordinator.state.settings = MenuBarSettingsState::available(settingsIn("/home/user/Videos/Yux"));
    auto presentation = make(true, QRect(700, 0, 24, 24));
    presentation->start();
    presentation->open();
    // The coordinator hears of the start only once the popup has let the keyboard go.
    std::optional<bool> shownAtStart;
    coordinator.onDispatch = [&](const MenuIntent& intent) {
        if (intent.is<MenuIntent::StartRecording>()) shownAtStart = presentation->isPanelShown();
    };
    presentation->panel()->recordTab()->primaryButton()->click();
    EXPECT_EQ(shownAtStart, false);
    EXPECT_EQ(coordinator.intentCases().back(), 2u);

    now += 1000;
    presentation->open();
    QWidget* focus = presentation->panel()->recordTab()->primaryButton();
    const auto six = *X11KeyMap::x11Keycode(22);
    QKeyEvent other(QEvent::KeyPress, Qt::Key_6, Qt::ShiftModifier, six, 0, 0);
    QApplication::sendEvent(focus, &other);
    EXPECT_EQ(shortcutPresses, 0);
    EXPECT_TRUE(presentation->isPanelShown());
    QKeyEvent press(QEvent::KeyPress, Qt::Key_6, Qt::ShiftModifier | Qt::MetaModifier, six, 0, 0);
    QApplication::sendEvent(focus, &press);
    EXPECT_EQ(shortcutPresses, 1);
    EXPECT_FALSE(presentation->isPanelShown());

    // While the recorder captures, the same press is a new shortcut, not a recording.
    now += 1000;
    presentation->open();
    RecordingShortcutRecorder* recorder = presentation->panel()->recordTab()->shortcutRecorder();
    recorder->begin();
    ASSERT_TRUE(recorder->isCapturing());
    QKeyEvent again(QEvent::KeyPress, Qt::Key_6, Qt::ShiftModifier | Qt::MetaModifier, six, 0, 0);
    QApplication::sendEvent(focus, &again);
    EXPECT_EQ(shortcutPresses, 1);
}

TEST_F(PresentationTest, StoppingWhileTheShortcutIsCapturedResumesTheHotKey) {
    coordinator.state.settings = MenuBarSettingsState::available(settingsIn("/home/user/Videos/Yux"));
    auto presentation = make(true, QRect(700, 0, 24, 24));
    presentation->start();
    presentation->open();
    presentation->panel()->recordTab()->shortcutRecorder()->begin();
    ASSERT_TRUE(presentation->panel()->recordTab()->shortcutRecorder()->isCapturing());
    presentation.reset();
    EXPECT_EQ(coordinator.shortcutRecordings, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace yux

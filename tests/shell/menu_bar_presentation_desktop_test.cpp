#include "shell/menu_bar_presentation.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>

#include "platform/async/wait_for.hpp"
#include "shell/fake_menu_bar_coordinator.hpp"
#include "shell/menu_bar_panel_view_model.hpp"
#include "shell/record_tab.hpp"
#include "support/screenshot_writer.hpp"
#include "support/x11_test_client.hpp"

namespace yux {
namespace {

constexpr std::uint8_t kEscapeKeycode = 9;

// The live tray icon in the test desktop's panel, and the popup it opens.
TEST(MenuBarPresentationDesktop, TheTrayIconOpensThePopupBelowItWithTheKeyboardAndEscapeClosesIt) {
    // The desktop's panel may still be starting its tray.
    const auto probe = StatusItem::create();
    ASSERT_TRUE(testing::processEventsUntil([&] { return probe->isAvailable(); }, 5000)) << "no system tray";
    testing::FakeMenuBarCoordinator coordinator;
    coordinator.state.settings = MenuBarSettingsState::available(testing::settingsIn("/tmp/Yux"));
    MenuBarPanel::Services services;
    services.home = "/home/user";
    auto presentation = MenuBarPresentation::create(MenuBarPresentation::Parts{
        .intentHandler = coordinator,
        .stateProvider = coordinator,
        .panel = services,
        .statusItem = StatusItem::create(),
        .activation = platform::ApplicationActivation::create(),
    });
    presentation->start();
    ASSERT_TRUE(presentation->statusItem().isShown());
    ASSERT_TRUE(testing::processEventsUntil(
        [&] {
            const QRect placed = presentation->statusItem().geometry();
            return placed.isValid() && placed.topLeft() != QPoint(0, 0);
        },
        5000))
        << "the tray never placed the icon";
    const QRect icon = presentation->statusItem().geometry();
    testing::processEventsFor(300);
    {
        const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        test::writeScreenshot(screen.copy(QRect(screen.width() - 400, screen.height() - 40, 400, 40)).scaled(1600, 160),
                              "tray_icon");
    }

    presentation->togglePanel();
    ASSERT_TRUE(testing::processEventsUntil([&] { return presentation->isPanelShown(); }, 3000));
    QWidget* window = presentation->window();
    const QRect area = window->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(window->frameGeometry())) << window->frameGeometry().x() << "," << window->frameGeometry().y();
    EXPECT_EQ(window->width(), 340);
    // Beside the icon: below a tray at the top, above one at the bottom.
    EXPECT_TRUE(window->geometry().top() == icon.bottom() + 1 || window->geometry().bottom() + 1 == icon.top() ||
                window->geometry().bottom() == area.bottom());
    testing::processEventsFor(300);
    test::writeScreenshot(*window, "tray_popup");


    testing::X11TestClient keyboard;
    keyboard.tap(kEscapeKeycode);
    keyboard.sync();
    EXPECT_TRUE(testing::processEventsUntil([&] { return !presentation->isPanelShown(); }, 3000))
        << "Escape did not close the popup";
    presentation->stop();
}

}  // namespace
}  // namespace yux

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/async/wait_for.hpp"
#include "selection/desktop_application_catalog.hpp"
#include "selection/x11_display_provider.hpp"
#include "support/x11_test_window.hpp"

using namespace yux;
using namespace std::chrono_literals;

namespace {

// Two monitors side by side on the one Xvfb screen, the right one primary; removed again.
class SplitScreen {
public:
    SplitScreen() {
        ok_ = std::system("xrandr --setmonitor YuxTestLeft 960/254x1080/286+0+0 none >/dev/null 2>&1") == 0 &&
              std::system("xrandr --setmonitor '*YuxTestRight' 960/254x1080/286+960+0 none >/dev/null 2>&1") == 0;
    }
    ~SplitScreen() {
        std::system("xrandr --delmonitor YuxTestLeft >/dev/null 2>&1");
        std::system("xrandr --delmonitor YuxTestRight >/dev/null 2>&1");
    }
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

}  // namespace

TEST(X11DisplayProviderOnTheDesktop, TwoMonitorsAreListedPrimaryFirst) {
    SplitScreen split;
    ASSERT_TRUE(split.ok());
    auto provider = X11DisplayProvider::create();
    auto task = provider->availableDisplays();
    auto displays = platform::waitForTask(task);
    ASSERT_GE(displays.size(), 2u);
    EXPECT_EQ(displays[0], DisplayBounds(displays[0].displayID, 960, 0, 960, 1080, 960, 1080));
    bool leftListed = false;
    for (std::size_t i = 1; i < displays.size(); ++i) {
        leftListed = leftListed || displays[i] == DisplayBounds(displays[i].displayID, 0, 0, 960, 1080, 960, 1080);
    }
    EXPECT_TRUE(leftListed);
    // Identifiers are decimal numbers that stay put while the server runs.
    auto again = provider->availableDisplays();
    EXPECT_EQ(platform::waitForTask(again)[0].displayID, displays[0].displayID);
    EXPECT_EQ(displays[0].displayID.rawValue.find_first_not_of("0123456789"), std::string::npos);
}

TEST(DesktopApplicationCatalogOnTheDesktop, ListsAnotherApplicationsWindowButNotThisProcess) {
    yux::testing::X11TestWindow::Options other;
    other.x = 700;
    other.y = 500;
    other.width = 220;
    other.height = 140;
    other.overrideRedirect = false;
    other.applicationClass = "YuxCatalogOther";
    other.processID = 900101;
    yux::testing::X11TestWindow::Options own = other;
    own.x = 1000;
    own.applicationClass = "YuxCatalogSelf";
    own.processID = getpid();
    yux::testing::X11TestWindow otherWindow(other);
    yux::testing::X11TestWindow ownWindow(own);
    ASSERT_TRUE(otherWindow.waitUntilViewable());
    ASSERT_TRUE(ownWindow.waitUntilViewable());

    auto catalog = DesktopApplicationCatalog::create();
    std::optional<DesktopApplicationWindow> found;
    for (int attempt = 0; attempt < 100 && !found; ++attempt) {
        for (const auto& window : catalog.windows()) {
            EXPECT_NE(window.bundleIdentifier, "YuxCatalogSelf");
            if (window.bundleIdentifier == "YuxCatalogOther") found = window;
        }
        if (!found) std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(found->id, static_cast<int>(otherWindow.id()));
    EXPECT_EQ(found->applicationName, "YuxCatalogOther");  // no desktop file: the class
    // The frame includes the window manager's decoration around the 220 x 140 client.
    EXPECT_GE(found->frame.width, 220);
    EXPECT_GE(found->frame.height, 140);
}

TEST(DesktopApplicationCatalogOnTheDesktop, ListsTheWindowOfAProgramThatNamesNoProcess) {
    // xlogo's toolkit sets no _NET_WM_PID: the X server's record of its connection tells.
    yux::testing::X11TestProgram logo({"xlogo", "-geometry", "240x160+300+600"});
    const xcb_window_t window = logo.waitForWindow("XLogo");
    ASSERT_NE(window, 0u) << "xlogo did not show";
    auto catalog = DesktopApplicationCatalog::create();
    std::optional<DesktopApplicationWindow> found;
    for (int attempt = 0; attempt < 100 && !found; ++attempt) {
        for (const auto& listed : catalog.windows()) {
            if (listed.id == static_cast<int>(window)) found = listed;
        }
        if (!found) std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bundleIdentifier, "XLogo");
    EXPECT_FALSE(found->applicationName.empty());
    EXPECT_GE(found->frame.width, 240);
}

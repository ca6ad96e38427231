#include "shell/record_tab.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include <QLabel>
#include <QPushButton>

#include "platform/async/wait_for.hpp"
#include "platform/desktop/view_style.hpp"
#include "shell/fake_menu_bar_coordinator.hpp"
#include "shell/recording_shortcut_recorder.hpp"
#include "support/screenshot_writer.hpp"

namespace yux {
namespace {

using platform::Symbol;
using testing::everySessionState;
using testing::FakeMenuBarCoordinator;
using testing::settingsIn;

struct Expected {
    const char* status;
    const char* label;
    Symbol symbol;
    bool primaryEnabled;
    bool folderEnabled;
    bool shortcutEnabled;
};

// In the order of everySessionState().
const Expected kByState[] = {
    {"Recording", "STOP RECORDING", Symbol::stopFill, true, false, false},
    {"Trim Preview Open", "TRIMMING...", Symbol::ellipsis, false, false, false},
    {"Recording Failed", "RECORD AREA", Symbol::circleFill, true, true, true},
    {"Ready to Record", "RECORD AREA", Symbol::circleFill, true, true, true},
    {"Selecting Area...", "CANCEL", Symbol::xmark, true, true, false},
    {"Stopping...", "STOPPING...", Symbol::ellipsis, false, false, false},
};

struct RecordTabTest : ::testing::Test {
    FakeMenuBarCoordinator coordinator;
    MenuBarPanelViewModel model{coordinator, coordinator, platform::SystemLog::create_null()};
    RecordTab tab{model, nullptr, "/home/user"};
};

TEST_F(RecordTabTest, EveryStateWithAndWithoutSettingsShowsItsLabelSymbolColourAndLocks) {
    tab.resize(312, tab.sizeHint().height());
    tab.show();
    const auto states = everySessionState();
    for (std::size_t i = 0; i < states.size(); ++i) {
        for (bool available : {true, false}) {
            SCOPED_TRACE(::testing::Message() << "state " << i << (available ? " available" : " unavailable"));
            coordinator.state = {};
            coordinator.state.recordingState = states[i];
            coordinator.state.settings = available ? MenuBarSettingsState::available(settingsIn("/home/user/Videos/Yux"))
                                                   : MenuBarSettingsState::unavailable();
            platform::waitForTask(model.syncFromProvider());
            const Expected& expected = kByState[i];
            EXPECT_EQ(tab.statusText()->text(), expected.status);
            PrimaryRecordButton* primary = tab.primaryButton();
            EXPECT_EQ(primary->text(), available ? expected.label : "CHOOSE SAVE FOLDER");
            EXPECT_EQ(primary->accessibleName(), primary->text());
            EXPECT_EQ(primary->symbol(), available ? expected.symbol : Symbol::folderBadgePlus);
            EXPECT_EQ(primary->isEnabled(), expected.primaryEnabled);
            EXPECT_EQ(primary->drawnOpacity(), expected.primaryEnabled ? 1.0 : 0.5);
            // The colour follows the state even while the button asks for a folder.
            if (i == 0) {
                EXPECT_EQ(primary->fill(), platform::systemRed());
            } else if (i == 3) {
                EXPECT_EQ(primary->fill(), tab.palette().color(QPalette::Active, QPalette::Highlight));
            }
            EXPECT_EQ(tab.saveFolderButton()->isEnabled(), expected.folderEnabled);
            EXPECT_EQ(tab.saveFolderButton()->text(), available ? "Change" : "Choose");
            EXPECT_EQ(tab.saveFolderText()->text(), available ? "~/Videos/Yux" : "Not set");
            // The recorder is there exactly when settings were saved; locked by the state.
            EXPECT_EQ(tab.shortcutRecorder()->isVisible(), available);
            EXPECT_EQ(tab.shortcutPlaceholder()->isVisible(), !available);
            if (available) {
                EXPECT_EQ(tab.shortcutRecorder()->isEnabled(), expected.shortcutEnabled);
            }
            // Only idle with saved settings shows the shortcut on the button.
            EXPECT_EQ(primary->badge(), i == 3 && available ? "Shift+Super+6" : "");
            if (available) {
                tab.resize(312, tab.sizeHint().height());
                yux::test::writeScreenshot(tab, QString("record_tab_%1").arg(i));
            }
        }
    }
    EXPECT_EQ(tab.shortcutPlaceholder()->text(), "Choose a save folder first to configure the shortcut.");
}

TEST_F(RecordTabTest, TheBlockingMessageShowsAboveAndTheButtonsGoToTheModel) {
    tab.show();
    coordinator.state.settings = MenuBarSettingsState::available(settingsIn("/media/usb/Yux"));
    coordinator.state.blockingError = AppError::settingsPersistFailed("disk full");
    coordinator.state.blockingMessage = "Yux could not save settings: disk full";
    platform::waitForTask(model.syncFromProvider());
    EXPECT_TRUE(tab.notice()->isVisible());
    EXPECT_EQ(tab.notice()->text(), "Yux could not save settings: disk full");
    EXPECT_EQ(tab.saveFolderText()->text(), "/media/usb/Yux");
    tab.resize(312, tab.heightForWidth(312) > 0 ? tab.heightForWidth(312) : tab.sizeHint().height());
    yux::test::writeScreenshot(tab, "record_tab_blocking");

    tab.primaryButton()->click();
    tab.saveFolderButton()->click();
    EXPECT_EQ(coordinator.intentCases(), (std::vector<std::size_t>{2, 6}));
}

// WCAG's relative luminance of an sRGB colour.
double luminance(QColor colour) {
    auto channel = [](double value) { return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

TEST_F(RecordTabTest, TheShortcutLockedDuringARecordingStaysReadableAtHalfOpacity) {
    tab.show();
    coordinator.state.settings = MenuBarSettingsState::available(settingsIn("/home/user/Videos/Yux"));
    struct Case {
        std::size_t state;
        double minimumContrast;
    };
    // Ready: full strength; recording: half opacity, still at least 3:1 against its pill.
    const Case cases[] = {{3, 7.0}, {0, 3.0}};
    for (const Case& c : cases) {
        coordinator.state.recordingState = everySessionState()[c.state];
        platform::waitForTask(model.syncFromProvider());
        QLabel* cap = tab.shortcutRecorder()->keyCap();
        ASSERT_EQ(cap->isEnabled(), kByState[c.state].shortcutEnabled);
        const QImage picture = cap->grab().toImage();
        const double pill = luminance(picture.pixelColor(2, picture.height() / 2));
        double text = 1;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) text = std::min(text, luminance(picture.pixelColor(x, y)));
        EXPECT_GE((pill + 0.05) / (text + 0.05), c.minimumContrast) << kByState[c.state].status;
    }
}

TEST(HomeShortenedPath, OnlyTheHomeFolderItselfOrAPathInsideItIsShortened) {
    EXPECT_EQ(homeShortenedPath("/home/user", "/home/user"), "~");
    EXPECT_EQ(homeShortenedPath("/home/user/Videos/Yux", "/home/user"), "~/Videos/Yux");
    EXPECT_EQ(homeShortenedPath("/home/user/Videos", "/home/user/"), "~/Videos");
    EXPECT_EQ(homeShortenedPath("/home/user2/Videos", "/home/user"), "/home/user2/Videos");
    EXPECT_EQ(homeShortenedPath("/srv/Videos", "/home/user"), "/srv/Videos");
    EXPECT_EQ(homeShortenedPath("/srv/Videos", "/"), "/srv/Videos");
    EXPECT_EQ(homeShortenedPath("/srv/Videos", ""), "/srv/Videos");
}

}  // namespace
}  // namespace yux

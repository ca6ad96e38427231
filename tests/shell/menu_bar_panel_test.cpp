#include "shell/menu_bar_panel.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include "platform/async/wait_for.hpp"
#include "platform/desktop/file_manager_reveal.hpp"
#include "shell/fake_menu_bar_coordinator.hpp"
#include "shell/app_inspector_kit.hpp"
#include "shell/menu_bar_panel_view_model.hpp"
#include "shell/panel_style.hpp"
#include "shell/record_tab.hpp"
#include "shell/recording_shortcut_recorder.hpp"
#include "support/screenshot_writer.hpp"

namespace yux {
namespace {

using testing::FakeMenuBarCoordinator;
using testing::settingsIn;

constexpr double kNow = 800000000;

struct PanelTest : ::testing::Test {
    FakeMenuBarCoordinator coordinator;
    std::shared_ptr<platform::FileManagerReveal> reveal = platform::FileManagerReveal::create_null();
    platform::OutputTracker<platform::FileManagerReveal::Request> revealed = reveal->track_requests();
    int quits = 0;
    MenuBarPanel panel{coordinator, coordinator,
                       MenuBarPanel::Services{.inputs = nullptr,
                                              .reveal = reveal,
                                              .quit = [this] { ++quits; },
                                              .version = QVariant(QStringLiteral("0.1.0")),
                                              .home = "/home/user",
                                              .now = [] { return Date{kNow}; }}};

    void read() { platform::waitForTask(panel.model().syncFromProvider()); }
    std::vector<QWidget*> visible(const char* name) {
        std::vector<QWidget*> found;
        for (QWidget* widget : panel.findChildren<QWidget*>(name)) {
            if (widget->isVisibleTo(&panel)) found.push_back(widget);
        }
        return found;
    }
};

TEST(RelativeTimeText, UsesTheLargestWholeUnitEitherWay) {
    EXPECT_EQ(relativeTimeText(Date{kNow - 5.7}, Date{kNow}), "5 sec. ago");
    EXPECT_EQ(relativeTimeText(Date{kNow}, Date{kNow}), "0 sec. ago");
    EXPECT_EQ(relativeTimeText(Date{kNow - 60}, Date{kNow}), "1 min. ago");
    EXPECT_EQ(relativeTimeText(Date{kNow - 7200}, Date{kNow}), "2 hr. ago");
    EXPECT_EQ(relativeTimeText(Date{kNow - 86400}, Date{kNow}), "1 day ago");
    EXPECT_EQ(relativeTimeText(Date{kNow - 3 * 86400}, Date{kNow}), "3 days ago");
    EXPECT_EQ(relativeTimeText(Date{kNow - 40 * 86400}, Date{kNow}), "1 mo. ago");
    EXPECT_EQ(relativeTimeText(Date{kNow - 800 * 86400}, Date{kNow}), "2 yr. ago");
    EXPECT_EQ(relativeTimeText(Date{kNow + 90}, Date{kNow}), "in 1 min.");
}

TEST_F(PanelTest, ShowingRefreshesAndTheRecordingStatesTintTheBackground) {
    panel.show();
    EXPECT_EQ(coordinator.intentCases(), std::vector<std::size_t>{5});
    for (const RecordingSessionState& state : testing::everySessionState()) {
        coordinator.state.recordingState = state;
        read();
        const bool tinted = state.recordingInfo() != nullptr || state.isStopping();
        EXPECT_EQ(panel.backgroundTint().alpha() > 0, tinted) << state.diagnosticText();
    }
    EXPECT_EQ(panel.width(), InspectorStyle::trayWidth);
}

TEST_F(PanelTest, HistoryListsRecentFilesDividedAndRevealsTheClickedOne) {
    panel.show();
    panel.selectTab(PanelTab::history);
    EXPECT_EQ(visible("emptyHistory").size(), 1u);

    coordinator.state.recent = {RecordingFile{"/home/user/Videos/Yux/one.mov", Date{kNow - 5}}};
    read();
    QApplication::processEvents();
    EXPECT_EQ(visible("historyRow").size(), 1u);
    EXPECT_EQ(visible("historyDivider").size(), 0u);
    EXPECT_TRUE(visible("emptyHistory").empty());

    coordinator.state.recent = {RecordingFile{"/v/a.mov", Date{kNow - 5}}, RecordingFile{"~/Videos/b.mov", Date{kNow - 120}},
                                RecordingFile{"/v/c.mov", Date{kNow - 7200}}};
    read();
    QApplication::processEvents();
    std::vector<QWidget*> rows = visible("historyRow");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(visible("historyDivider").size(), 2u);
    EXPECT_EQ(rows[1]->findChild<QLabel*>("fileName")->text(), "b.mov");
    EXPECT_EQ(rows[1]->findChild<QLabel*>("relativeTime")->text(), "2 min. ago");
    static_cast<QAbstractButton*>(rows[1])->click();
    ASSERT_EQ(revealed.data().size(), 1u);
    EXPECT_EQ(revealed.data()[0].target, "file:///home/user/Videos/b.mov");
    EXPECT_FALSE(panel.revealFailure());
    panel.resize(panel.sizeHint());
    yux::test::writeScreenshot(panel, "panel_history");

    // A name too long for the panel is cut in the middle, the panel keeping its width.
    const QString longName = "Yux " + QString(90, 'x') + " end.mov";
    coordinator.state.recent = {RecordingFile{"/v/" + longName.toStdString(), Date{kNow}}};
    read();
    QApplication::processEvents();
    rows = visible("historyRow");
    ASSERT_EQ(rows.size(), 1u);
    const auto* name = dynamic_cast<panel_style::MiddleElidedLabel*>(rows[0]->findChild<QLabel*>("fileName"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), longName);
    const QString shown = name->shownText();
    EXPECT_TRUE(shown.startsWith("Yux x") && shown.endsWith("x end.mov") && shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_EQ(panel.width(), InspectorStyle::trayWidth);
}

TEST(PanelReveal, AFolderNothingCanOpenIsSaidInTheHistoryUntilTheNextTry) {
    FakeMenuBarCoordinator coordinator;
    auto reveal = platform::FileManagerReveal::create_null(false, false);
    MenuBarPanel panel{coordinator, coordinator,
                       MenuBarPanel::Services{.reveal = reveal, .home = "/home/user", .now = [] { return Date{kNow}; }}};
    panel.show();
    panel.selectTab(PanelTab::history);
    coordinator.state.recent = {RecordingFile{"~/Videos/Yux/a.mov", Date{kNow - 5}}};
    platform::waitForTask(panel.model().syncFromProvider());
    QApplication::processEvents();
    auto row = [&] { return panel.historyPage()->findChild<QAbstractButton*>("historyRow"); };
    auto failureLine = [&]() -> StatusMessage* {
        auto* line = panel.historyPage()->findChild<StatusMessage*>("revealFailure");
        return line && line->isVisibleTo(&panel) ? line : nullptr;
    };
    EXPECT_EQ(failureLine(), nullptr);

    row()->click();
    ASSERT_TRUE(panel.revealFailure());
    QApplication::processEvents();
    ASSERT_NE(failureLine(), nullptr);
    EXPECT_TRUE(failureLine()->isError());
    EXPECT_EQ(failureLine()->textLabel()->text(), "Could not open the folder /home/user/Videos/Yux.");
    // The rows stay below it and still work; leaving the tab drops the line.
    EXPECT_GT(row()->y(), failureLine()->y());
    panel.resize(panel.sizeHint());
    yux::test::writeScreenshot(panel, "panel_history_folder_failure");
    panel.selectTab(PanelTab::record);
    panel.selectTab(PanelTab::history);
    QApplication::processEvents();
    EXPECT_EQ(failureLine(), nullptr);
    EXPECT_FALSE(panel.revealFailure());
}

TEST_F(PanelTest, PagesReplaceThePanelAndBackReturnsToTheSameTab) {
    coordinator.state.settings = MenuBarSettingsState::available(settingsIn("/home/user/Videos/Yux"));
    panel.show();
    read();
    panel.resize(panel.sizeHint());
    yux::test::writeScreenshot(panel, "panel_record");
    RecordingShortcutRecorder* recorder = panel.recordTab()->shortcutRecorder();
    recorder->begin();
    ASSERT_TRUE(recorder->isCapturing());

    panel.openInspector(InspectorPage::about);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(panel.mainPanel()->isVisible());
    ASSERT_NE(panel.inspectorPage(), nullptr);
    EXPECT_TRUE(panel.inspectorPage()->isVisible());
    EXPECT_EQ(panel.inspectorPage()->findChild<QLabel*>("credit")->text().left(13), "Version 0.1.0");
    yux::test::writeScreenshot(panel, "panel_about");
    panel.inspectorPage()->findChild<InspectorHeader*>()->backButton()->click();
    EXPECT_FALSE(panel.inspector().has_value());
    EXPECT_TRUE(panel.mainPanel()->isVisible());
    EXPECT_TRUE(panel.recordTab()->isVisible());

    panel.selectTab(PanelTab::history);
    panel.openInspector(InspectorPage::settings);
    EXPECT_FALSE(panel.mainPanel()->isVisible());
    yux::test::writeScreenshot(panel, "panel_settings");
    panel.inspectorPage()->findChild<InspectorHeader*>()->backButton()->click();
    EXPECT_EQ(panel.selectedTab(), PanelTab::history);
    EXPECT_TRUE(panel.historyPage()->isVisible());
    EXPECT_FALSE(panel.recordTab()->isVisible());

    // Switching tabs also ends a capture.
    panel.selectTab(PanelTab::record);
    recorder->begin();
    ASSERT_TRUE(recorder->isCapturing());
    panel.selectTab(PanelTab::history);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(quits, 0);
}

}  // namespace
}  // namespace yux

#include "shell/menu_bar_panel_view_model.hpp"

#include <gtest/gtest.h>

#include "platform/async/wait_for.hpp"
#include "shell/fake_menu_bar_coordinator.hpp"

namespace yux {
namespace {

using testing::everySessionState;
using testing::FakeMenuBarCoordinator;
using testing::settingsIn;

constexpr std::size_t kSave = 0, kCancel = 1, kStart = 2, kStop = 3, kRefresh = 5, kChooseFolder = 6;

struct ViewModelTest : ::testing::Test {
    FakeMenuBarCoordinator coordinator;
    platform::SystemLog log = platform::SystemLog::create_null();
    platform::OutputTracker<platform::SystemLogLine> lines = log.track_lines();
    MenuBarPanelViewModel model{coordinator, coordinator, log};

    void sync() { platform::waitForTask(model.syncFromProvider()); }
};

TEST_F(ViewModelTest, ThePrimaryIntentFollowsTheStateAndAsksForAFolderWithoutSettings) {
    const std::vector<std::optional<std::size_t>> expected = {kStop, std::nullopt, kStart, kStart, kCancel, std::nullopt};
    const auto states = everySessionState();
    for (std::size_t i = 0; i < states.size(); ++i) {
        MenuBarPanelState state;
        state.recordingState = states[i];
        std::optional<MenuIntent> unavailable = MenuBarPanelViewModel::primaryIntent(state);
        ASSERT_TRUE(unavailable.has_value());
        EXPECT_EQ(unavailable->value.index(), kChooseFolder) << i;

        state.settings = MenuBarSettingsState::available(settingsIn("/home/u/Videos/Yux"));
        std::optional<MenuIntent> chosen = MenuBarPanelViewModel::primaryIntent(state);
        EXPECT_EQ(chosen ? std::optional(chosen->value.index()) : std::nullopt, expected[i]) << i;
    }
}

TEST_F(ViewModelTest, ActionsDispatchThenReadAndAStateWithoutAnActionReadsNothing) {
    // Before any read the settings are unavailable: the primary action asks for a folder.
    model.performPrimaryRecordAction();
    EXPECT_EQ(coordinator.intentCases(), std::vector<std::size_t>{kChooseFolder});
    EXPECT_EQ(coordinator.reads, 1);

    coordinator.state.settings = MenuBarSettingsState::available(settingsIn("/v"));
    coordinator.state.recordingState = RecordingSessionState::pendingTrim(testing::pendingArtifact());
    model.refresh();
    EXPECT_EQ(coordinator.intentCases(), (std::vector<std::size_t>{kChooseFolder, kRefresh}));
    EXPECT_EQ(coordinator.reads, 2);
    model.performPrimaryRecordAction();
    coordinator.state.recordingState = RecordingSessionState::stopping();
    sync();
    model.performPrimaryRecordAction();
    EXPECT_EQ(coordinator.intents.size(), 2u);
    EXPECT_EQ(coordinator.reads, 3);

    coordinator.state.recordingState = RecordingSessionState::failed(AppError::settingsPersistFailed("x"));
    sync();
    model.performPrimaryRecordAction();
    model.chooseSaveFolder();
    EXPECT_EQ(coordinator.intentCases(), (std::vector<std::size_t>{kChooseFolder, kRefresh, kStart, kChooseFolder}));
    EXPECT_EQ(model.runningTasks(), 0u);
}

TEST_F(ViewModelTest, AFailedSaveKeepsTheDraftWhileANewSavedShortcutReplacesAnUneditedOne) {
    // Nothing saved: nothing to save.
    model.persistSettings();
    EXPECT_TRUE(coordinator.intents.empty());
    EXPECT_FALSE(model.isUnsavedSettings());

    // The first read takes the saved shortcut.
    const RecordingShortcut altF5(96, RecordingShortcut::option);
    coordinator.state.settings = MenuBarSettingsState::available(settingsIn("/v", altF5));
    sync();
    EXPECT_EQ(model.recordingShortcut(), altF5);
    EXPECT_EQ(model.saveFolderPath(), "/v");

    coordinator.state.settings = MenuBarSettingsState::available(settingsIn("/v"));
    sync();
    EXPECT_EQ(model.recordingShortcut(), RecordingShortcut::defaultShortcut());

    // An edit whose save fails stays, and is logged as kept.
    model.setRecordingShortcut(altF5);
    EXPECT_TRUE(model.isUnsavedSettings());
    model.persistSettings();
    ASSERT_EQ(coordinator.intents.back().value.index(), kSave);
    const auto& saved = std::get<MenuIntent::SaveSettings>(coordinator.intents.back().value).settings;
    EXPECT_EQ(saved, settingsIn("/v", altF5));
    EXPECT_EQ(model.recordingShortcut(), altF5);
    EXPECT_TRUE(model.isUnsavedSettings());
    EXPECT_EQ(lines.data().back().message, "shortcut_refresh draft=Alt+F5 saved=Shift+Super+6 preserve_draft=true");

    // Unavailable settings go back to the default and log nothing.
    const std::size_t logged = lines.data().size();
    coordinator.state.settings = MenuBarSettingsState::unavailable();
    sync();
    EXPECT_EQ(model.recordingShortcut(), RecordingShortcut::defaultShortcut());
    EXPECT_FALSE(model.persistedSettings().has_value());
    EXPECT_FALSE(model.saveFolderPath().has_value());
    EXPECT_EQ(lines.data().size(), logged);
}

TEST_F(ViewModelTest, ShortcutSuspensionAnswersTheCoordinatorsAnswerAfterAFreshRead) {
    coordinator.shortcutRecordingAnswer = false;
    coordinator.state.blockingMessage = "Shortcut settings are being saved.";
    EXPECT_FALSE(platform::waitForTask(model.setShortcutRecording(true)));
    EXPECT_EQ(coordinator.shortcutRecordings, std::vector<bool>{true});
    EXPECT_EQ(model.blockingMessage(), "Shortcut settings are being saved.");
    coordinator.shortcutRecordingAnswer = true;
    EXPECT_TRUE(platform::waitForTask(model.setShortcutRecording(false)));
    EXPECT_EQ(coordinator.reads, 2);
}

}  // namespace
}  // namespace yux

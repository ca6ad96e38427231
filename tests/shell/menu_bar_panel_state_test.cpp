#include "shell/menu_bar_panel_state.hpp"

#include <gtest/gtest.h>

#include "model/user_facing_error_message_policy.hpp"

namespace yux {
namespace {

AppSettings settingsAt(std::string path) { return AppSettings::initial({std::move(path), {1, 2, 3}}); }

TEST(MenuBarPanelStateTest, ShownErrorFollowsSessionThenLoadThenOwn) {
    const AppError session = AppError::screenSelectionFailed("gone");
    const AppError own = AppError::saveFolderUnusable("read-only");
    const AppError load = AppError::settingsLoadFailed("bad json");

    // A failed session hides the coordinator's error, which comes back once the session recovers.
    auto failed = derivePanelState(RecordingSessionState::failed(session), settingsAt("/s"), own, {});
    EXPECT_EQ(failed.blockingError, session);
    auto recovered = derivePanelState(RecordingSessionState::idle(), settingsAt("/s"), own, {});
    EXPECT_EQ(recovered.blockingError, own);
    EXPECT_EQ(recovered.blockingMessage, UserFacingErrorMessagePolicy{}.message(own));

    // A load failure replaces the coordinator's error, but not a failed session's.
    auto loadFailed = derivePanelState(RecordingSessionState::idle(), std::optional<AppError>(load), own, {});
    EXPECT_FALSE(loadFailed.settings.isAvailable());
    EXPECT_EQ(loadFailed.settings.settings(), nullptr);
    EXPECT_EQ(loadFailed.blockingError, load);
    auto bothFailed = derivePanelState(RecordingSessionState::failed(session), std::optional<AppError>(load), own, {});
    EXPECT_EQ(bothFailed.blockingError, session);

    // A failure that is not an AppError reads as a generic load failure.
    auto unknown = derivePanelState(RecordingSessionState::selecting(), std::optional<AppError>(), own, {});
    EXPECT_EQ(unknown.blockingError, AppError::settingsLoadFailed("unable to load settings"));
    EXPECT_TRUE(unknown.blockingMessage.has_value());
}

TEST(MenuBarPanelStateTest, NoErrorAnywhereAndSnapshotEquality) {
    const std::vector<RecordingFile> recent = {{"/s/a.mov", Date{10}}, {"/s/b.mov", Date{5}}};
    auto a = derivePanelState(RecordingSessionState::idle(), settingsAt("/s"), std::nullopt, recent);
    EXPECT_FALSE(a.blockingError.has_value());
    EXPECT_FALSE(a.blockingMessage.has_value());
    ASSERT_TRUE(a.settings.isAvailable());
    EXPECT_EQ(a.settings.settings()->saveFolderPath(), "/s");
    EXPECT_EQ(a.recent, recent);

    EXPECT_EQ(a, derivePanelState(RecordingSessionState::idle(), settingsAt("/s"), std::nullopt, recent));
    EXPECT_NE(a, derivePanelState(RecordingSessionState::idle(), settingsAt("/t"), std::nullopt, recent));
    EXPECT_NE(a, derivePanelState(RecordingSessionState::idle(), settingsAt("/s"), std::nullopt, {recent[0]}));
    EXPECT_NE(a, derivePanelState(RecordingSessionState::selecting(), settingsAt("/s"), std::nullopt, recent));
    EXPECT_TRUE(derivePanelState(RecordingSessionState::idle(), settingsAt("/s"), std::nullopt, {}).recent.empty());

    auto otherBookmark = settingsAt("/s");
    otherBookmark.saveFolder.bookmarkData = {9};
    EXPECT_NE(MenuBarSettingsState::available(settingsAt("/s")), MenuBarSettingsState::available(otherBookmark));
    EXPECT_EQ(MenuBarSettingsState::unavailable(), MenuBarSettingsState::unavailable());
}

}  // namespace
}  // namespace yux

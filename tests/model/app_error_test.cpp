#include "model/app_error.hpp"

#include <gtest/gtest.h>

#include "model/log_text.hpp"
#include "model/user_facing_error_message_policy.hpp"

using yux::AppError;
using yux::UserFacingErrorMessagePolicy;

TEST(UserFacingErrorMessagePolicy, InsertsDetailsUnchangedWhereTheTextShowsThem) {
    UserFacingErrorMessagePolicy policy;
    EXPECT_EQ(policy.message(AppError::saveFolderUnusable("save folder selection or bookmark creation failed")),
              "Save folder is unusable: save folder selection or bookmark creation failed. Choose another save folder.");
    EXPECT_EQ(policy.message(AppError::keyboardShortcutUnavailable("Finish choosing the shortcut first.")),
              "Finish choosing the shortcut first.");
    EXPECT_EQ(policy.message(AppError::screenSelectionFailed(" raw ")), "Screen selection failed:  raw ");
    EXPECT_EQ(policy.message(AppError::microphoneFailed("Unable to open selected input")),
              "Microphone capture failed: Unable to open selected input");
    EXPECT_EQ(policy.message(AppError::outputFinalizationFailed("Capture produced no video")),
              "Recording finalization failed: Capture produced no video");
    // An empty detail leaves the prefix with its blank.
    EXPECT_EQ(policy.message(AppError::cameraFailed("")), "Camera capture failed: ");
    EXPECT_EQ(policy.message(AppError::keyboardShortcutUnavailable("")), "");
}

TEST(UserFacingErrorMessagePolicy, HidesDetailsOfStorageAndDiscoveryFailures) {
    UserFacingErrorMessagePolicy policy;
    for (const char* detail : {"", "disk on fire"}) {
        EXPECT_EQ(policy.message(AppError::settingsLoadFailed(detail)),
                  "Settings could not be loaded. Choose a save folder to continue.");
        EXPECT_EQ(policy.message(AppError::settingsPersistFailed(detail)),
                  "Settings could not be saved. Check disk permissions and retry.");
        EXPECT_EQ(policy.message(AppError::recentRecordingLoadFailed(detail)), "Recent recordings could not be loaded.");
        EXPECT_EQ(policy.message(AppError::recentRecordingPersistFailed(detail)), "Recent recordings could not be saved.");
        EXPECT_EQ(policy.message(AppError::displayDiscoveryFailed(detail)),
                  "Display discovery failed. Reconnect your display and retry.");
        EXPECT_EQ(policy.message(AppError::systemPlaybackAudioFailed(detail)),
                  policy.message(AppError::systemPlaybackAudioFailed("other")));
    }
    EXPECT_NE(policy.message(AppError::systemPlaybackAudioFailed("x")),
              policy.message(AppError::systemPlaybackAudioUnavailable()));
}

TEST(UserFacingErrorMessagePolicy, GivesTheFixedTextsOfCasesWithoutDetail) {
    UserFacingErrorMessagePolicy policy;
    EXPECT_EQ(policy.message(AppError::screenSelectionCancelled()), "Screen selection was cancelled.");
    EXPECT_EQ(policy.message(AppError::screenSelectionInteractiveModeUnavailable()),
              "Interactive screen selection is not available.");
    EXPECT_EQ(policy.message(AppError::videoCaptureUnavailable()), "Video capture is unavailable. Recording cannot start.");
    EXPECT_EQ(policy.message(AppError::recordingSessionAlreadyActive()), "A recording session is already active.");
    EXPECT_EQ(policy.message(AppError::recordingSessionNotActive()), "No active recording session to stop.");
    EXPECT_EQ(policy.message(AppError::settingsMissing()), "Choose a save folder to finish setup.");
}

TEST(AppError, EqualityComparesCaseAndDetailAndWhatIsTheUserText) {
    EXPECT_NE(AppError::cameraFailed("a"), AppError::cameraFailed("b"));
    EXPECT_EQ(AppError::cameraFailed("a"), AppError::cameraFailed("a"));
    EXPECT_NE(AppError::cameraFailed("a"), AppError::microphoneFailed("a"));
    EXPECT_EQ(AppError::settingsMissing(), AppError::settingsMissing());
    EXPECT_TRUE(AppError::outputFinalizationFailed("x").hasDetail());
    EXPECT_FALSE(AppError::settingsMissing().hasDetail());
    try {
        throw AppError::cameraFailed("Open Yux Cam on your iPhone");
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Camera capture failed: Open Yux Cam on your iPhone");
    }
}

TEST(AppErrorText, WritesTheDetailAsAStringLiteralWithItsEscapes) {
    struct Case {
        std::string detail;
        std::string literal;
    };
    const std::vector<Case> cases = {
        {"plain", R"("plain")"},
        {"it's \"quoted\"", R"("it\'s \"quoted\"")"},
        {"back\\slash", R"("back\\slash")"},
        {"tab\tline\nreturn\r", R"("tab\tline\nreturn\r")"},
        {std::string("nul\0end", 7), R"("nul\0end")"},
        {"bell\x07 escape\x1b delete\x7f", R"("bell\u{7} escape\u{1b} delete\u{7f}")"},
        {"next line \xC2\x85 and \xC2\x9F", R"("next line \u{85} and \u{9f}")"},
        {"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xA5", "\"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xA5\""},
    };
    for (const auto& [detail, literal] : cases) {
        EXPECT_EQ(yux::appErrorText(AppError::cameraFailed(detail)), "cameraFailed(" + literal + ")") << detail;
    }
}

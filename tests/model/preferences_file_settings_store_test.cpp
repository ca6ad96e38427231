#include "model/preferences_file_settings_store.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <map>
#include <system_error>

#include "model/app_error.hpp"
#include "platform/async/wait_for.hpp"
#include "support/app_error_expectations.hpp"
#include "support/temporary_directory.hpp"

using yux::AppError;
using yux::AppSettings;
using yux::CaptureInputPreferences;
using yux::CaptureMode;
using yux::CapturePreference;
using yux::PreferencesFileSettingsStore;
using yux::PreferencesSDK;
using yux::PreferenceWrite;
using yux::RecordingShortcut;
using yux::SaveFolderBookmark;
using yux::SaveFolderDefaultLocationPolicy;
using yux::platform::waitForTask;
using yux::testing::expectAppError;
using yux::testing::readWholeFile;
using yux::testing::TemporaryDirectory;
using yux::testing::writeWholeFile;

namespace {

AppSettings someSettings() {
    return AppSettings{SaveFolderBookmark{"/home/ann/Videos/Yux", {'/', 'h'}}, RecordingShortcut(15, 0x100)};
}

CapturePreference screenPreference() {
    CapturePreference preference;
    preference.mode = CaptureMode::screen;
    preference.lastApplication = "org.example.editor";
    return preference;
}

// In-memory preferences that tests can read, corrupt and break.
struct ScriptedPreferences {
    std::map<std::string, std::string> values;
    bool writesFail = false;
    // The errno a failing write carries, when not 0.
    int writeError = 0;

    PreferencesSDK sdk(std::string home = "/home/recorder") {
        PreferencesSDK sdk;
        sdk.readData = [this](const std::string& key) -> std::optional<std::string> {
            auto found = values.find(key);
            if (found == values.end()) return std::nullopt;
            return found->second;
        };
        sdk.writeData = [this](const std::string& key, const std::string& data) {
            if (writesFail) throw std::runtime_error("No space left on device.");
            if (writeError != 0) throw std::system_error(writeError, std::generic_category(), "preferences.json");
            values[key] = data;
        };
        sdk.homeDirectory = [home] { return home; };
        sdk.createBookmark = [](const std::string& path) { return yux::json::Bytes(path.begin(), path.end()); };
        return sdk;
    }
};

PreferencesFileSettingsStore storeOver(ScriptedPreferences& preferences, SaveFolderDefaultLocationPolicy policy = {},
                                       std::string home = "/home/recorder") {
    return PreferencesFileSettingsStore(preferences.sdk(std::move(home)), "yux.settings", "yux.capture_preference",
                                        std::move(policy));
}

}  // namespace

TEST(PreferencesFileSettingsStore, TheNullStoreServesAndKeepsItsRecords) {
    auto store = PreferencesFileSettingsStore::create_null(someSettings(), screenPreference());
    auto writes = store->track_writes();
    EXPECT_EQ(waitForTask(store->loadSettings()), someSettings());
    EXPECT_EQ(waitForTask(store->loadCapturePreference()), screenPreference());

    auto changed = someSettings();
    changed.recordingShortcut = RecordingShortcut::defaultShortcut();
    waitForTask(store->persistSettings(changed));
    waitForTask(store->persistCapturePreference(CapturePreference::initial()));
    EXPECT_EQ(waitForTask(store->loadSettings()), changed);
    EXPECT_EQ(waitForTask(store->loadCapturePreference()), CapturePreference::initial());
    ASSERT_EQ(writes.data().size(), 2u);
    EXPECT_EQ(writes.data()[0].key, "yux.settings");
    EXPECT_EQ(writes.data()[1].key, "yux.capture_preference");
}

TEST(PreferencesFileSettingsStore, MissingRecordsReadAsDefaultsWithoutWriting) {
    ScriptedPreferences preferences;
    preferences.values["yux.settings"] = yux::json::encodeText(someSettings());
    auto store = storeOver(preferences);
    auto writes = store.track_writes();
    EXPECT_EQ(waitForTask(store.loadCapturePreference()), CapturePreference::initial());
    EXPECT_EQ(store.loadCaptureInputs(), CaptureInputPreferences{});
    EXPECT_TRUE(writes.data().empty());
}

TEST(PreferencesFileSettingsStore, InputChoicesLiveBesideTheSettingsUnderTheirOwnKey) {
    ScriptedPreferences preferences;
    preferences.values["yux.settings"] = yux::json::encodeText(someSettings());
    auto store = storeOver(preferences);
    CaptureInputPreferences inputs;
    inputs.microphoneEnabled = true;
    inputs.microphoneDeviceID = "alsa_input.usb-mic";
    store.persistCaptureInputs(inputs);
    EXPECT_EQ(store.loadCaptureInputs(), inputs);
    EXPECT_EQ(preferences.values.count("yux.settings.captureInputs"), 1u);
    EXPECT_EQ(preferences.values["yux.settings"], yux::json::encodeText(someSettings()));

    // A corrupt record fails with the decoder's own error, not an AppError.
    preferences.values["yux.settings.captureInputs"] = "{\"ratio\": 7}";
    EXPECT_THROW(store.loadCaptureInputs(), yux::json::DecodingError);
}

TEST(PreferencesFileSettingsStore, RecordsThatDoNotDecodeFailAndStayAsTheyAre) {
    ScriptedPreferences preferences;
    preferences.values["yux.settings"] = R"({"recordingShortcut":{"keyCode":22,"modifiers":768}})";
    preferences.values["yux.capture_preference"] = R"({"mode":"window"})";
    auto store = storeOver(preferences);
    auto writes = store.track_writes();
    expectAppError([&] { waitForTask(store.loadSettings()); },
                   AppError::settingsLoadFailed("settings payload decode failed"));
    expectAppError([&] { waitForTask(store.loadCapturePreference()); },
                   AppError::settingsLoadFailed("capture preference payload decode failed"));
    EXPECT_TRUE(writes.data().empty());
    EXPECT_EQ(preferences.values["yux.settings"], R"({"recordingShortcut":{"keyCode":22,"modifiers":768}})");
}

TEST(PreferencesFileSettingsStore, AFailedWriteIsReportedInsteadOfSuccess) {
    ScriptedPreferences preferences;
    preferences.writesFail = true;
    auto store = storeOver(preferences);
    auto writes = store.track_writes();
    expectAppError([&] { waitForTask(store.persistSettings(someSettings())); },
                   AppError::settingsPersistFailed("settings payload write failed"));
    expectAppError([&] { waitForTask(store.persistCapturePreference(screenPreference())); },
                   AppError::settingsPersistFailed("capture preference payload write failed"));
    expectAppError([&] { store.persistCaptureInputs(CaptureInputPreferences{}); },
                   AppError::settingsPersistFailed("capture inputs payload write failed"));
    EXPECT_TRUE(writes.data().empty());
}

TEST(PreferencesFileSettingsStore, AFullDiskIsToldAsSuch) {
    struct Case {
        int error;
        std::string detail;
        std::string text;
    };
    const std::vector<Case> cases = {
        {ENOSPC, "settings payload write failed: the disk is full", "Settings could not be saved. The disk is full."},
        {EDQUOT, "settings payload write failed: the disk is full", "Settings could not be saved. The disk is full."},
        {EACCES, "settings payload write failed", "Settings could not be saved. Check disk permissions and retry."},
        {EIO, "settings payload write failed", "Settings could not be saved. Check disk permissions and retry."},
    };
    for (const auto& [error, detail, text] : cases) {
        ScriptedPreferences preferences;
        preferences.writeError = error;
        auto store = storeOver(preferences);
        try {
            waitForTask(store.persistSettings(someSettings()));
            ADD_FAILURE() << "saved";
        } catch (const AppError& failure) {
            EXPECT_EQ(failure, AppError::settingsPersistFailed(detail));
            EXPECT_EQ(std::string(failure.what()), text);
        }
    }
}

TEST(PreferencesFileSettingsStore, FirstLaunchCreatesTheDefaultFolderAndStoresSettingsForIt) {
    TemporaryDirectory home;
    ScriptedPreferences preferences;
    auto store = storeOver(preferences, {}, home.path().string());
    auto settings = waitForTask(store.loadSettings());

    const std::string folder = (home.path() / "Videos" / "Yux").string();
    EXPECT_EQ(settings.saveFolderPath(), folder);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(settings.saveFolder.bookmarkData, yux::json::Bytes(folder.begin(), folder.end()));
    EXPECT_EQ(settings.recordingShortcut, RecordingShortcut::defaultShortcut());
    EXPECT_EQ(waitForTask(store.loadSettings()), settings);

    // The folder is made; when the new settings cannot be stored, that error comes through.
    ScriptedPreferences full;
    full.writesFail = true;
    auto failing = storeOver(full, {}, home.path().string());
    expectAppError([&] { waitForTask(failing.loadSettings()); },
                   AppError::settingsPersistFailed("settings payload write failed"));
}

TEST(PreferencesFileSettingsStore, FirstLaunchFallsBackToTheVideosFolderThenHome) {
    TemporaryDirectory home;
    std::filesystem::create_directories(home.path() / "Videos");
    writeWholeFile(home.path() / "Videos" / "Yux", "a file where the folder would go");
    ScriptedPreferences preferences;
    auto store = storeOver(preferences, {}, home.path().string());
    EXPECT_EQ(waitForTask(store.loadSettings()).saveFolderPath(), (home.path() / "Videos").string());

    ScriptedPreferences unbookmarkable;
    auto sdk = unbookmarkable.sdk(home.path().string());
    sdk.createBookmark = [](const std::string&) -> yux::json::Bytes { throw std::runtime_error("no bookmark"); };
    PreferencesFileSettingsStore noBookmark(sdk, "yux.settings", "yux.capture_preference", {});
    expectAppError([&] { waitForTask(noBookmark.loadSettings()); },
                   AppError::settingsLoadFailed("default settings initialization failed"));
    EXPECT_TRUE(unbookmarkable.values.empty());
}

TEST(PreferencesFileSettingsStoreOnDisk, SettingsSurviveANewStoreOverTheSameFile) {
    TemporaryDirectory folder;
    auto file = folder.path() / "config" / "Yux" / "preferences.json";
    SaveFolderDefaultLocationPolicy policy{(folder.path() / "Videos").string()};
    CaptureInputPreferences inputs;
    inputs.cameraEnabled = true;

    auto first = PreferencesFileSettingsStore::create(file, policy);
    auto settings = waitForTask(first->loadSettings());
    EXPECT_EQ(settings.saveFolderPath(), (folder.path() / "Videos" / "Yux").string());
    waitForTask(first->persistCapturePreference(screenPreference()));
    first->persistCaptureInputs(inputs);

    auto second = PreferencesFileSettingsStore::create(file, policy);
    EXPECT_EQ(waitForTask(second->loadSettings()), settings);
    EXPECT_EQ(waitForTask(second->loadCapturePreference()), screenPreference());
    EXPECT_EQ(second->loadCaptureInputs(), inputs);
}

TEST(PreferencesFileSettingsStoreOnDisk, ACorruptFileIsReportedOnceKeptAsideAndSettingsStartAfresh) {
    TemporaryDirectory folder;
    auto file = folder.path() / "preferences.json";
    const std::string corrupt = "{\"yux.settings\": {\"saveFolder\": ";
    writeWholeFile(file, corrupt);
    auto store = PreferencesFileSettingsStore::create(file, SaveFolderDefaultLocationPolicy{folder.file("Videos")});
    expectAppError([&] { waitForTask(store->loadSettings()); },
                   AppError::settingsLoadFailed("preferences file unreadable"));
    // Settings were not locked for good: the next load starts as a first launch does.
    auto fresh = waitForTask(store->loadSettings());
    EXPECT_EQ(fresh.saveFolderPath(), folder.file("Videos/Yux"));
    waitForTask(store->persistSettings(someSettings()));
    EXPECT_EQ(waitForTask(store->loadSettings()), someSettings());

    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        if (!entry.path().filename().string().starts_with("preferences.json.corrupt-")) continue;
        ++aside;
        EXPECT_EQ(readWholeFile(entry.path()), corrupt);
    }
    EXPECT_EQ(aside, 1);
}

TEST(PreferencesFileSettingsStore, ANonFiniteNumberIsAnEncodeErrorAndNothingIsWritten) {
    ScriptedPreferences preferences;
    auto store = storeOver(preferences);
    auto preference = screenPreference();
    preference.lastArea = yux::SelectedCaptureArea{yux::DisplayID{}, {0, 0, std::nan(""), 100}};
    expectAppError([&] { waitForTask(store.persistCapturePreference(preference)); },
                   AppError::settingsPersistFailed("capture preference payload encode failed"));
    preference.lastArea->rect.width = std::numeric_limits<double>::infinity();
    expectAppError([&] { waitForTask(store.persistCapturePreference(preference)); },
                   AppError::settingsPersistFailed("capture preference payload encode failed"));
    EXPECT_FALSE(preferences.values.contains("yux.capture_preference"));
}

TEST(PreferencesFileSettingsStoreOnDisk, AReadOnlyConfigFolderIsAPersistError) {
    TemporaryDirectory folder;
    auto store = PreferencesFileSettingsStore::create(folder.unwritableFolder("config") / "preferences.json",
                                                      SaveFolderDefaultLocationPolicy{folder.file("Videos")});
    expectAppError([&] { waitForTask(store->persistSettings(someSettings())); },
                   AppError::settingsPersistFailed("settings payload write failed"));
    expectAppError([&] { waitForTask(store->persistCapturePreference(screenPreference())); },
                   AppError::settingsPersistFailed("capture preference payload write failed"));
}

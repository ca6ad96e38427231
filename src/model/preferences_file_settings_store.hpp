#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/capture_input_preferences.hpp"
#include "model/json_coding.hpp"
#include "model/save_folder_default_location_policy.hpp"
#include "model/settings_boundary.hpp"
#include "platform/async/output_tracker.hpp"

namespace yux {

// The per-user preferences the store keeps its records in, and what first launch needs.
struct PreferencesSDK {
    // The JSON text stored under a key; absent when there is none. May throw when the
    // preferences cannot be read.
    std::function<std::optional<std::string>(const std::string& key)> readData;
    // Stores JSON text under a key. Throws when it could not be saved (read-only folder, full
    // disk, a corrupt file that must not be replaced).
    std::function<void(const std::string& key, const std::string& data)> writeData;
    std::function<std::string()> homeDirectory;
    // The bookmark of a new save folder: its absolute path as UTF-8 bytes. May throw.
    std::function<json::Bytes(const std::string& folderPath)> createBookmark;

    // Over the preferences file at the path (see platform::PreferencesFile).
    static PreferencesSDK live(std::filesystem::path preferencesFile);
};

struct PreferenceWrite {
    std::string key;
    std::string data;
    bool operator==(const PreferenceWrite&) const = default;
};

// Keeps the settings, the capture preference and the input choices as three JSON records in
// the user's preferences. Holds no copy: every load reads again, every persist writes at once.
// On first launch it creates the default save folder and stores settings for it.
class PreferencesFileSettingsStore : public SettingsBoundary {
public:
    static constexpr const char* kSettingsKey = "yux.settings";
    static constexpr const char* kCapturePreferenceKey = "yux.capture_preference";
    static constexpr const char* kCaptureInputsSuffix = ".captureInputs";

    PreferencesFileSettingsStore(PreferencesSDK sdk, std::string settingsKey, std::string capturePreferenceKey,
                                 SaveFolderDefaultLocationPolicy defaultLocationPolicy);

    static std::shared_ptr<PreferencesFileSettingsStore> create(std::filesystem::path preferencesFile,
                                                                SaveFolderDefaultLocationPolicy defaultLocationPolicy);
    // In memory, starting with both records stored; home is "/home/recorder".
    static std::shared_ptr<PreferencesFileSettingsStore> create_null(AppSettings settings,
                                                                     CapturePreference capturePreference);

    QCoro::Task<AppSettings> loadSettings() override;
    QCoro::Task<void> persistSettings(AppSettings settings) override;
    QCoro::Task<CapturePreference> loadCapturePreference() override;
    QCoro::Task<void> persistCapturePreference(CapturePreference preference) override;

    // The input controller's records. A stored value that does not decode fails with the
    // decoding error itself.
    CaptureInputPreferences loadCaptureInputs();
    // The stored input choices as written, decodable or not; absent when none are stored.
    std::optional<std::string> loadCaptureInputsText();
    void persistCaptureInputs(const CaptureInputPreferences& inputs);

    platform::OutputTracker<PreferenceWrite> track_writes() { return writes_.track(); }

    const std::string& settingsKey() const { return settingsKey_; }
    const std::string& capturePreferenceKey() const { return capturePreferenceKey_; }

private:
    AppSettings loadSettingsNow();
    void persistSettingsNow(const AppSettings& settings);
    void write(const std::string& key, const std::string& data, const char* failureDetail);

    PreferencesSDK sdk_;
    std::string settingsKey_;
    std::string capturePreferenceKey_;
    SaveFolderDefaultLocationPolicy defaultLocationPolicy_;
    platform::OutputListener<PreferenceWrite> writes_;
};

}  // namespace yux

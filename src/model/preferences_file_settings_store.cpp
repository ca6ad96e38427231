#include "model/preferences_file_settings_store.hpp"

#include <QDir>
#include <cerrno>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "model/app_error.hpp"
#include "platform/desktop/file_contents.hpp"
#include "platform/desktop/preferences_file.hpp"

namespace yux {

namespace {

json::Bytes pathBookmark(const std::string& folderPath) {
    if (!std::filesystem::path(folderPath).is_absolute()) {
        throw std::runtime_error("The save folder " + folderPath + " is not an absolute path.");
    }
    return json::Bytes(folderPath.begin(), folderPath.end());
}

template <class T>
T decodeOr(const std::string& data, const char* failureDetail) {
    try {
        return json::decodeText<T>(data);
    } catch (const std::exception&) {
        throw AppError::settingsLoadFailed(failureDetail);
    }
}

// The preferences may not be readable at all (a corrupt or unreadable file).
std::optional<std::string> readOr(const PreferencesSDK& sdk, const std::string& key) {
    try {
        return sdk.readData(key);
    } catch (const std::exception&) {
        throw AppError::settingsLoadFailed("preferences file unreadable");
    }
}

bool isDiskFull(const std::exception& error) {
    int code = 0;
    if (const auto* file = dynamic_cast<const platform::PreferencesFileError*>(&error)) code = file->errorNumber();
    if (const auto* system = dynamic_cast<const std::system_error*>(&error)) code = system->code().value();
    return code == ENOSPC || code == EDQUOT;
}

}  // namespace

PreferencesSDK PreferencesSDK::live(std::filesystem::path preferencesFile) {
    auto file = std::make_shared<platform::PreferencesFile>(std::move(preferencesFile));
    PreferencesSDK sdk;
    sdk.readData = [file](const std::string& key) { return file->read(key); };
    sdk.writeData = [file](const std::string& key, const std::string& data) { file->write(key, data); };
    sdk.homeDirectory = [] { return QDir::homePath().toStdString(); };
    sdk.createBookmark = pathBookmark;
    return sdk;
}

PreferencesFileSettingsStore::PreferencesFileSettingsStore(PreferencesSDK sdk, std::string settingsKey,
                                                           std::string capturePreferenceKey,
                                                           SaveFolderDefaultLocationPolicy defaultLocationPolicy)
    : sdk_(std::move(sdk)),
      settingsKey_(std::move(settingsKey)),
      capturePreferenceKey_(std::move(capturePreferenceKey)),
      defaultLocationPolicy_(std::move(defaultLocationPolicy)) {}

std::shared_ptr<PreferencesFileSettingsStore> PreferencesFileSettingsStore::create(
    std::filesystem::path preferencesFile, SaveFolderDefaultLocationPolicy defaultLocationPolicy) {
    return std::make_shared<PreferencesFileSettingsStore>(PreferencesSDK::live(std::move(preferencesFile)),
                                                          kSettingsKey, kCapturePreferenceKey,
                                                          std::move(defaultLocationPolicy));
}

std::shared_ptr<PreferencesFileSettingsStore> PreferencesFileSettingsStore::create_null(
    AppSettings settings, CapturePreference capturePreference) {
    struct StubbedPreferences {
        std::mutex lock;
        std::map<std::string, std::string> values;
    };
    auto stub = std::make_shared<StubbedPreferences>();
    stub->values[kSettingsKey] = json::encodeText(settings);
    stub->values[kCapturePreferenceKey] = json::encodeText(capturePreference);
    PreferencesSDK sdk;
    sdk.readData = [stub](const std::string& key) -> std::optional<std::string> {
        std::lock_guard guard(stub->lock);
        auto found = stub->values.find(key);
        if (found == stub->values.end()) return std::nullopt;
        return found->second;
    };
    sdk.writeData = [stub](const std::string& key, const std::string& data) {
        std::lock_guard guard(stub->lock);
        stub->values[key] = data;
    };
    sdk.homeDirectory = [] { return std::string("/home/recorder"); };
    sdk.createBookmark = pathBookmark;
    return std::make_shared<PreferencesFileSettingsStore>(std::move(sdk), kSettingsKey, kCapturePreferenceKey,
                                                          SaveFolderDefaultLocationPolicy{});
}

void PreferencesFileSettingsStore::write(const std::string& key, const std::string& data, const char* failureDetail) {
    // Reporting success for settings that never reached the disk would lose them silently.
    try {
        sdk_.writeData(key, data);
    } catch (const std::exception& error) {
        // A full disk is told as such; the detail names it so the user's text can.
        if (isDiskFull(error)) {
            throw AppError::settingsPersistFailed(std::string(failureDetail) + ": " + std::string(platform::kDiskFullCause));
        }
        throw AppError::settingsPersistFailed(failureDetail);
    }
    writes_.record(PreferenceWrite{key, data});
}

AppSettings PreferencesFileSettingsStore::loadSettingsNow() {
    if (auto data = readOr(sdk_, settingsKey_)) {
        return decodeOr<AppSettings>(*data, "settings payload decode failed");
    }
    // First launch: no settings yet.
    std::string folder = defaultLocationPolicy_.initialSettingsDirectory(sdk_.homeDirectory());
    json::Bytes bookmark;
    try {
        bookmark = sdk_.createBookmark(folder);
    } catch (const std::exception&) {
        throw AppError::settingsLoadFailed("default settings initialization failed");
    }
    auto settings = AppSettings::initial(SaveFolderBookmark{folder, std::move(bookmark)});
    persistSettingsNow(settings);
    return settings;
}

void PreferencesFileSettingsStore::persistSettingsNow(const AppSettings& settings) {
    std::string data;
    try {
        data = json::encodeText(settings);
    } catch (const std::exception&) {
        throw AppError::settingsPersistFailed("settings payload encode failed");
    }
    write(settingsKey_, data, "settings payload write failed");
}

QCoro::Task<AppSettings> PreferencesFileSettingsStore::loadSettings() { co_return loadSettingsNow(); }

QCoro::Task<void> PreferencesFileSettingsStore::persistSettings(AppSettings settings) {
    persistSettingsNow(settings);
    co_return;
}

QCoro::Task<CapturePreference> PreferencesFileSettingsStore::loadCapturePreference() {
    auto data = readOr(sdk_, capturePreferenceKey_);
    if (!data) co_return CapturePreference::initial();
    co_return decodeOr<CapturePreference>(*data, "capture preference payload decode failed");
}

QCoro::Task<void> PreferencesFileSettingsStore::persistCapturePreference(CapturePreference preference) {
    std::string data;
    try {
        data = json::encodeText(preference);
    } catch (const std::exception&) {
        throw AppError::settingsPersistFailed("capture preference payload encode failed");
    }
    write(capturePreferenceKey_, data, "capture preference payload write failed");
    co_return;
}

CaptureInputPreferences PreferencesFileSettingsStore::loadCaptureInputs() {
    auto data = sdk_.readData(settingsKey_ + kCaptureInputsSuffix);
    if (!data) return CaptureInputPreferences{};
    return json::decodeText<CaptureInputPreferences>(*data);
}

std::optional<std::string> PreferencesFileSettingsStore::loadCaptureInputsText() {
    return sdk_.readData(settingsKey_ + kCaptureInputsSuffix);
}

void PreferencesFileSettingsStore::persistCaptureInputs(const CaptureInputPreferences& inputs) {
    write(settingsKey_ + kCaptureInputsSuffix, json::encodeText(inputs), "capture inputs payload write failed");
}

}  // namespace yux

#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "model/capture_input_preferences.hpp"
#include "model/json_coding.hpp"
#include "model/preferences_file_settings_store.hpp"

namespace yux::testing {

// Preferences kept in memory for the input controller's tests: readable, corruptible, and able
// to refuse writes.
struct MemoryPreferences {
    static constexpr const char* kInputsKey = "yux.settings.captureInputs";

    std::map<std::string, std::string> values;
    bool writesFail = false;
    int writes = 0;

    PreferencesSDK sdk() {
        PreferencesSDK sdk;
        sdk.readData = [this](const std::string& key) -> std::optional<std::string> {
            auto found = values.find(key);
            if (found == values.end()) return std::nullopt;
            return found->second;
        };
        sdk.writeData = [this](const std::string& key, const std::string& data) {
            if (writesFail) throw std::runtime_error("No space left on device.");
            ++writes;
            values[key] = data;
        };
        sdk.homeDirectory = [] { return std::string("/home/recorder"); };
        sdk.createBookmark = [](const std::string& path) { return json::Bytes(path.begin(), path.end()); };
        return sdk;
    }
    std::shared_ptr<PreferencesFileSettingsStore> store() {
        return std::make_shared<PreferencesFileSettingsStore>(sdk(), "yux.settings", "yux.capture_preference",
                                                              SaveFolderDefaultLocationPolicy{});
    }
    std::optional<CaptureInputPreferences> stored() const {
        auto found = values.find(kInputsKey);
        if (found == values.end()) return std::nullopt;
        return json::decodeText<CaptureInputPreferences>(found->second);
    }
    void store(const CaptureInputPreferences& preferences) { values[kInputsKey] = json::encodeText(preferences); }
};

}  // namespace yux::testing

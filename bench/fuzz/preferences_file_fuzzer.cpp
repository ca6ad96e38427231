// The whole preferences file ("preferences.json"): read as the settings store reads it, each
// stored value decoded through its coder, and a write of another key keeps every stored value.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "json_fuzzing.hpp"
#include "model/app_settings.hpp"
#include "model/capture_input_preferences.hpp"
#include "model/capture_target.hpp"
#include "platform/desktop/preferences_file.hpp"

namespace {

const char* const kKeys[] = {"yux.settings", "yux.capture_preference", "yux.settings.captureInputs"};

// A folder of its own for every run, removed afterwards: a damaged file may be moved aside
// next to the preferences file.
struct RunFolder {
    std::filesystem::path path;
    RunFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "yux-fuzz-preferences-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
    }
    ~RunFolder() { std::filesystem::remove_all(path); }
};

std::optional<std::string> readOrNothing(const yux::platform::PreferencesFile& file, const char* key) {
    try {
        return file.read(key);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

std::string contentsOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A damaged file may only be replaced when its bytes were kept aside first.
bool keptAside(const std::filesystem::path& folder, std::string_view original) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("preferences.json.corrupt") &&
            contentsOf(entry.path()) == original) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace yux;
    RunFolder folder;
    const auto path = folder.path / "preferences.json";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    platform::PreferencesFile file(path);
    std::optional<std::string> stored[std::size(kKeys)];
    bool readable = true;
    try {
        for (std::size_t index = 0; index < std::size(kKeys); ++index) stored[index] = file.read(kKeys[index]);
    } catch (const std::runtime_error&) {
        readable = false;
    }
    if (readable) {
        if (stored[0]) fuzzing::fuzzDocument<AppSettings>(
            reinterpret_cast<const std::uint8_t*>(stored[0]->data()), stored[0]->size());
        if (stored[1]) fuzzing::fuzzDocument<CapturePreference>(
            reinterpret_cast<const std::uint8_t*>(stored[1]->data()), stored[1]->size());
        if (stored[2]) fuzzing::fuzzDocument<CaptureInputPreferences>(
            reinterpret_cast<const std::uint8_t*>(stored[2]->data()), stored[2]->size());
    }

    try {
        file.write("yux.fuzz", "true");
    } catch (const std::runtime_error&) {
        return 0;  // a file that cannot be read is left as it is
    }
    if (!readable) {
        if (!keptAside(folder.path, fuzzing::textOf(data, size))) {
            fuzzing::fail("a damaged preferences file was lost", path);
        }
        return 0;
    }
    for (std::size_t index = 0; index < std::size(kKeys); ++index) {
        if (readOrNothing(file, kKeys[index]) != stored[index]) {
            fuzzing::fail("writing one preference changed another", kKeys[index]);
        }
    }
    return 0;
}

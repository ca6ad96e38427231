#include "platform/desktop/preferences_file.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <nlohmann/json.hpp>

#include "platform/desktop/file_contents.hpp"

namespace yux::platform {

namespace {

using Json = nlohmann::json;

// Configuration may hold paths of the user's folders; keep it private to the user.
constexpr mode_t kConfigFolderMode = 0700;
constexpr mode_t kPreferencesFileMode = 0600;

std::runtime_error failure(const std::string& what, const std::filesystem::path& path, int error = 0) {
    std::string sentence = what + " " + path.string();
    if (error != 0) sentence += ": " + std::string(std::strerror(error));
    return std::runtime_error(sentence + ".");
}

Json loadObject(const std::filesystem::path& path) {
    std::string text;
    try {
        text = readFileContents(path);
    } catch (const std::system_error& error) {
        if (error.code().value() == ENOENT) return Json::object();
        throw failure("Cannot read the preferences file", path, error.code().value());
    }
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) return Json::object();
    Json object = Json::parse(text, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        throw failure("The preferences file is not a JSON object:", path);
    }
    return object;
}

void writeAtomically(const std::filesystem::path& path, const std::string& data) {
    std::error_code error;
    if (!std::filesystem::exists(path.parent_path(), error)) {
        std::filesystem::create_directories(path.parent_path(), error);
        if (error) throw failure("Cannot create the preferences folder", path.parent_path(), error.value());
        ::chmod(path.parent_path().c_str(), kConfigFolderMode);
    }
    try {
        writeFileAtomically(path, data, kPreferencesFileMode);
    } catch (const std::system_error& failed) {
        throw failure("Cannot write the preferences file", path, failed.code().value());
    }
}

}  // namespace

PreferencesFile::PreferencesFile(std::filesystem::path path) : path_(std::move(path)) {}

std::optional<std::string> PreferencesFile::read(const std::string& key) const {
    std::lock_guard guard(lock_);
    Json object = loadObject(path_);
    auto found = object.find(key);
    if (found == object.end()) return std::nullopt;
    return found->dump();
}

void PreferencesFile::write(const std::string& key, const std::string& jsonText) {
    Json value = Json::parse(jsonText, nullptr, false);
    if (value.is_discarded()) throw std::runtime_error("The preference " + key + " is not JSON text.");
    std::lock_guard guard(lock_);
    Json object = loadObject(path_);
    object[key] = std::move(value);
    writeAtomically(path_, object.dump(2) + "\n");
}

}  // namespace yux::platform

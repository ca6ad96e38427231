#include "platform/desktop/preferences_file.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <nlohmann/json.hpp>

#include "platform/desktop/file_contents.hpp"
#include "platform/desktop/json_nesting.hpp"

namespace yux::platform {

namespace {

using Json = nlohmann::json;

// Configuration may hold paths of the user's folders; keep it private to the user.
constexpr mode_t kConfigFolderMode = 0700;
constexpr mode_t kPreferencesFileMode = 0600;
constexpr const char* kLogCategory = "Preferences";

PreferencesFileError failure(const std::string& what, const std::filesystem::path& path, int error = 0) {
    std::string sentence = what + " " + path.string();
    if (error != 0) sentence += ": " + std::string(std::strerror(error));
    return PreferencesFileError(sentence + ".", error);
}

// Parses checked text; absent when it is not JSON or nests too deeply.
std::optional<Json> parseChecked(const std::string& text) {
    if (jsonTextNestsDeeperThan(text)) return std::nullopt;
    Json value = Json::parse(text, nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

void writeAtomically(const std::filesystem::path& path, const std::string& data) {
    std::error_code error;
    if (!std::filesystem::exists(path.parent_path(), error)) {
        std::filesystem::create_directories(path.parent_path(), error);
        if (error) throw failure("Cannot create the preferences folder", path.parent_path(), error.value());
        ::chmod(path.parent_path().c_str(), kConfigFolderMode);
    }
    try {
        writeFileAtomically(followLinks(path), data, kPreferencesFileMode);
    } catch (const std::system_error& failed) {
        throw failure("Cannot write the preferences file", path, failed.code().value());
    }
}

}  // namespace

PreferencesFile::PreferencesFile(std::filesystem::path path, SystemLog log)
    : path_(std::move(path)), log_(std::move(log)) {}

Json PreferencesFile::loadObject() const {
    std::string text;
    try {
        text = readFileContents(path_);
    } catch (const UnusableFileError& unusable) {
        return recoverFromDamage(unusable.reason());
    } catch (const std::system_error& error) {
        if (error.code().value() == ENOENT) return Json::object();
        throw failure("Cannot read the preferences file", path_, error.code().value());
    }
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) return Json::object();
    auto object = parseChecked(text);
    if (!object) return recoverFromDamage("is not JSON, or nests more than " + std::to_string(kMaxJsonNesting) + " levels");
    if (!object->is_object()) return recoverFromDamage("is not a JSON object");
    return std::move(*object);
}

Json PreferencesFile::recoverFromDamage(const std::string& reason) const {
    std::filesystem::path aside;
    try {
        aside = setAsideDamagedFile(path_);
    } catch (const std::system_error& error) {
        // It stays where it is: replacing it would lose the other keys for good.
        log_.error(kLogCategory, "The damaged preferences file " + path_.string() + " cannot be moved aside: " +
                                     error.what());
        throw failure("The preferences file is damaged and cannot be moved aside:", path_, error.code().value());
    }
    writeAtomically(path_, "{}\n");
    log_.error(kLogCategory, "The preferences file " + path_.string() + " " + reason + "; it was moved to " +
                                 aside.string() + " and a new one was started.");
    unreportedDamage_ = "The preferences file " + path_.string() + " was damaged and was moved to " + aside.string() +
                        "; the settings start afresh.";
    return Json::object();
}

std::optional<std::string> PreferencesFile::read(const std::string& key) const {
    std::lock_guard guard(lock_);
    Json object = loadObject();
    if (unreportedDamage_) {
        std::string damage = std::move(*unreportedDamage_);
        unreportedDamage_.reset();
        throw std::runtime_error(damage);
    }
    auto found = object.find(key);
    if (found == object.end()) return std::nullopt;
    return found->dump();
}

void PreferencesFile::write(const std::string& key, const std::string& jsonText) {
    auto value = parseChecked(jsonText);
    if (!value) throw std::runtime_error("The preference " + key + " is not JSON text.");
    std::lock_guard guard(lock_);
    Json object = loadObject();
    object[key] = std::move(*value);
    writeAtomically(path_, object.dump(2) + "\n");
}

}  // namespace yux::platform

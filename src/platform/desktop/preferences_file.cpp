#include "platform/desktop/preferences_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

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
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return Json::object();
        throw failure("Cannot read the preferences file", path, errno);
    }
    std::string text;
    char buffer[16384];
    while (true) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            int error = errno;
            ::close(fd);
            throw failure("Cannot read the preferences file", path, error);
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
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
    std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) throw failure("Cannot write the preferences file", path, errno);
    auto abandon = [&](int code) {
        if (fd >= 0) ::close(fd);
        ::unlink(temporary.c_str());
        throw failure("Cannot write the preferences file", path, code);
    };
    ::fchmod(fd, kPreferencesFileMode);
    const char* cursor = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t written = ::write(fd, cursor, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            abandon(errno);
        }
        cursor += written;
        left -= static_cast<std::size_t>(written);
    }
    if (::fsync(fd) != 0) abandon(errno);
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0) abandon(errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0) abandon(errno);
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

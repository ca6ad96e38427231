#include "model/export_temporary.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "model/temporary_directory_scratch_storage.hpp"

namespace yux {

std::string ExportTemporary::pathIn(const std::string& folder, const QUuid& id) {
    return (std::filesystem::path(folder) / (kPrefix + canonicalText(id) + kSuffix)).string();
}

bool ExportTemporary::isNamedAsOurs(const std::string& path) {
    const std::filesystem::path file(path);
    if (!file.is_absolute()) return false;
    const std::string name = file.filename().string();
    const std::string prefix = kPrefix;
    const std::string suffix = kSuffix;
    if (!name.starts_with(prefix) || !name.ends_with(suffix)) return false;
    const std::string id = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const QUuid parsed = QUuid::fromString(QString::fromStdString(id));
    return !parsed.isNull() && canonicalText(parsed) == id;
}

ExportTemporary::Outcome ExportTemporary::remove(const std::string& path) { return remove(path, ::getuid()); }

ExportTemporary::Outcome ExportTemporary::remove(const std::string& path, uid_t owner) {
    if (!isNamedAsOurs(path)) return {Removal::leftAlone, "not_named_as_ours"};
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return {Removal::missing, {}};
        return {Removal::failed, std::strerror(errno)};
    }
    if (!S_ISREG(info.st_mode)) return {Removal::leftAlone, "not_a_regular_file"};
    if (info.st_uid != owner) return {Removal::leftAlone, "not_owned_by_user"};
    // unlink never follows a link, should one have taken the file's place since.
    if (::unlink(path.c_str()) != 0) {
        if (errno == ENOENT) return {Removal::missing, {}};
        return {Removal::failed, std::strerror(errno)};
    }
    return {Removal::removed, {}};
}

std::string ExportTemporary::logLine(const std::string& path, const Outcome& outcome) {
    switch (outcome.removal) {
        case Removal::removed:
            return "export_temporary_removed path=" + path;
        case Removal::missing:
            return {};
        case Removal::leftAlone:
            return "export_temporary_left_alone path=" + path + " reason=" + outcome.reason;
        case Removal::failed:
            return "export_temporary_failed path=" + path + " error=" + outcome.reason;
    }
    return {};
}

}  // namespace yux

#include "platform/desktop/app_locations.hpp"

#include <QDir>
#include <QStandardPaths>
#include <cstdlib>

namespace yux::platform {

namespace {
std::filesystem::path baseDirectory(const AppLocations::Environment& environment, const std::string& name,
                                    const std::filesystem::path& fallback) {
    auto value = environment(name);
    if (value && !value->empty() && std::filesystem::path(*value).is_absolute()) {
        return *value;
    }
    return fallback;
}
}  // namespace

AppLocations AppLocations::resolve(const Environment& environment, const std::filesystem::path& home,
                                   const std::filesystem::path& moviesDirectory) {
    AppLocations locations;
    locations.supportDirectory = baseDirectory(environment, "XDG_DATA_HOME", home / ".local" / "share") / "Yux";
    locations.configDirectory = baseDirectory(environment, "XDG_CONFIG_HOME", home / ".config") / "Yux";
    locations.cacheDirectory = baseDirectory(environment, "XDG_CACHE_HOME", home / ".cache") / "Yux";
    locations.runtimeDirectory = baseDirectory(environment, "XDG_RUNTIME_DIR", locations.cacheDirectory);
    locations.moviesDirectory = moviesDirectory.empty() ? home / "Videos" : moviesDirectory;
    return locations;
}

AppLocations AppLocations::forCurrentUser() {
    auto environment = [](const std::string& name) -> std::optional<std::string> {
        if (const char* value = std::getenv(name.c_str())) {
            return std::string(value);
        }
        return std::nullopt;
    };
    auto movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation).toStdString();
    return resolve(environment, QDir::homePath().toStdString(), movies);
}

}  // namespace yux::platform

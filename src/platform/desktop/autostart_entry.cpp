#include "platform/desktop/autostart_entry.hpp"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QTimer>
#include <QUrl>

#include "platform/desktop/app_locations.hpp"
#include "platform/desktop/file_contents.hpp"

namespace yux::platform {

namespace {

// Autostart entries are tiny; a bigger file is not ours to parse.
constexpr std::size_t kMaxEntryBytes = 64 * 1024;

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string reason(const std::exception& error) {
    if (const auto* system = dynamic_cast<const std::system_error*>(&error))
        return std::strerror(system->code().value());
    return error.what();
}

}  // namespace

std::string AutostartEntry::entryText(const std::string& executablePath) {
    if (executablePath.find_first_of("\n\r") != std::string::npos)
        throw std::runtime_error("The program's path contains a line break, so it cannot start at login.");
    // Quoting of the Exec key first, then the string-level escape of the whole value, then the
    // field codes' percent.
    std::string quoted;
    for (const char c : executablePath) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    std::string exec;
    for (const char c : quoted) {
        if (c == '\\') exec += "\\\\";
        else if (c == '%') exec += "%%";
        else exec += c;
    }
    return "[Desktop Entry]\nType=Application\nName=Yux\nExec=\"" + exec + "\"\nX-GNOME-Autostart-enabled=true\n";
}

std::optional<bool> AutostartEntry::readsEnabled(const std::string& text) {
    bool inMainGroup = false;
    bool sawMainGroup = false;
    bool enabled = true;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = text.find('\n', start);
        const std::string line = trimmed(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? text.size() + 1 : end + 1;
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return std::nullopt;
            inMainGroup = line == "[Desktop Entry]";
            sawMainGroup = sawMainGroup || inMainGroup;
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos || (!sawMainGroup && !inMainGroup)) return std::nullopt;
        if (!inMainGroup) continue;
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        if (key == "Hidden" && value == "true") enabled = false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") enabled = false;
    }
    if (!sawMainGroup) return std::nullopt;
    return enabled;
}

std::shared_ptr<AutostartEntry> AutostartEntry::create(std::filesystem::path folder, std::string executablePath) {
    const auto file = folder / kFileName;
    Operations operations;
    operations.status = [file, executablePath] {
        if (executablePath.empty()) return Status::notFound;
        try {
            const auto enabled = readsEnabled(readFileContents(file, kMaxEntryBytes));
            return enabled && *enabled ? Status::enabled : Status::notRegistered;
        } catch (const std::exception&) {
            return Status::notRegistered;
        }
    };
    operations.registerEntry = [folder, file, executablePath] {
        if (executablePath.empty())
            throw std::runtime_error("Yux cannot find its own program file, so it cannot start at login.");
        const std::string text = entryText(executablePath);
        try {
            std::filesystem::create_directories(folder);
            writeFileAtomically(file, text, 0644);
        } catch (const std::exception& error) {
            throw std::runtime_error("Could not write the login entry " + file.string() + ": " + reason(error) + ".");
        }
    };
    operations.unregisterEntry = [file](std::function<void(std::optional<std::string>)> done) {
        std::optional<std::string> failure;
        std::error_code error;
        if (!std::filesystem::remove(file, error) && error)
            failure = "Could not remove the login entry " + file.string() + ": " + error.message() + ".";
        QTimer::singleShot(0, QCoreApplication::instance(), [done = std::move(done), failure] { done(failure); });
    };
    operations.openLoginItems = [folder] {
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
    };
    return std::make_shared<AutostartEntry>(std::move(operations));
}

std::shared_ptr<AutostartEntry> AutostartEntry::create() {
    const auto locations = AppLocations::forCurrentUser();
    std::string executable = QCoreApplication::applicationFilePath().toStdString();
    return create(locations.configDirectory.parent_path() / "autostart", std::move(executable));
}

std::shared_ptr<AutostartEntry> AutostartEntry::create_null(NullConfiguration configuration) {
    auto state = std::make_shared<NullConfiguration>(std::move(configuration));
    Operations operations;
    operations.status = [state] { return state->status; };
    operations.registerEntry = [state] {
        if (!state->registerError.empty()) throw std::runtime_error(state->registerError);
        state->status = state->statusAfterRegister;
    };
    operations.unregisterEntry = [state](std::function<void(std::optional<std::string>)> done) {
        std::optional<std::string> failure;
        if (!state->unregisterError.empty()) failure = state->unregisterError;
        else state->status = Status::notRegistered;
        QTimer::singleShot(0, QCoreApplication::instance(), [done = std::move(done), failure] { done(failure); });
    };
    operations.openLoginItems = [] {};
    return std::make_shared<AutostartEntry>(std::move(operations));
}

void AutostartEntry::registerEntry() {
    calls_.record(Call::registerEntry);
    operations_.registerEntry();
}

void AutostartEntry::unregisterEntry(std::function<void(std::optional<std::string> error)> done) {
    calls_.record(Call::unregisterEntry);
    operations_.unregisterEntry(std::move(done));
}

void AutostartEntry::openLoginItems() {
    calls_.record(Call::openLoginItems);
    operations_.openLoginItems();
}

}  // namespace yux::platform

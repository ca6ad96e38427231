#include "platform/desktop/autostart_entry.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

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

// The main group's lines, with a hand over each key's line: `visit(key, value, line index)`.
template <typename Visit>
void forEachMainKey(const std::vector<std::string>& lines, Visit visit) {
    bool inMainGroup = false;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const std::string line = trimmed(lines[index]);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string::npos) continue;
        visit(trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)), index);
    }
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
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

std::optional<std::string> AutostartEntry::execProgram(const std::string& text) {
    std::optional<std::string> value;
    forEachMainKey(splitLines(text), [&](const std::string& key, const std::string& found, std::size_t) {
        if (key == "Exec" && !value) value = found;
    });
    if (!value) return std::nullopt;
    // The string-level escapes of the value first.
    std::string unescaped;
    for (std::size_t i = 0; i < value->size(); ++i) {
        const char c = (*value)[i];
        if (c != '\\' || i + 1 == value->size()) {
            unescaped += c;
            continue;
        }
        const char next = (*value)[++i];
        unescaped += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    }
    // Then the first argument, quoted or up to the first blank, with the field codes' %% undone.
    std::string program;
    if (!unescaped.empty() && unescaped[0] == '"') {
        for (std::size_t i = 1; i < unescaped.size() && unescaped[i] != '"'; ++i) {
            if (unescaped[i] == '\\' && i + 1 < unescaped.size()) ++i;
            program += unescaped[i];
        }
    } else {
        program = unescaped.substr(0, unescaped.find_first_of(" \t"));
    }
    std::string result;
    for (std::size_t i = 0; i < program.size(); ++i) {
        if (program[i] == '%' && i + 1 < program.size() && program[i + 1] == '%') ++i;
        result += program[i];
    }
    return result;
}

std::string AutostartEntry::withExecutable(const std::string& text, const std::string& executablePath) {
    const std::string fresh = entryText(executablePath);
    const auto start = fresh.find("\nExec=") + 1;
    const std::string execLine = fresh.substr(start, fresh.find('\n', start) - start);
    std::vector<std::string> lines = splitLines(text);
    std::optional<std::size_t> execIndex;
    forEachMainKey(lines, [&](const std::string& key, const std::string&, std::size_t index) {
        if (key == "Exec" && !execIndex) execIndex = index;
    });
    if (execIndex) {
        lines[*execIndex] = execLine;
    } else {
        const auto group = std::find_if(lines.begin(), lines.end(),
                                        [](const std::string& line) { return trimmed(line) == "[Desktop Entry]"; });
        if (group == lines.end()) return fresh;
        lines.insert(group + 1, execLine);
    }
    std::string result;
    for (const auto& line : lines) result += line + "\n";
    return result;
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
    operations.repoint = [file, executablePath]() -> std::optional<std::string> {
        if (executablePath.empty()) return std::nullopt;
        std::string text;
        try {
            text = readFileContents(file, kMaxEntryBytes);
        } catch (const std::exception&) {
            return std::nullopt;
        }
        const auto enabled = readsEnabled(text);
        if (!enabled || !*enabled) return std::nullopt;
        const std::string before = execProgram(text).value_or("");
        if (before == executablePath) return std::nullopt;
        try {
            writeFileAtomically(file, withExecutable(text, executablePath), 0644);
        } catch (const std::exception& error) {
            throw std::runtime_error("Could not rewrite the login entry " + file.string() + ": " + reason(error) + ".");
        }
        return before;
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
    operations.repoint = [] { return std::optional<std::string>(); };
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

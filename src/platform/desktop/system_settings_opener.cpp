#include "platform/desktop/system_settings_opener.hpp"

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace yux::platform {

namespace {

struct SettingsProgram {
    const char* desktop;  // the XDG_CURRENT_DESKTOP name it belongs to; empty: any
    const char* program;
    std::vector<std::string> arguments;
};

// The sound pages of the desktops' own settings, then the sound server's own mixer. No desktop
// has a page for camera access: device-node permissions decide it.
std::vector<SettingsProgram> soundPrograms() {
    return {{"GNOME", "gnome-control-center", {"sound"}},
            {"KDE", "systemsettings", {"kcm_pulseaudio"}},
            {"", "pavucontrol", {}}};
}

std::vector<std::string> desktopNames(const std::string& value) {
    std::vector<std::string> names;
    std::stringstream stream(value);
    for (std::string name; std::getline(stream, name, ':');) {
        if (!name.empty()) names.push_back(name);
    }
    return names;
}

bool openSoundSettings(const SystemSettingsOpener::Operations& operations) {
    auto programs = soundPrograms();
    // The current desktop's own page first, then the other desktops' in their order.
    std::vector<const SettingsProgram*> order;
    for (const auto& name : desktopNames(operations.currentDesktop())) {
        for (const auto& candidate : programs) {
            if (name == candidate.desktop) order.push_back(&candidate);
        }
    }
    for (const auto& candidate : programs) {
        if (std::find(order.begin(), order.end(), &candidate) == order.end()) order.push_back(&candidate);
    }
    for (const auto* candidate : order) {
        auto path = operations.findProgram(candidate->program);
        if (path.empty()) continue;
        if (operations.startDetached(path, candidate->arguments)) return true;
    }
    return false;
}

}  // namespace

SystemSettingsOpener::SystemSettingsOpener(std::function<bool(const std::string& pane)> openURL)
    : openURL_(std::move(openURL)) {}

SystemSettingsOpener SystemSettingsOpener::over(Operations operations) {
    return SystemSettingsOpener([operations = std::move(operations)](const std::string& pane) {
        return pane == kMicrophonePane && openSoundSettings(operations);
    });
}

SystemSettingsOpener SystemSettingsOpener::create() {
    Operations operations;
    operations.currentDesktop = [] {
        const char* value = std::getenv("XDG_CURRENT_DESKTOP");
        return std::string(value != nullptr ? value : "");
    };
    operations.findProgram = [](const std::string& program) {
        return QStandardPaths::findExecutable(QString::fromStdString(program)).toStdString();
    };
    operations.startDetached = [](const std::string& path, const std::vector<std::string>& arguments) {
        QStringList list;
        for (const auto& argument : arguments) list << QString::fromStdString(argument);
        return QProcess::startDetached(QString::fromStdString(path), list);
    };
    return over(std::move(operations));
}

SystemSettingsOpener SystemSettingsOpener::create_null(bool canOpen) {
    return SystemSettingsOpener([canOpen](const std::string&) { return canOpen; });
}

bool SystemSettingsOpener::open(const std::string& pane) const {
    if (!openURL_(pane)) return false;
    openedPanes_->urls.push_back(pane);
    return true;
}

}  // namespace yux::platform

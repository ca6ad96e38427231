#include "platform/desktop/motion_preference.hpp"

#include <QProcess>
#include <QStandardPaths>

namespace yux::platform {

namespace {

// The settings tool answers in a few milliseconds; a hung one must not hold a window back.
constexpr int kAnswerTimeoutMilliseconds = 500;

bool animationsSwitchedOff() {
    const QString tool = QStandardPaths::findExecutable("gsettings");
    if (tool.isEmpty()) return false;
    QProcess process;
    process.start(tool, {"get", "org.gnome.desktop.interface", "enable-animations"});
    if (!process.waitForFinished(kAnswerTimeoutMilliseconds)) {
        process.kill();
        process.waitForFinished(kAnswerTimeoutMilliseconds);
        return false;
    }
    return process.exitCode() == 0 && process.readAllStandardOutput().trimmed() == "false";
}

}  // namespace

MotionPreference MotionPreference::create() { return MotionPreference(animationsSwitchedOff); }

MotionPreference MotionPreference::create_null(bool reduceMotion) {
    return MotionPreference([reduceMotion] { return reduceMotion; });
}

}  // namespace yux::platform

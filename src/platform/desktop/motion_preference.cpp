#include "platform/desktop/motion_preference.hpp"

#include <QProcess>
#include <QStandardPaths>

namespace yux::platform {

namespace {

bool animationsSwitchedOff(std::chrono::milliseconds answerTimeout) {
    const int timeoutMilliseconds = static_cast<int>(answerTimeout.count());
    const QString tool = QStandardPaths::findExecutable("gsettings");
    if (tool.isEmpty()) return false;
    QProcess process;
    process.start(tool, {"get", "org.gnome.desktop.interface", "enable-animations"});
    if (!process.waitForFinished(timeoutMilliseconds)) {
        process.kill();
        process.waitForFinished(timeoutMilliseconds);
        return false;
    }
    return process.exitCode() == 0 && process.readAllStandardOutput().trimmed() == "false";
}

}  // namespace

MotionPreference MotionPreference::create(std::chrono::milliseconds answerTimeout) {
    return MotionPreference([answerTimeout] { return animationsSwitchedOff(answerTimeout); });
}

MotionPreference MotionPreference::create_null(bool reduceMotion) {
    return MotionPreference([reduceMotion] { return reduceMotion; });
}

}  // namespace yux::platform

#include "support/private_bus.hpp"

#include <QElapsedTimer>
#include <csignal>
#include <fstream>

namespace yux::testing {

PrivateBus::PrivateBus(const std::string& folder) {
    // No service folders: nothing on this machine gets started by the bus.
    std::string config = folder + "/bus.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                             "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>session</type><listen>unix:dir=" << folder << "</listen><auth>EXTERNAL</auth>"
                             "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                             "</policy></busconfig>\n";
    daemon_.setProgram(QStringLiteral("dbus-daemon"));
    daemon_.setArguments({QStringLiteral("--config-file=") + QString::fromStdString(config), QStringLiteral("--nofork"),
                          QStringLiteral("--print-address=1")});
    daemon_.start();
    if (!daemon_.waitForStarted(5000)) return;
    QElapsedTimer timer;
    timer.start();
    while (!daemon_.canReadLine() && timer.elapsed() < 5000) daemon_.waitForReadyRead(100);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const auto& name : names_) QDBusConnection::disconnectFromBus(name);
    if (daemon_.processId() > 0) ::kill(static_cast<pid_t>(daemon_.processId()), SIGTERM);
    daemon_.waitForFinished(5000);
}

QDBusConnection PrivateBus::connect(const QString& name) {
    names_ << name;
    return QDBusConnection::connectToBus(address_, name);
}

}  // namespace yux::testing

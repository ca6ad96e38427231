#pragma once

// A D-Bus session bus of the test's own, and a file manager that stands on it.

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <string>

namespace yux::testing {

// The file manager's side of the bus, as a test stands it up.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;
    QString startupId = QStringLiteral("unset");

public slots:
    void ShowItems(const QStringList& uris, const QString& startup) {
        shown += uris;
        startupId = startup;
    }
};

// A bus of the test's own: dbus-daemon started here and stopped by its process id.
class PrivateBus {
public:
    explicit PrivateBus(const std::string& folder);
    ~PrivateBus();
    bool isRunning() const { return !address_.isEmpty(); }
    QDBusConnection connect(const QString& name);

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

}  // namespace yux::testing

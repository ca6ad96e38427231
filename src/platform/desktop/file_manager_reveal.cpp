#include "platform/desktop/file_manager_reveal.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace yux::platform {

std::shared_ptr<FileManagerReveal> FileManagerReveal::create() {
    return create(QDBusConnection::sessionBus(), QStringLiteral("xdg-open"));
}

std::shared_ptr<FileManagerReveal> FileManagerReveal::create(QDBusConnection bus, QString folderOpener) {
    Operations operations;
    operations.showItems = [bus](const QString& fileUri, std::function<void()> failed) {
        if (!bus.isConnected()) {
            failed();
            return;
        }
        auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                   QStringLiteral("/org/freedesktop/FileManager1"),
                                                   QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{fileUri} << QString();
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kShowItemsTimeoutMilliseconds));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [failed = std::move(failed)](QDBusPendingCallWatcher* done) {
            if (done->isError()) failed();
            done->deleteLater();
        });
    };
    operations.openFolder = [folderOpener](const QString& folder, std::function<void()> failed) {
        // Started on its own, never through a shell: the path is handed over as one argument. Its
        // exit status tells whether a program took the folder; one that keeps running (a file
        // manager started in the foreground) is left to run, even past Yux's own end.
        auto* process = new QProcess;
        process->setProgram(folderOpener);
        process->setArguments({folder});
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        QObject::connect(process, &QProcess::errorOccurred, [process, failed](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart) return;
            failed();
            process->deleteLater();
        });
        QObject::connect(process, &QProcess::finished, [process, failed](int code, QProcess::ExitStatus status) {
            if (status != QProcess::NormalExit || code != 0) failed();
            process->deleteLater();
        });
        process->start();
    };
    return std::make_shared<FileManagerReveal>(std::move(operations));
}

std::shared_ptr<FileManagerReveal> FileManagerReveal::create_null(bool fileManagerAnswers, bool folderOpens) {
    Operations operations;
    operations.showItems = [fileManagerAnswers](const QString&, std::function<void()> failed) {
        if (!fileManagerAnswers) failed();
    };
    operations.openFolder = [folderOpens](const QString&, std::function<void()> failed) {
        if (!folderOpens) failed();
    };
    return std::make_shared<FileManagerReveal>(std::move(operations));
}

void FileManagerReveal::reveal(const std::string& path, std::function<void(const std::string& folder)> failed) {
    QString file = QString::fromStdString(path);
    QString uri = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);
    QString folder = QFileInfo(file).absolutePath();
    requests_->record({Request::Kind::showItems, uri.toStdString()});
    auto requests = requests_;
    auto openFolder = operations_.openFolder;
    operations_.showItems(uri, [requests, openFolder, folder, failed = std::move(failed)] {
        requests->record({Request::Kind::openFolder, folder.toStdString()});
        openFolder(folder, [failed, folder] {
            if (failed) failed(folder.toStdString());
        });
    });
}

}  // namespace yux::platform

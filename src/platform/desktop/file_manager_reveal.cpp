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
    operations.openFolder = [folderOpener](const QString& folder) {
        // Started on its own, never through a shell: the path is handed over as one argument.
        QProcess::startDetached(folderOpener, {folder});
    };
    return std::make_shared<FileManagerReveal>(std::move(operations));
}

std::shared_ptr<FileManagerReveal> FileManagerReveal::create_null(bool fileManagerAnswers) {
    Operations operations;
    operations.showItems = [fileManagerAnswers](const QString&, std::function<void()> failed) {
        if (!fileManagerAnswers) failed();
    };
    operations.openFolder = [](const QString&) {};
    return std::make_shared<FileManagerReveal>(std::move(operations));
}

void FileManagerReveal::reveal(const std::string& path) {
    QString file = QString::fromStdString(path);
    QString uri = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);
    QString folder = QFileInfo(file).absolutePath();
    requests_->record({Request::Kind::showItems, uri.toStdString()});
    auto requests = requests_;
    auto openFolder = operations_.openFolder;
    operations_.showItems(uri, [requests, openFolder, folder] {
        requests->record({Request::Kind::openFolder, folder.toStdString()});
        openFolder(folder);
    });
}

}  // namespace yux::platform

#include "platform/desktop/save_folder_panel.hpp"

#include <QDialog>
#include <QFileDialog>
#include <QPointer>
#include <stdexcept>

#include <QCoroSignal>

namespace yux::platform {

QCoro::Task<std::optional<std::string>> SaveFolderPanel::present(std::string startPath) {
    QPointer<QFileDialog> dialog = new QFileDialog(nullptr);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, QString::fromUtf8(kPrompt));
    dialog->setDirectory(QString::fromStdString(startPath));
    dialog->setWindowModality(Qt::NonModal);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();

    const int result = co_await qCoro(dialog.data(), &QFileDialog::finished);
    if (!dialog) co_return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    dialog->deleteLater();
    if (result != QDialog::Accepted) co_return std::nullopt;
    if (chosen.isEmpty()) throw std::runtime_error("The folder chooser was confirmed without a folder.");
    co_return chosen.first().toStdString();
}

}  // namespace yux::platform

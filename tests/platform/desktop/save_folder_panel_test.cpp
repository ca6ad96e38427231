#include "platform/desktop/save_folder_panel.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTimer>

#include "platform/async/wait_for.hpp"
#include "support/temporary_directory.hpp"

using yux::platform::SaveFolderPanel;
using yux::platform::waitForTask;
using yux::testing::TemporaryDirectory;

namespace {

QFileDialog* openPanel() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog != nullptr && dialog->isVisible()) return dialog;
    }
    return nullptr;
}

}  // namespace

TEST(SaveFolderPanel, OffersFoldersFromTheStartFolderAndAnswersTheChoice) {
    TemporaryDirectory folder;
    const auto chosen = folder.path() / "Recordings";
    std::filesystem::create_directories(chosen);

    auto task = SaveFolderPanel::present(folder.path().string());
    QFileDialog* dialog = openPanel();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->labelText(QFileDialog::Accept), "Choose Save Folder");
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    EXPECT_EQ(dialog->windowModality(), Qt::NonModal);
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath().toStdString(),
              std::filesystem::canonical(folder.path()).string());

    // The event loop keeps running while the panel is open.
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    QTimer::singleShot(20, dialog, [dialog, chosen] {
        dialog->setDirectory(QString::fromStdString(chosen.string()));  // the user opens the folder
        static_cast<QDialog*>(dialog)->accept();  // public on QDialog
    });
    auto answer = waitForTask(task);
    EXPECT_TRUE(timerRan);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(std::filesystem::canonical(*answer), std::filesystem::canonical(chosen));
}

TEST(SaveFolderPanel, CancellingAnswersNothing) {
    auto task = SaveFolderPanel::present(QDir::tempPath().toStdString());
    QFileDialog* dialog = openPanel();
    ASSERT_NE(dialog, nullptr);
    QTimer::singleShot(0, dialog, [dialog] { dialog->reject(); });
    EXPECT_EQ(waitForTask(task), std::nullopt);
}

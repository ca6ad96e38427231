#include "platform/updates/update_user_driver.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

namespace yux::platform {

namespace {

class UpdateWindow : public QWidget {
public:
    UpdateWindow() {
        setWindowTitle(QStringLiteral("Yux Update"));
        setAttribute(Qt::WA_DeleteOnClose, false);
        auto* layout = new QVBoxLayout(this);
        title_ = new QLabel(this);
        QFont font = title_->font();
        font.setBold(true);
        title_->setFont(font);
        layout->addWidget(title_);
        detail_ = new QLabel(QStringLiteral("The download is checked before it is shown in your file manager."), this);
        detail_->setWordWrap(true);
        layout->addWidget(detail_);
        progress_ = new QProgressBar(this);
        progress_->hide();
        layout->addWidget(progress_);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        later_ = new QPushButton(QStringLiteral("Later"), this);
        download_ = new QPushButton(QStringLiteral("Install"), this);
        download_->setDefault(true);
        buttons->addWidget(later_);
        buttons->addWidget(download_);
        layout->addLayout(buttons);
        setFixedWidth(360);
    }

    void present(const UpdateItem& item, std::function<void()> download, std::function<void()> later) {
        title_->setText(QStringLiteral("Version %1 of Yux is available.")
                            .arg(QString::fromStdString(item.displayVersionString)));
        progress_->hide();
        download_->setEnabled(true);
        QObject::disconnect(download_, nullptr, nullptr, nullptr);
        QObject::disconnect(later_, nullptr, nullptr, nullptr);
        QObject::connect(download_, &QPushButton::clicked, this, [this, download] {
            download_->setEnabled(false);
            download();
        });
        QObject::connect(later_, &QPushButton::clicked, this, [this, later] {
            hide();
            later();
        });
        show();
        raise();
        activateWindow();
    }

    void showProgress(qint64 received, qint64 total) {
        progress_->show();
        // Percent keeps the bar's range within int for any file size.
        progress_->setRange(0, 100);
        progress_->setValue(total > 0 ? static_cast<int>(std::min<qint64>(100, received * 100 / total)) : 0);
    }

private:
    QLabel* title_;
    QLabel* detail_;
    QProgressBar* progress_;
    QPushButton* download_;
    QPushButton* later_;
};

}  // namespace

std::shared_ptr<UpdateUserDriver> UpdateUserDriver::create() {
    auto window = std::make_shared<QPointer<UpdateWindow>>();
    Operations operations;
    auto ensure = [window] {
        if (!*window) *window = new UpdateWindow;
        return window->data();
    };
    operations.show = [ensure](const UpdateItem& item, std::function<void()> download, std::function<void()> later) {
        ensure()->present(item, std::move(download), std::move(later));
    };
    operations.progress = [window](qint64 received, qint64 total) {
        if (*window) (*window)->showProgress(received, total);
    };
    operations.close = [window] {
        if (*window) (*window)->hide();
    };
    auto driver = std::make_shared<UpdateUserDriver>(std::move(operations));
    // The window lives as long as the program's single driver.
    auto slot = driver->window_;
    auto show = driver->operations_.show;
    driver->operations_.show = [show, window, slot](const UpdateItem& item, std::function<void()> download,
                                                    std::function<void()> later) {
        show(item, std::move(download), std::move(later));
        *slot = window->data();
    };
    return driver;
}

std::shared_ptr<UpdateUserDriver> UpdateUserDriver::create_null() {
    return std::make_shared<UpdateUserDriver>(Operations{[](auto&&...) {}, [](auto&&...) {}, [] {}});
}

void UpdateUserDriver::show(const UpdateItem& item, std::function<void()> download, std::function<void()> later) {
    download_ = download;
    later_ = later;
    events_.record({Event::Kind::show, item.displayVersionString, 0});
    operations_.show(item, std::move(download), std::move(later));
}

void UpdateUserDriver::progress(qint64 received, qint64 total) {
    events_.record({Event::Kind::progress, {}, received});
    operations_.progress(received, total);
}

void UpdateUserDriver::close() {
    download_ = {};
    later_ = {};
    events_.record({Event::Kind::close, {}, 0});
    operations_.close();
}

QWidget* UpdateUserDriver::window() const { return *window_; }

}  // namespace yux::platform

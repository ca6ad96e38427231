#include "editor/export_progress_sheet.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "editor/editor_style.hpp"
#include "editor/export_editor_session.hpp"
#include "platform/desktop/tabular_digits_label.hpp"

namespace yux {

std::string ExportProgressTexts::percent(double fraction) {
    double held = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    return std::to_string(static_cast<int>(held * 100)) + "%";
}

std::string ExportProgressTexts::section(const RecordingExportProgress& progress) {
    return "Section " + std::to_string(progress.section) + " of " + std::to_string(progress.sectionCount);
}

std::string ExportProgressTexts::remaining(const std::optional<double>& seconds) {
    // An estimate of a day or more is as good as none.
    constexpr double kLongestEstimate = 86400;
    if (!seconds || !std::isfinite(*seconds) || *seconds < 0 || *seconds > kLongestEstimate) return "Preparing…";
    return "about " + std::to_string(static_cast<long long>(std::ceil(*seconds))) + " s left";
}

std::string ExportProgressTexts::details(std::int64_t bytes, int width, int height) {
    QString size = QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
    return size.toStdString() + " · " + std::to_string(width) + " × " + std::to_string(height);
}

ExportProgressSheet::ExportProgressSheet(std::shared_ptr<ExportEditorSession> model, std::function<void()> close,
                                         QWidget* parent)
    : QWidget(parent), model_(std::move(model)), closeWindow_(std::move(close)) {
    setFixedWidth(kWidth);
    setAutoFillBackground(true);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(10);
    column->setContentsMargins(kMargin, kMargin, kMargin, kMargin);

    title_ = new QLabel(this);
    QFont headline = title_->font();
    headline.setBold(true);
    title_->setFont(headline);
    fileName_ = new QLabel(this);
    percent_ = new platform::TabularDigitsLabel(this);
    QFont large = percent_->font();
    large.setPixelSize(34);
    large.setBold(true);
    percent_->setFont(large);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 1000);
    bar_->setTextVisible(false);
    section_ = new QLabel(this);
    remaining_ = new QLabel(this);
    details_ = new QLabel(this);
    QPalette dimmed = section_->palette();
    QColor secondary = dimmed.color(QPalette::WindowText);
    secondary.setAlphaF(0.5);
    dimmed.setColor(QPalette::WindowText, secondary);
    for (auto* label : {section_, remaining_, fileName_}) label->setPalette(dimmed);
    // The caption row is set smaller than the body.
    for (auto* label : {section_, remaining_}) {
        QFont caption = label->font();
        caption.setPixelSize(EditorStyle::kCaptionPixels);
        label->setFont(caption);
    }
    revealError_ = new QLabel(this);
    revealError_->setWordWrap(true);
    revealError_->setTextFormat(Qt::PlainText);
    revealError_->setStyleSheet(QStringLiteral("color: rgb(215, 0, 21);"));

    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    editAgain_ = new QPushButton(QStringLiteral("Edit again"), this);
    reveal_ = new QPushButton(QStringLiteral("Show in Files"), this);
    close_ = new QPushButton(QStringLiteral("Close"), this);

    auto* caption = new QHBoxLayout;
    caption->addWidget(section_);
    caption->addStretch();
    caption->addWidget(remaining_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(editAgain_);
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(reveal_);
    buttons->addWidget(close_);

    column->addWidget(title_);
    column->addWidget(fileName_);
    column->addWidget(percent_);
    column->addWidget(bar_);
    column->addLayout(caption);
    column->addWidget(details_);
    column->addWidget(revealError_);
    column->addLayout(buttons);

    connect(cancel_, &QPushButton::clicked, this, [this] { model_->cancelExport(); });
    connect(editAgain_, &QPushButton::clicked, this, [this] { model_->clearSaved(); });
    connect(reveal_, &QPushButton::clicked, this, [this] { model_->reveal(); });
    connect(close_, &QPushButton::clicked, this, [this] {
        model_->clearSaved();
        if (closeWindow_) closeWindow_();
    });
    for (auto changed : {&ExportEditorSession::progressChanged, &ExportEditorSession::savedChanged,
                         &ExportEditorSession::isExportingChanged, &ExportEditorSession::cropChanged,
                         &ExportEditorSession::scaleChanged, &ExportEditorSession::revealErrorChanged})
        connect(model_.get(), changed, this, &ExportProgressSheet::refresh);
    refresh();
}

bool ExportProgressSheet::wanted() const { return model_->isExporting() || model_->saved().has_value(); }
QString ExportProgressSheet::titleText() const { return title_->text(); }
QString ExportProgressSheet::percentText() const { return percent_->text(); }
QWidget* ExportProgressSheet::percentLabel() const { return percent_; }
QString ExportProgressSheet::sectionText() const { return section_->text(); }
QString ExportProgressSheet::remainingText() const { return remaining_->text(); }
QString ExportProgressSheet::fileNameText() const { return fileName_->text(); }
QString ExportProgressSheet::detailsText() const { return details_->text(); }

void ExportProgressSheet::refresh() {
    const auto& saved = model_->saved();
    bool finished = saved.has_value();
    title_->setText(finished ? QStringLiteral("Export complete") : QStringLiteral("Exporting…"));
    fileName_->setVisible(finished);
    details_->setVisible(finished);
    section_->setVisible(!finished);
    remaining_->setVisible(!finished);
    cancel_->setVisible(!finished);
    editAgain_->setVisible(finished);
    reveal_->setVisible(finished);
    close_->setVisible(finished);
    revealError_->setVisible(finished && model_->revealError().has_value());
    revealError_->setText(QString::fromStdString(model_->revealError().value_or("")));
    if (finished) {
        // One line inside the margins; a longer name is cut with an ellipsis.
        QString name = QString::fromStdString(std::filesystem::path(saved->file.path).filename().string());
        fileName_->setText(fileName_->fontMetrics().elidedText(name, Qt::ElideRight, kWidth - 2 * kMargin));
        percent_->setText(QStringLiteral("100%"));
        bar_->setValue(bar_->maximum());
        bar_->setStyleSheet(QStringLiteral("QProgressBar::chunk { background: rgb(52,199,89); }"));
        auto pixels = model_->crop().pixels(model_->frameSize());
        details_->setText(QString::fromStdString(ExportProgressTexts::details(
            saved->byteSize, static_cast<int>(pixels.width), static_cast<int>(pixels.height))));
    } else {
        const auto& progress = model_->progress();
        percent_->setText(QString::fromStdString(ExportProgressTexts::percent(progress.fraction)));
        double held = std::isnan(progress.fraction) ? 0.0 : std::clamp(progress.fraction, 0.0, 1.0);
        bar_->setValue(static_cast<int>(held * bar_->maximum()));
        bar_->setStyleSheet(QString());
        section_->setText(QString::fromStdString(ExportProgressTexts::section(progress)));
        remaining_->setText(QString::fromStdString(ExportProgressTexts::remaining(progress.remainingSeconds)));
    }
    // The two contents differ in height.
    adjustSize();
}

void ExportProgressSheet::keyPressEvent(QKeyEvent* event) {
    // Only the sheet's buttons and the model dismiss it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace yux

#include "editor/editor_sidebar.hpp"

#include <algorithm>
#include <cmath>

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTextLayout>
#include <QVBoxLayout>

#include "editor/editor_pixel_field.hpp"
#include "editor/editor_source_headers.hpp"
#include "editor/editor_style.hpp"
#include "editor/editor_time_text.hpp"
#include "editor/export_editor_session.hpp"
#include "platform/desktop/tabular_digits_label.hpp"

namespace yux {

namespace {

// Sliders are integer: thousandths of the model's value.
constexpr int kSliderUnits = 1000;
// The column's margins and the export note's own, on either side.
constexpr int kColumnMargin = 16;
constexpr int kNotePadding = 8;
// The sidebar's default text size; the fixed-width values use it too.
constexpr int kValuePixels = 13;
// Between the column's elements: 18 wherever they fit the window's height; less only as far as
// they need (two audio sources, the crop details and a two-line note do not fit 680 high at 18),
// and never under 10, where the elements are squeezed instead.
constexpr int kElementSpacing = 18;
constexpr int kTightestElementSpacing = 10;

// A column whose spacing is the widest, from `tightest` up to `widest`, at which every element
// gets the height it asks for in the height the column is given.
class FittingColumn : public QVBoxLayout {
public:
    FittingColumn(QWidget* parent, int widest, int tightest)
        : QVBoxLayout(parent), widest_(widest), tightest_(tightest) {
        setSpacing(widest);
    }

    void setGeometry(const QRect& rect) override {
        fit(rect.height());
        QVBoxLayout::setGeometry(rect);
    }

private:
    void fit(int height) {
        // Spacing goes only between elements that show (a flexible space takes none).
        int shown = 0;
        for (int i = 0; i < count(); ++i) shown += itemAt(i)->isEmpty() ? 0 : 1;
        if (shown < 2) return;
        const int gaps = shown - 1;
        const int content = sizeHint().height() - spacing() * gaps;
        const int fitting = std::clamp((height - content) / gaps, tightest_, widest_);
        if (fitting != spacing()) setSpacing(fitting);
    }

    int widest_;
    int tightest_;
};

QLabel* secondaryLabel(const QString& text, int pixels, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(pixels);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, EditorStyle::secondary(palette));
    label->setPalette(palette);
    return label;
}

// Semibold, its digits in cells of one width, so changing digits keep their place.
QLabel* valueLabel(QWidget* parent) {
    auto* label = new platform::TabularDigitsLabel(parent);
    QFont font = label->font();
    font.setPixelSize(kValuePixels);
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    return label;
}

// "TITLE ........ value"
QLabel* addHeading(QVBoxLayout* column, const QString& title, QWidget* parent) {
    auto* row = new QHBoxLayout;
    row->addWidget(secondaryLabel(title, 11, parent));
    row->addStretch();
    auto* value = valueLabel(parent);
    row->addWidget(value);
    column->addLayout(row);
    return value;
}

QSlider* slider(double from, double to, QWidget* parent) {
    auto* result = new QSlider(Qt::Horizontal, parent);
    result->setRange(static_cast<int>(std::lround(from * kSliderUnits)), static_cast<int>(std::lround(to * kSliderUnits)));
    return result;
}

}  // namespace

QString EditorSidebar::cutToTwoLines(const QString& text, const QFont& font, qreal width) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    int firstLength = first.isValid() ? (first.setLineWidth(width), first.textLength()) : 0;
    layout.endLayout();
    QString rest = text.mid(firstLength);
    if (firstLength == 0 || rest.isEmpty()) return text;
    return text.left(firstLength).trimmed() + QLatin1Char('\n') +
           QFontMetricsF(font).elidedText(rest, Qt::ElideRight, width);
}

std::string EditorSidebar::qualityText(double quality) {
    if (quality >= 0.999) return "Original";
    return std::to_string(static_cast<long long>(std::round(quality * 100))) + "%";
}

std::string EditorSidebar::pixelsText(double width, double height) {
    return std::to_string(static_cast<long long>(std::trunc(width))) + " × " +
           std::to_string(static_cast<long long>(std::trunc(height)));
}

EditorSidebar::EditorSidebar(std::shared_ptr<ExportEditorSession> model, std::function<void()> closeWindow,
                             QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    auto* session = model_.get();
    auto* column = new FittingColumn(this, kElementSpacing, kTightestElementSpacing);
    column->setContentsMargins(kColumnMargin, kColumnMargin, kColumnMargin, kColumnMargin);

    // Audio.
    auto audioSources = session->audioSources();
    if (!audioSources.empty()) {
        audio_ = new QWidget(this);
        auto* audio = new QVBoxLayout(audio_);
        audio->setContentsMargins(0, 0, 0, 0);
        audio->setSpacing(8);
        addHeading(audio, QStringLiteral("AUDIO"), audio_);
        for (const auto& source : audioSources) {
            // The name sits closer to its own control than the sources to one another.
            auto* entry = new QVBoxLayout;
            entry->setSpacing(4);
            auto* name = new QLabel(sourceDisplayName(source.kind), audio_);
            QFont font = name->font();
            font.setPixelSize(12);
            name->setFont(font);
            entry->addWidget(name);
            entry->addWidget(new EditorAudioControl(model_, source, audio_));
            audio->addLayout(entry);
        }
        column->addWidget(audio_);
    }

    // Quality and size: a heading over a slider each; the model changes only when one moves.
    auto addSliderSection = [&](const QString& title, double from, double to, void (ExportEditorSession::*set)(double),
                                QLabel*& value, QSlider*& control) {
        auto* section = new QVBoxLayout;
        section->setSpacing(6);
        value = addHeading(section, title, this);
        control = slider(from, to, this);
        section->addWidget(control);
        column->addLayout(section);
        connect(control, &QSlider::valueChanged, this,
                [session, set](int units) { (session->*set)(static_cast<double>(units) / kSliderUnits); });
    };
    addSliderSection(QStringLiteral("QUALITY"), 0.1, 1.0, &ExportEditorSession::setQuality, qualityValue_, quality_);
    addSliderSection(QStringLiteral("SIZE"), 0.25, 1.0, &ExportEditorSession::setScale, sizeValue_, scale_);

    // Crop.
    auto* cropColumn = new QVBoxLayout;
    cropColumn->setSpacing(8);
    cropValue_ = addHeading(cropColumn, QStringLiteral("CROP"), this);
    auto* cropStrip = new EditorSegmentStrip(this);
    crop_ = new EditorSegmentButton(QStringLiteral("Crop"), cropStrip);
    crop_->setCheckable(true);
    reset_ = new EditorSegmentButton(QStringLiteral("Reset"), cropStrip);
    cropStrip->add(crop_);
    cropStrip->add(reset_);
    cropColumn->addWidget(cropStrip);
    connect(crop_, &QAbstractButton::clicked, this, [this, session] {
        session->setCropEditing(!session->cropEditing());
        refresh();
    });
    connect(reset_, &QAbstractButton::clicked, this, [session] {
        session->setCrop(RecordingCrop());
        session->setCropEditing(false);
    });

    cropDetails_ = new QWidget(this);
    auto* details = new QVBoxLayout(cropDetails_);
    details->setContentsMargins(0, 0, 0, 0);
    details->setSpacing(8);
    auto* ratioRow = new QHBoxLayout;
    ratioRow->addWidget(new QLabel(QStringLiteral("Ratio"), cropDetails_));
    ratio_ = new QComboBox(cropDetails_);
    for (auto ratio : RecordingCrop::allRatios)
        ratio_->addItem(QString::fromUtf8(RecordingCrop::rawValue(ratio).data(),
                                          static_cast<qsizetype>(RecordingCrop::rawValue(ratio).size())));
    ratioRow->addWidget(ratio_, 1);
    details->addLayout(ratioRow);
    connect(ratio_, &QComboBox::activated, this, [session](int index) {
        auto crop = session->crop();
        crop.setRatio(RecordingCrop::allRatios[index], session->frameSize());
        session->setCrop(crop);
    });
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    for (int i = 0; i < 4; ++i) {
        auto field = RecordingCrop::allFields[i];
        auto raw = QString::fromUtf8(RecordingCrop::rawValue(field).data(),
                                     static_cast<qsizetype>(RecordingCrop::rawValue(field).size()));
        auto* cell = new QHBoxLayout;
        cell->setSpacing(4);
        cell->addWidget(secondaryLabel(raw, EditorStyle::kCaptionPixels, cropDetails_));
        auto read = [session, field]() -> std::int64_t {
            auto r = session->crop().pixels(session->frameSize());
            double value = field == RecordingCrop::Field::width    ? r.width
                           : field == RecordingCrop::Field::height ? r.height
                           : field == RecordingCrop::Field::x      ? r.x
                                                                   : r.y;
            return static_cast<std::int64_t>(std::trunc(value));
        };
        auto write = [session, field](std::int64_t value) {
            auto crop = session->crop();
            crop.set(field, static_cast<double>(value), session->frameSize());
            session->setCrop(crop);
        };
        fields_[i] = new EditorPixelField(raw, read, write, cropDetails_);
        fields_[i]->setMinimumHeight(fields_[i]->sizeHint().height());
        cell->addWidget(fields_[i], 1);
        grid->addLayout(cell, i / 2, i % 2);
    }
    details->addLayout(grid);
    cropColumn->addWidget(cropDetails_);
    column->addLayout(cropColumn);

    // Format.
    auto* formatColumn = new QVBoxLayout;
    formatColumn->setSpacing(8);
    addHeading(formatColumn, QStringLiteral("FORMAT"), this);
    auto* formatStrip = new EditorSegmentStrip(this);
    for (int i = 0; i < 2; ++i) {
        auto codec = kAllRecordingVideoCodecs[i];
        formats_[i] = new EditorSegmentButton(codec == RecordingVideoCodec::h264 ? QStringLiteral("H.264")
                                                                                : QStringLiteral("HEVC"),
                                              formatStrip);
        formatStrip->add(formats_[i]);
        // A checkable button unchecks itself when pressed again; the model's state decides.
        connect(formats_[i], &QAbstractButton::clicked, this, [this, session, codec] {
            session->setCodec(codec);
            refresh();
        });
    }
    formatColumn->addWidget(formatStrip);
    column->addLayout(formatColumn);

    // Summary.
    auto* box = new QWidget(this);
    box->setObjectName(QStringLiteral("summaryBox"));
    auto* rows = new QVBoxLayout(box);
    rows->setContentsMargins(10, 10, 10, 10);
    rows->setSpacing(4);
    const QString labels[] = {QStringLiteral("Output"), QStringLiteral("Length"), QStringLiteral("File"),
                              QStringLiteral("Time")};
    for (int i = 0; i < 4; ++i) {
        auto* row = new QHBoxLayout;
        row->addWidget(secondaryLabel(labels[i], font().pixelSize() > 0 ? font().pixelSize() : 13, box));
        row->addStretch();
        summary_[i] = valueLabel(box);
        row->addWidget(summary_[i]);
        rows->addLayout(row);
    }
    summary_[3]->setText(QStringLiteral("Measured during export"));
    bool dark = EditorStyle::isDark(palette());
    box->setStyleSheet(QStringLiteral("#summaryBox { background: %1; border: 1px solid %2; border-radius: 8px; }")
                           .arg(dark ? QStringLiteral("rgb(37,37,39)") : QStringLiteral("rgb(246,246,246)"),
                                dark ? QStringLiteral("rgb(58,58,60)") : QStringLiteral("rgb(214,214,214)")));
    column->addWidget(box);

    note_ = new QLabel(this);
    note_->setContentsMargins(kNotePadding, kNotePadding, kNotePadding, kNotePadding);
    QFont noteFont = note_->font();
    noteFont.setPixelSize(12);
    noteFont.setWeight(QFont::DemiBold);
    note_->setFont(noteFont);
    column->addWidget(note_);
    column->addWidget(secondaryLabel(QStringLiteral("Ready to export"), EditorStyle::kCaptionPixels, this));
    column->addStretch(1);

    auto* actions = new QHBoxLayout;
    delete_ = new EditorButton(QStringLiteral("Delete"), this);
    export_ = new QPushButton(QStringLiteral("Export…"), this);
    export_->setDefault(true);
    export_->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none;"
                                          " border-radius: 6px; padding: 4px 10px; }"
                                          "QPushButton:pressed { background: %2; }"
                                          "QPushButton:disabled { background: %3; }")
                               .arg(EditorStyle::accent().name(QColor::HexArgb),
                                    EditorStyle::accent(0.6).name(QColor::HexArgb),
                                    EditorStyle::accent(0.4).name(QColor::HexArgb)));
    QFont exportFont = export_->font();
    exportFont.setWeight(QFont::DemiBold);
    export_->setFont(exportFont);
    actions->addWidget(delete_);
    actions->addWidget(export_, 1);
    column->addLayout(actions);
    connect(delete_, &QPushButton::clicked, this, [closeWindow] {
        if (closeWindow) closeWindow();
    });
    connect(export_, &QPushButton::clicked, this, [session] { session->exportRecording(); });

    for (auto changed : {&ExportEditorSession::qualityChanged, &ExportEditorSession::scaleChanged,
                         &ExportEditorSession::cropChanged, &ExportEditorSession::cropEditingChanged,
                         &ExportEditorSession::codecChanged, &ExportEditorSession::editChanged,
                         &ExportEditorSession::audioLevelsChanged, &ExportEditorSession::isExportingChanged})
        connect(session, changed, this, &EditorSidebar::refresh);
    refresh();
}

void EditorSidebar::refresh() {
    auto* session = model_.get();
    {
        // The model changes only when the user moves a slider.
        QSignalBlocker qualityBlock(quality_);
        QSignalBlocker scaleBlock(scale_);
        quality_->setValue(static_cast<int>(std::lround(session->quality() * kSliderUnits)));
        scale_->setValue(static_cast<int>(std::lround(session->scale() * kSliderUnits)));
        QSignalBlocker ratioBlock(ratio_);
        for (int i = 0; i < 5; ++i)
            if (RecordingCrop::allRatios[i] == session->crop().ratio()) ratio_->setCurrentIndex(i);
    }
    qualityValue_->setText(QString::fromStdString(qualityText(session->quality())));
    auto frame = session->frameSize();
    sizeValue_->setText(QString::fromStdString(pixelsText(frame.width, frame.height)));
    auto pixels = session->crop().pixels(frame);
    auto output = QString::fromStdString(pixelsText(pixels.width, pixels.height));
    cropValue_->setText(session->crop().isCropped() ? output : QStringLiteral("—"));
    crop_->setChecked(session->cropEditing());
    cropDetails_->setVisible(session->cropEditing() || session->crop().isCropped());
    for (int i = 0; i < 4; ++i) {
        fields_[i]->refresh();
        auto maximum = static_cast<long long>(std::trunc(session->crop().maximum(RecordingCrop::allFields[i], frame)));
        fields_[i]->setToolTip(QStringLiteral("Maximum %1 px").arg(maximum));
    }
    for (int i = 0; i < 2; ++i) {
        formats_[i]->setCheckable(true);
        formats_[i]->setChecked(kAllRecordingVideoCodecs[i] == session->codec());
    }
    double length = session->edit().outputDuration();
    summary_[0]->setText(output);
    summary_[1]->setText(QString::fromStdString(editorTimeText(length)));
    summary_[2]->setText(QStringLiteral("≈ ") +
                         QLocale().formattedDataSize(session->estimatedBytes(), 1, QLocale::DataSizeSIFormat));
    auto reasons = session->reasons();
    if (reasons.empty()) {
        note_->setText(QStringLiteral("⚡ Fast export"));
        note_->setStyleSheet(QStringLiteral("background: rgba(52,199,89,26); border-radius: 8px;"));
    } else {
        std::string joined;
        for (const auto& reason : reasons) joined += (joined.empty() ? "" : ", ") + reason;
        // At most two lines: the column's width is fixed, the rest is cut with an ellipsis.
        note_->setText(cutToTwoLines(QStringLiteral("Re-encode · ") + QString::fromStdString(joined), note_->font(),
                                     kWidth - 2 * kColumnMargin - 2 * kNotePadding));
        note_->setStyleSheet(QStringLiteral("background: %1; border-radius: 8px;")
                                 .arg(EditorStyle::accent(0.12).name(QColor::HexArgb)));
    }
    export_->setEnabled(!session->isExporting() && length > 0);
}

}  // namespace yux

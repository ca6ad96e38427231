#include "editor/editor_source_headers.hpp"

#include <cmath>

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "editor/editor_style.hpp"
#include "editor/editor_timeline_canvas.hpp"
#include "editor/export_editor_session.hpp"

namespace yux {

namespace {

constexpr int kGainUnits = 1000;
constexpr int kStripWidth = 18;
constexpr int kListLeft = kStripWidth + 6;
constexpr int kListWidth = 160;

QColor kindColour(RecordingSourceKind kind) {
    auto colour = colorOf(kind);
    return QColor::fromRgbF(static_cast<float>(colour.red), static_cast<float>(colour.green),
                            static_cast<float>(colour.blue));
}

}  // namespace

QString sourceDisplayName(RecordingSourceKind kind) {
    switch (kind) {
        case RecordingSourceKind::screen: return QStringLiteral("Screen");
        case RecordingSourceKind::camera: return QStringLiteral("Camera");
        case RecordingSourceKind::systemAudio: return QStringLiteral("System audio");
        case RecordingSourceKind::microphone: return QStringLiteral("Microphone");
        case RecordingSourceKind::audio: return QStringLiteral("Audio");
    }
    return {};
}

QString EditorAudioControl::valueText(float gain, bool muted) {
    if (muted) return QStringLiteral("muted");
    return QString::number(static_cast<long long>(std::round(static_cast<double>(gain) * 100))) + QStringLiteral("%");
}

EditorAudioControl::EditorAudioControl(std::shared_ptr<ExportEditorSession> model, RecordingSource source,
                                       QWidget* parent)
    : QWidget(parent), model_(std::move(model)), source_(std::move(source)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    mute_ = new QToolButton(this);
    mute_->setAutoRaise(true);
    mute_->setFixedSize(16, 16);
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setRange(0, 2 * kGainUnits);
    slider_->setAccessibleName(sourceDisplayName(source_.kind) + QStringLiteral(" volume"));
    slider_->setToolTip(QStringLiteral("Volume · double-click to reset to 100%"));
    value_ = new QLabel(this);
    value_->setFixedWidth(36);
    value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont small = value_->font();
    small.setPixelSize(10);
    small.setWeight(QFont::DemiBold);
    small.setStyleHint(QFont::Monospace);
    value_->setFont(small);
    row->addWidget(mute_);
    row->addWidget(slider_, 1);
    row->addWidget(value_);

    auto id = source_.id;
    auto* session = model_.get();
    connect(mute_, &QToolButton::clicked, this, [session, id] { session->toggleMute(id); });
    connect(slider_, &QSlider::valueChanged, this,
            [session, id](int value) { session->setGain(static_cast<float>(value) / kGainUnits, id); });
    connect(session, &ExportEditorSession::audioLevelsChanged, this, &EditorAudioControl::refresh);
    slider_->installEventFilter(this);
    refresh();
}

bool EditorAudioControl::eventFilter(QObject* watched, QEvent* event) {
    // Qt's second press of a double-click arrives as its own event: consume it and reset.
    if (watched == slider_ && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        model_->setGain(1.0f, source_.id);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void EditorAudioControl::refresh() {
    RecordingAudioLevel level;
    if (auto found = model_->audioLevels().find(source_.id); found != model_->audioLevels().end()) level = found->second;
    {
        QSignalBlocker blocker(slider_);
        slider_->setValue(static_cast<int>(std::lround(level.gain * kGainUnits)));
    }
    value_->setText(valueText(level.gain, level.muted));
    mute_->setText(level.muted ? QStringLiteral("×") : QStringLiteral("♪"));
    mute_->setAccessibleName(level.muted ? QStringLiteral("Unmute")
                                         : QStringLiteral("Mute ") + sourceDisplayName(source_.kind));
    QPalette palette = mute_->palette();
    palette.setColor(QPalette::ButtonText, level.muted ? QColor(255, 59, 48) : this->palette().color(QPalette::WindowText));
    mute_->setPalette(palette);
}

EditorSourceHeaders::EditorSourceHeaders(std::shared_ptr<ExportEditorSession> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    setFixedWidth(kWidth);
    connect(model_.get(), &ExportEditorSession::sourcesExpandedChanged, this, &EditorSourceHeaders::rebuild);
    rebuild();
}

void EditorSourceHeaders::rebuild() {
    for (auto* row : rows_) row->deleteLater();
    rows_.clear();
    setFixedHeight(static_cast<int>(model_->timelineHeight()));
    if (model_->sourcesExpanded()) {
        auto lanes = EditorTimelineLayout::lanes(model_->sources(), true);
        for (std::size_t i = 0; i < lanes.size(); ++i) {
            const auto& source = model_->sources()[i];
            auto* row = new QWidget(this);
            auto* column = new QVBoxLayout(row);
            column->setContentsMargins(18, 2, 8, 2);
            column->setSpacing(2);
            auto* name = new QLabel(sourceDisplayName(source.kind), row);
            QFont font = name->font();
            font.setPixelSize(12);
            font.setWeight(QFont::DemiBold);
            name->setFont(font);
            column->addWidget(name);
            if (isAudio(source.kind)) column->addWidget(new EditorAudioControl(model_, source, row));
            row->setGeometry(kListLeft, static_cast<int>(lanes[i].top), kListWidth, static_cast<int>(lanes[i].height));
            row->show();
            rows_.push_back(row);
        }
    }
    update();
}

void EditorSourceHeaders::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double height = model_->timelineHeight();
    // Lane-mode strip: a chevron, down while expanded.
    painter.setPen(QPen(EditorStyle::secondary(palette()), 1.6));
    QPointF tip(kStripWidth / 2.0, 30);
    if (model_->sourcesExpanded())
        painter.drawPolyline(QPolygonF{{tip.x() - 4, tip.y() - 2}, {tip.x(), tip.y() + 2}, {tip.x() + 4, tip.y() - 2}});
    else
        painter.drawPolyline(QPolygonF{{tip.x() - 2, tip.y() - 4}, {tip.x() + 2, tip.y()}, {tip.x() - 2, tip.y() + 4}});

    auto drawRow = [&](QRectF row, QColor colour) {
        QPainterPath shape;
        shape.addRoundedRect(row.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        painter.fillPath(shape, EditorStyle::controlBackground(palette()));
        painter.setPen(QPen(EditorStyle::secondary(palette(), 0.2), 1));
        painter.drawPath(shape);
        QPainterPath bar;
        bar.addRoundedRect(QRectF(row.left() + 8, row.top() + 8, 4, row.height() - 16), 2, 2);
        painter.fillPath(bar, colour);
    };
    if (model_->sourcesExpanded()) {
        auto lanes = EditorTimelineLayout::lanes(model_->sources(), true);
        for (std::size_t i = 0; i < lanes.size(); ++i)
            drawRow(QRectF(kListLeft, lanes[i].top, kListWidth, lanes[i].height), kindColour(model_->sources()[i].kind));
        return;
    }
    QRectF row(kListLeft, 18, kListWidth, std::min(72.0, height - 18));
    drawRow(row, QColor(10, 132, 255));
    QFont font = this->font();
    font.setPixelSize(11);
    font.setWeight(QFont::DemiBold);
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::WindowText));
    QString title = QStringLiteral("Recording");
    painter.drawText(QPointF(row.left() + 18, row.top() + 22), title);
    double titleWidth = QFontMetricsF(font).horizontalAdvance(title + QStringLiteral(" "));
    font.setWeight(QFont::Normal);
    painter.setFont(font);
    painter.setPen(EditorStyle::secondary(palette()));
    painter.drawText(QPointF(row.left() + 18 + titleWidth, row.top() + 22),
                     QStringLiteral("· %1 tracks").arg(model_->sources().size()));
    double x = row.left() + 18;
    for (const auto& source : model_->sources()) {
        QPainterPath chip;
        chip.addRoundedRect(QRectF(x, row.top() + 34, 20, 16), 4, 4);
        painter.fillPath(chip, EditorStyle::withOpacity(kindColour(source.kind), 0.25));
        painter.fillRect(QRectF(x + 7, row.top() + 39, 6, 6), kindColour(source.kind));
        x += 24;
    }
}

void EditorSourceHeaders::mousePressEvent(QMouseEvent* event) {
    bool onStrip = event->position().x() < kStripWidth && event->position().y() >= 18;
    bool onCollapsedRow = !model_->sourcesExpanded() && event->position().x() >= kListLeft && event->position().y() >= 18 &&
                          event->position().y() < 90;
    if (onStrip || onCollapsedRow) model_->setSourcesExpanded(!model_->sourcesExpanded());
}

}  // namespace yux

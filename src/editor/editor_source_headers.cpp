#include "editor/editor_source_headers.hpp"

#include <cmath>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include "editor/editor_style.hpp"
#include "editor/editor_timeline_canvas.hpp"
#include "editor/export_editor_session.hpp"

namespace yux {

using platform::Symbol;
using platform::SymbolPainter;

namespace {

constexpr int kGainUnits = 1000;
constexpr int kListLeft = EditorSourceHeaders::kStripWidth + EditorSourceHeaders::kSpacing;
constexpr qreal kRowRadius = 8;
constexpr int kRowMargin = 8;
constexpr int kColourBarWidth = 4;
constexpr int kColourBarInset = 8;
// Sides of the symbols' boxes, for the sizes the rows name them at (11 in a row, 10 on a chip
// and in the strip).
constexpr int kRowIconSide = 13;
constexpr int kChipIconSide = 11;
constexpr int kChevronSide = 10;
constexpr int kMuteSide = 16;
// The collapsed row's colour bar.
const QColor kRecordingColour(10, 132, 255);

QColor kindColour(RecordingSourceKind kind) {
    auto colour = colorOf(kind);
    return QColor::fromRgbF(static_cast<float>(colour.red), static_cast<float>(colour.green),
                            static_cast<float>(colour.blue));
}

QFont sized(QFont font, int pixels, QFont::Weight weight = QFont::Normal) {
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

// A row's chrome: the control background in a rounded outline, and the row's colour bar.
void paintRowChrome(QPainter& painter, const QRectF& row, const QColor& colour, const QPalette& palette) {
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(row.adjusted(0.5, 0.5, -0.5, -0.5), kRowRadius, kRowRadius);
    painter.fillPath(shape, EditorStyle::controlBackground(palette));
    painter.setPen(QPen(EditorStyle::quaternary(palette), 1));
    painter.drawPath(shape);
    QPainterPath bar;
    bar.addRoundedRect(QRectF(row.left() + kRowMargin, row.top() + kColourBarInset, kColourBarWidth,
                              row.height() - 2 * kColourBarInset),
                       2, 2);
    painter.fillPath(bar, colour);
}

// The margins that put a row's content right of its colour bar.
QMargins rowContentMargins() { return {kRowMargin + kColourBarWidth + 6, 0, kRowMargin, 0}; }

// One source, expanded: its name over its volume control or its symbol.
class SourceRow : public QWidget {
public:
    SourceRow(RecordingSourceKind kind, QWidget* parent) : QWidget(parent), colour_(kindColour(kind)) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        paintRowChrome(painter, QRectF(rect()), colour_, palette());
    }

private:
    QColor colour_;
};

// A source's symbol on a faint face with its colour along the bottom; names its source on hover.
class SourceChip : public QWidget {
public:
    static constexpr int kWidth = 20;
    static constexpr int kHeight = 16;

    SourceChip(RecordingSourceKind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
        setFixedSize(kWidth, kHeight);
        setToolTip(sourceDisplayName(kind));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath face;
        face.addRoundedRect(QRectF(rect()), 4, 4);
        painter.setClipPath(face);
        painter.fillPath(face, EditorStyle::quaternary(palette(), 0.4));
        painter.fillRect(QRectF(0, height() - 2, width(), 2), kindColour(kind_));
        QRectF icon((width() - kChipIconSide) / 2.0, (height() - 2 - kChipIconSide) / 2.0, kChipIconSide, kChipIconSide);
        SymbolPainter::paint(painter, sourceSymbol(kind_), icon, palette().color(QPalette::Active, QPalette::WindowText));
    }

private:
    RecordingSourceKind kind_;
};

// Every source in one row while collapsed: "Recording · N tracks" over a chip per source; a
// click expands.
class CollapsedRow : public QAbstractButton {
public:
    CollapsedRow(const std::vector<RecordingSource>& sources, QWidget* parent) : QAbstractButton(parent) {
        auto count = static_cast<qlonglong>(sources.size());
        setAccessibleName(QStringLiteral("Recording · %1 tracks · expand").arg(count));
        setFocusPolicy(Qt::TabFocus);
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(rowContentMargins());
        column->setSpacing(2);
        column->addStretch(1);
        auto* title = new QHBoxLayout;
        title->setSpacing(3);
        auto* recording = new QLabel(QStringLiteral("Recording"), this);
        recording->setFont(sized(font(), 11, QFont::DemiBold));
        auto* tracks = new QLabel(QStringLiteral("· %1 tracks").arg(count), this);
        tracks->setFont(sized(font(), 11));
        QPalette dimmed = tracks->palette();
        dimmed.setColor(QPalette::WindowText, EditorStyle::secondary(dimmed));
        tracks->setPalette(dimmed);
        title->addWidget(recording);
        title->addWidget(tracks);
        title->addStretch(1);
        column->addLayout(title);
        auto* chips = new QHBoxLayout;
        chips->setSpacing(4);
        for (const auto& source : sources) chips->addWidget(new SourceChip(source.kind, this));
        chips->addStretch(1);
        column->addLayout(chips);
        column->addStretch(1);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        paintRowChrome(painter, QRectF(rect()), kRecordingColour, palette());
    }
};

// "Expanded" or "Collapsed" as the strip's value for screen readers.
class LaneModeStripAccessible : public QAccessibleWidget {
public:
    explicit LaneModeStripAccessible(EditorLaneModeStrip* strip) : QAccessibleWidget(strip, QAccessible::Button) {}
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) return static_cast<EditorLaneModeStrip*>(widget())->accessibleValue();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* laneModeStripAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("yux::EditorLaneModeStrip") && object && object->isWidgetType())
        return new LaneModeStripAccessible(static_cast<EditorLaneModeStrip*>(object));
    return nullptr;
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

Symbol sourceSymbol(RecordingSourceKind kind) {
    switch (kind) {
        case RecordingSourceKind::screen: return Symbol::display;
        case RecordingSourceKind::camera: return Symbol::camera;
        case RecordingSourceKind::microphone: return Symbol::mic;
        case RecordingSourceKind::systemAudio:
        case RecordingSourceKind::audio: return Symbol::speakerWave2;
    }
    return Symbol::speakerWave2;
}

// Audio control.

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
    // A plain button: its symbol alone, no panel under the pointer or while pressed.
    mute_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0; }"));
    mute_->setFixedSize(kMuteSide, kMuteSide);
    mute_->setIconSize(QSize(kMuteSide - 2, kMuteSide - 2));
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setRange(0, 2 * kGainUnits);
    slider_->setAccessibleName(sourceDisplayName(source_.kind) + QStringLiteral(" volume"));
    slider_->setToolTip(QStringLiteral("Volume · double-click to reset to 100%"));
    value_ = new QLabel(this);
    value_->setFixedWidth(36);
    value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value_->setFont(EditorStyle::monospaced(10, QFont::DemiBold));
    QPalette dimmed = value_->palette();
    dimmed.setColor(QPalette::WindowText, EditorStyle::secondary(dimmed));
    value_->setPalette(dimmed);
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
    muteSymbol_ = level.muted ? Symbol::speakerSlash : Symbol::speakerWave2;
    QColor ink = level.muted ? QColor(255, 59, 48) : palette().color(QPalette::Active, QPalette::WindowText);
    mute_->setIcon(SymbolPainter::icon(muteSymbol_, ink, kMuteSide));
    mute_->setAccessibleName(level.muted ? QStringLiteral("Unmute")
                                         : QStringLiteral("Mute ") + sourceDisplayName(source_.kind));
}

// Lane-mode strip.

EditorLaneModeStrip::EditorLaneModeStrip(QWidget* parent) : QAbstractButton(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(laneModeStripAccessible);
        return true;
    }();
    (void)installed;
    setFocusPolicy(Qt::TabFocus);
    setExpanded(false);
}

void EditorLaneModeStrip::setExpanded(bool expanded) {
    expanded_ = expanded;
    setAccessibleName(expanded ? QStringLiteral("Collapse source lanes") : QStringLiteral("Expand source lanes"));
    update();
}

QString EditorLaneModeStrip::accessibleValue() const {
    return expanded_ ? QStringLiteral("Expanded") : QStringLiteral("Collapsed");
}

void EditorLaneModeStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The chevron points right, and down (turned a quarter clockwise) while expanded.
    constexpr int kChevronFrameHeight = 22;
    QRectF chevron((width() - kChevronSide) / 2.0, (kChevronFrameHeight - kChevronSide) / 2.0, kChevronSide, kChevronSide);
    SymbolPainter::paint(painter, expanded_ ? Symbol::chevronDown : Symbol::chevronRight, chevron,
                         EditorStyle::secondary(palette()));
    if (!expanded_) return;
    // The bracket along the lanes: 6 wide, rounded on the left, 6 in from the left and 6 above
    // the bottom.
    constexpr qreal kLeft = 6.5, kRight = 12.5, kRadius = 4;
    const qreal top = kChevronFrameHeight + 2 + 0.5;
    const qreal bottom = height() - 6 - 0.5;
    if (bottom - top < 2 * kRadius) return;
    QPainterPath bracket;
    bracket.moveTo(kRight, top);
    bracket.lineTo(kLeft + kRadius, top);
    bracket.quadTo(kLeft, top, kLeft, top + kRadius);
    bracket.lineTo(kLeft, bottom - kRadius);
    bracket.quadTo(kLeft, bottom, kLeft + kRadius, bottom);
    bracket.lineTo(kRight, bottom);
    bracket.closeSubpath();
    painter.setPen(QPen(EditorStyle::quaternary(palette()), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(bracket);
}

// The column.

EditorSourceHeaders::EditorSourceHeaders(std::shared_ptr<ExportEditorSession> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    setFixedWidth(kWidth);
    strip_ = new EditorLaneModeStrip(this);
    connect(strip_, &QAbstractButton::clicked, this, [this] { model_->setSourcesExpanded(!model_->sourcesExpanded()); });
    connect(model_.get(), &ExportEditorSession::sourcesExpandedChanged, this, &EditorSourceHeaders::rebuild);
    rebuild();
}

void EditorSourceHeaders::rebuild() {
    // Hidden at once: deletion waits for the event loop, and a click may be on its way.
    for (auto* row : rows_) {
        row->hide();
        row->deleteLater();
    }
    rows_.clear();
    if (collapsed_) {
        collapsed_->hide();
        collapsed_->deleteLater();
    }
    collapsed_ = nullptr;

    const auto& sources = model_->sources();
    const double height = model_->timelineHeight();
    const auto top = static_cast<int>(EditorTimelineLayout::kRulerHeight);
    setFixedHeight(static_cast<int>(height));
    strip_->setExpanded(model_->sourcesExpanded());
    strip_->setGeometry(0, top, kStripWidth, static_cast<int>(height) - top);

    if (!model_->sourcesExpanded()) {
        collapsed_ = new CollapsedRow(sources, this);
        collapsed_->setGeometry(kListLeft, top, kListWidth, static_cast<int>(EditorTimelineLayout::kCombinedLaneHeight));
        connect(collapsed_, &QAbstractButton::clicked, this, [this] { model_->setSourcesExpanded(true); });
        collapsed_->show();
        return;
    }
    auto lanes = EditorTimelineLayout::lanes(sources, true);
    for (std::size_t i = 0; i < lanes.size(); ++i) {
        const auto& source = sources[i];
        auto* row = new SourceRow(source.kind, this);
        auto* column = new QVBoxLayout(row);
        column->setContentsMargins(rowContentMargins());
        column->setSpacing(2);
        column->addStretch(1);
        auto* name = new QLabel(sourceDisplayName(source.kind), row);
        name->setFont(sized(font(), 12, QFont::DemiBold));
        column->addWidget(name);
        if (isAudio(source.kind)) {
            column->addWidget(new EditorAudioControl(model_, source, row));
        } else {
            column->addWidget(new platform::SymbolView(sourceSymbol(source.kind), kRowIconSide, EditorStyle::secondary(palette()), row));
        }
        column->addStretch(1);
        row->setGeometry(kListLeft, static_cast<int>(lanes[i].top), kListWidth, static_cast<int>(lanes[i].height));
        row->show();
        rows_.push_back(row);
    }
}

}  // namespace yux

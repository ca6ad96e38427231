#include "editor/editor_timeline_canvas.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHelpEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include "editor/editor_style.hpp"
#include "editor/export_editor_session.hpp"

namespace yux {

std::vector<EditorTimelineLayout::Lane> EditorTimelineLayout::lanes(const std::vector<RecordingSource>& sources,
                                                                    bool expanded) {
    if (!expanded) return {{kRulerHeight, kCombinedLaneHeight}};
    std::vector<Lane> result;
    double top = kRulerHeight;
    for (const auto& source : sources) {
        double height = isAudio(source.kind) ? kAudioLaneHeight : kVideoLaneHeight;
        result.push_back({top, height});
        top += height + kLaneGap;
    }
    return result;
}

double EditorTimelineLayout::rulerStep(double duration, double width) {
    double raw = duration * kRulerLabelSpacing / width;
    if (!std::isfinite(raw) || raw <= 0) return 1;
    double magnitude = std::pow(10.0, std::floor(std::log10(std::max(raw, 0.1))));
    if (magnitude < 0.1) magnitude = 0.1;
    double n = raw / magnitude;
    double multiplier = n > 5 ? 10 : n > 2 ? 5 : 2;
    return multiplier * magnitude;
}

static std::string tickLabel(double seconds, bool wholeSeconds) {
    char text[32];
    if (wholeSeconds) {
        auto whole = static_cast<long long>(std::llround(seconds));
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    } else {
        auto tenths = static_cast<long long>(std::llround(seconds * 10));
        std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, (tenths % 600) / 10, tenths % 10);
    }
    return text;
}

std::vector<EditorTimelineLayout::Tick> EditorTimelineLayout::rulerTicks(double duration, double width) {
    std::vector<Tick> ticks;
    if (!std::isfinite(duration) || duration < 0 || !(width > 0)) return ticks;
    double step = rulerStep(duration, width);
    bool whole = step >= 1;
    // Ticks are multiples of the step (no accumulated error); a tiny slack keeps an end that is
    // an exact multiple.
    for (long long k = 0;; ++k) {
        double t = static_cast<double>(k) * step;
        if (t > duration + step * 1e-9) break;
        ticks.push_back({t, tickLabel(whole ? t : std::round(t * 10) / 10, whole)});
    }
    return ticks;
}

}  // namespace yux

// The drawing.

namespace yux {

namespace {

constexpr double kHatchSpacing = 12;
constexpr double kHatchWidth = 5;
constexpr double kSectionLabelMinWidth = 30;

QColor sourceColour(RecordingSourceKind kind, qreal opacity) {
    auto colour = colorOf(kind);
    return QColor::fromRgbF(static_cast<float>(colour.red), static_cast<float>(colour.green),
                            static_cast<float>(colour.blue), static_cast<float>(opacity));
}

QString speedLabel(double speed) {
    return QLocale().toString(speed, 'g', 6) + QStringLiteral("×");
}

// Name, "%.2f seconds" and a tenth of a second per step for screen readers.
class TrimHandleAccessible : public QAccessibleWidget {
public:
    explicit TrimHandleAccessible(EditorTrimHandle* handle) : QAccessibleWidget(handle, QAccessible::Slider) {}

    QString text(QAccessible::Text kind) const override {
        auto* handle = static_cast<EditorTrimHandle*>(widget());
        bool start = handle->edge() == RecordingEdit::Edge::start;
        if (kind == QAccessible::Name) return start ? QStringLiteral("Trim start handle") : QStringLiteral("Trim end handle");
        if (kind == QAccessible::Value) return QString::asprintf("%.2f seconds", edgeTime());
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override {
        return {QAccessibleActionInterface::increaseAction(), QAccessibleActionInterface::decreaseAction()};
    }
    void doAction(const QString& name) override {
        auto* session = model();
        if (!session) return;
        double step = name == QAccessibleActionInterface::increaseAction()   ? 0.1
                      : name == QAccessibleActionInterface::decreaseAction() ? -0.1
                                                                             : 0;
        if (step != 0) session->setEdge(handle()->edge(), edgeTime() + step);
    }

private:
    EditorTrimHandle* handle() const { return static_cast<EditorTrimHandle*>(widget()); }
    ExportEditorSession* model() const {
        auto* canvas = qobject_cast<EditorTimelineCanvas*>(handle()->parentWidget());
        return canvas ? &canvas->model() : nullptr;
    }
    double edgeTime() const {
        auto* session = model();
        if (!session) return 0;
        const auto& range = session->edit().range();
        return handle()->edge() == RecordingEdit::Edge::start ? range.lower : range.upper;
    }
};

QAccessibleInterface* trimHandleAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("yux::EditorTrimHandle") && object && object->isWidgetType())
        return new TrimHandleAccessible(static_cast<EditorTrimHandle*>(object));
    return nullptr;
}

}  // namespace

EditorTimelineCanvas::EditorTimelineCanvas(std::shared_ptr<ExportEditorSession> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    start_ = new EditorTrimHandle(this, RecordingEdit::Edge::start);
    end_ = new EditorTrimHandle(this, RecordingEdit::Edge::end);
    end_->raise();  // the end handle takes the press where they overlap
    auto* session = model_.get();
    for (auto changed : {&ExportEditorSession::editChanged, &ExportEditorSession::playheadChanged,
                         &ExportEditorSession::sourcesExpandedChanged, &ExportEditorSession::waveformsChanged,
                         &ExportEditorSession::thumbnailsChanged, &ExportEditorSession::audioLevelsChanged,
                         &ExportEditorSession::waveformErrorChanged})
        connect(session, changed, this, [this] {
            placeHandles();
            update();
        });
    setFixedHeight(static_cast<int>(model_->timelineHeight()));
    connect(session, &ExportEditorSession::sourcesExpandedChanged, this,
            [this] { setFixedHeight(static_cast<int>(model_->timelineHeight())); });
    placeHandles();
}

double EditorTimelineCanvas::timeAt(double x) const {
    return x / std::max<double>(width(), 1) * model_->edit().duration();
}

double EditorTimelineCanvas::xOf(double time) const { return time / model_->edit().duration() * width(); }

void EditorTimelineCanvas::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeHandles();
}

void EditorTimelineCanvas::placeHandles() {
    const auto& range = model_->edit().range();
    double startX = xOf(range.lower);
    double endX = std::max(xOf(range.upper) - kHandleWidth, startX);
    int handleHeight = static_cast<int>(model_->timelineHeight() - EditorTimelineLayout::kRulerHeight);
    start_->setGeometry(static_cast<int>(std::lround(startX)), static_cast<int>(EditorTimelineLayout::kRulerHeight),
                        static_cast<int>(kHandleWidth), handleHeight);
    end_->setGeometry(static_cast<int>(std::lround(endX)), static_cast<int>(EditorTimelineLayout::kRulerHeight),
                      static_cast<int>(kHandleWidth), handleHeight);
}

bool EditorTimelineCanvas::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto& error = model_->waveformError();
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(),
                           error ? QString::fromStdString(*error) : QStringLiteral("Click or drag to seek"), this);
        return true;
    }
    return QWidget::event(event);
}

void EditorTimelineCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    double time = timeAt(event->position().x());
    const auto& range = model_->edit().range();
    // A press in the dimmed area does nothing for the whole drag.
    seeking_ = time >= range.lower && time <= range.upper;
    if (seeking_) model_->seek(time);
}

void EditorTimelineCanvas::mouseMoveEvent(QMouseEvent* event) {
    // The pointer's own time: outside the trim range the model leaves the playhead where it was.
    if (seeking_ && (event->buttons() & Qt::LeftButton)) model_->seek(timeAt(event->position().x()));
}

void EditorTimelineCanvas::mouseReleaseEvent(QMouseEvent*) { seeking_ = false; }

void EditorTimelineCanvas::beginHandleDrag(RecordingEdit::Edge edge) {
    if (initialEdge_) return;
    const auto& range = model_->edit().range();
    initialEdge_ = edge == RecordingEdit::Edge::start ? range.lower : range.upper;
    dragEdge_ = edge;
    model_->beginTrim(edge);
}

void EditorTimelineCanvas::moveHandleDrag(double translation) {
    if (!initialEdge_) return;
    model_->dragTrim(*initialEdge_ + translation / std::max<double>(width(), 1) * model_->edit().duration());
}

void EditorTimelineCanvas::endHandleDrag() {
    if (!initialEdge_) return;
    model_->endTrim();
    initialEdge_.reset();
    dragEdge_.reset();
}

void EditorTimelineCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double h = model_->timelineHeight();
    const auto& edit = model_->edit();
    const double pps = w / edit.duration();

    // Ruler.
    painter.setFont(EditorStyle::monospaced(10));
    painter.setPen(EditorStyle::secondary(palette()));
    // Measured on the device drawn on, and never clipped to the measure: the last label ends at
    // the right edge, where a rounding cut its last digit.
    QFontMetricsF metrics(painter.font(), painter.device());
    for (const auto& tick : EditorTimelineLayout::rulerTicks(edit.duration(), w)) {
        QString label = QString::fromStdString(tick.label);
        double labelWidth = metrics.horizontalAdvance(label);
        double centre = std::clamp(pps * tick.seconds, labelWidth / 2, std::max(w - labelWidth / 2, labelWidth / 2));
        painter.drawText(QRectF(centre - labelWidth / 2, 0, labelWidth, 16), Qt::AlignCenter | Qt::TextDontClip, label);
    }

    // Lanes.
    auto lanes = EditorTimelineLayout::lanes(model_->sources(), model_->sourcesExpanded());
    for (std::size_t i = 0; i < lanes.size(); ++i) {
        const RecordingSource* source = model_->sourcesExpanded() ? &model_->sources()[i] : nullptr;
        paintLane(painter, source, lanes[i].top, lanes[i].height);
    }

    // Outside the trim range, the trim frame and the playhead.
    double startX = pps * edit.range().lower;
    double endX = pps * edit.range().upper;
    QColor dim(0, 0, 0, static_cast<int>(0.55 * 255));
    painter.fillRect(QRectF(0, 18, startX, h - 18), dim);
    painter.fillRect(QRectF(endX, 18, std::max(w - endX, 0.0), h - 18), dim);
    painter.setPen(QPen(QColor(255, 204, 0), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(startX, 19, endX - startX, h - 20), 4, 4);
    double playheadX = pps * model_->playhead();
    painter.setPen(QPen(QColor(255, 149, 0), 2));
    painter.drawLine(QPointF(playheadX, 15), QPointF(playheadX, h));
}

void EditorTimelineCanvas::paintLane(QPainter& painter, const RecordingSource* source, double top, double height) {
    const double w = width();
    const auto& edit = model_->edit();
    const double pps = w / edit.duration();
    QRectF lane(0, top, w, height);
    QPainterPath laneShape;
    laneShape.addRoundedRect(lane, 8, 8);
    painter.fillPath(laneShape, source ? EditorStyle::controlBackground(palette()) : EditorStyle::accent(0.16));

    if (source && !isAudio(source->kind)) {
        auto found = model_->thumbnails().find(source->id);
        if (found != model_->thumbnails().end() && !found->second.empty()) {
            double slot = w / static_cast<double>(found->second.size());
            for (std::size_t i = 0; i < found->second.size(); ++i)
                painter.drawImage(QRectF(static_cast<double>(i) * slot + 2, top + 3, slot - 4, height - 6), found->second[i]);
        }
    } else if (source) {
        paintWaveform(painter, *source, top, height);
    } else {
        for (const auto& audio : model_->audioSources()) paintWaveform(painter, audio, top, height);
    }

    // Sections.
    const auto& sections = edit.sections();
    std::size_t current = sections.empty() ? 0 : edit.index(model_->playhead());
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const auto& section = sections[i];
        QRectF r(pps * section.start, top, std::max(pps * (section.end - section.start) - 2, 1.0), height);
        if (!section.kept) {
            painter.fillRect(r, QColor(255, 59, 48, static_cast<int>(0.12 * 255)));
            painter.save();
            painter.setClipRect(r);
            painter.setPen(QPen(QColor(255, 59, 48, static_cast<int>(0.25 * 255)), kHatchWidth));
            for (double x = r.left() - height; x <= r.right(); x += kHatchSpacing)
                painter.drawLine(QPointF(x, r.bottom()), QPointF(x + height, r.top()));
            painter.restore();
        }
        if (i == current) {
            QRectF band(pps * edit.range().lower, top, pps * (edit.range().upper - edit.range().lower), height);
            QRectF overlap = r.intersected(band);
            if (!overlap.isEmpty()) {
                painter.setPen(QPen(EditorStyle::accent(0.5), 1));
                painter.setBrush(Qt::NoBrush);
                painter.drawRoundedRect(overlap.adjusted(1, 1, -1, -1), 4, 4);
            }
        }
        if (r.width() > kSectionLabelMinWidth) {
            painter.setFont(EditorStyle::monospaced(10, QFont::DemiBold));
            painter.setPen(section.kept ? EditorStyle::accent() : QColor(255, 59, 48));
            QString label = section.kept ? speedLabel(section.speed) : QStringLiteral("removed");
            // Centred on the section and never clipped to it: "removed" is wider than a narrow one.
            painter.drawText(QRectF(r.center().x() - 50, top + 2, 100, 16), Qt::AlignCenter | Qt::TextDontClip, label);
        }
    }
    painter.setPen(QPen(EditorStyle::secondary(palette(), 0.25), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(laneShape);
}

void EditorTimelineCanvas::paintWaveform(QPainter& painter, const RecordingSource& source, double top, double height) {
    auto found = model_->waveforms().find(source.id);
    if (found == model_->waveforms().end() || found->second.empty()) return;
    const auto& peaks = found->second;
    double gain = 1;
    if (auto level = model_->audioLevels().find(source.id); level != model_->audioLevels().end())
        gain = level->second.muted ? 0 : level->second.gain;
    const double w = width();
    const double n = static_cast<double>(peaks.size());
    const double barWidth = std::max(w / n - 1, 1.0);
    QList<QRectF> bars;
    bars.reserve(static_cast<qsizetype>(peaks.size()));
    for (std::size_t i = 0; i < peaks.size(); ++i) {
        double amplitude = std::min(gain * peaks[i], 1.0);
        double half = std::max((height * 0.5 - 4) * amplitude, 0.5);
        bars.append(QRectF(static_cast<double>(i) / n * w, top + height / 2 - half, barWidth, 2 * half));
    }
    // One call for all bars. Upright rectangles need no antialiasing, which here cost a tenth of
    // a second per pass and held the window at a few pictures a second while playing.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(sourceColour(source.kind, gain == 0 ? 0.25 : 0.65));
    painter.drawRects(bars);
    painter.restore();
}

// Handles.

EditorTrimHandle::EditorTrimHandle(EditorTimelineCanvas* canvas, RecordingEdit::Edge edge)
    : QWidget(canvas), canvas_(canvas), edge_(edge) {
    static const bool installed = [] {
        QAccessible::installFactory(trimHandleAccessible);
        return true;
    }();
    (void)installed;
    setToolTip(edge == RecordingEdit::Edge::start ? QStringLiteral("Trim start (I)") : QStringLiteral("Trim end (O)"));
    setCursor(Qt::SizeHorCursor);
}

void EditorTrimHandle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 3, 3);
    painter.fillPath(shape, QColor(255, 204, 0));
    QPainterPath grip;
    grip.addRoundedRect(QRectF(width() / 2.0 - 1, height() / 2.0 - 10, 2, 20), 1, 1);
    painter.fillPath(grip, QColor(0, 0, 0, static_cast<int>(0.65 * 255)));
}

void EditorTrimHandle::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    // The trim begins at the press (pause, playhead on the edge, its badge); a release without a
    // move leaves no undo step.
    pressX_ = event->scenePosition().x();
    canvas_->beginHandleDrag(edge_);
    canvas_->moveHandleDrag(0);
}

void EditorTrimHandle::mouseMoveEvent(QMouseEvent* event) {
    if (!pressX_) return;
    canvas_->moveHandleDrag(event->scenePosition().x() - *pressX_);
}

void EditorTrimHandle::mouseReleaseEvent(QMouseEvent*) {
    if (!pressX_) return;
    pressX_.reset();
    canvas_->endHandleDrag();
}

}  // namespace yux

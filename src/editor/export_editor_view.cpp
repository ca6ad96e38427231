#include "editor/export_editor_view.hpp"

#include <algorithm>
#include <cmath>

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include "editor/editor_button.hpp"
#include "editor/editor_crop_overlay.hpp"
#include "editor/editor_player.hpp"
#include "editor/editor_sidebar.hpp"
#include "editor/editor_source_headers.hpp"
#include "editor/editor_style.hpp"
#include "editor/editor_time_text.hpp"
#include "editor/editor_timeline.hpp"
#include "editor/export_editor_session.hpp"
#include "platform/desktop/symbol_painter.hpp"

namespace yux {

namespace {

// The zoom slider in hundredths.
constexpr int kZoomUnits = 100;

QString speedText(double speed) { return QLocale().toString(speed, 'g', 6) + QStringLiteral("×"); }

QLabel* badgeLabel(QWidget* parent) {
    auto* badge = new QLabel(parent);
    badge->setFont(EditorStyle::monospaced(11, QFont::DemiBold));
    badge->setStyleSheet(QStringLiteral("color: white; background: rgba(0,0,0,153); border-radius: 6px; padding: 3px 8px;"));
    return badge;
}

// The picture area: backdrop, the player's picture fitted to the source's aspect, two badges.
class PreviewArea : public QWidget {
public:
    static constexpr qreal kCornerRadius = 8;

    PreviewArea(ExportEditorSession& model, EditorPlayer* player, EditorCropOverlay* crop, QLabel* badge, QLabel* speed,
                QWidget* parent)
        : QWidget(parent), model_(model), player_(player), crop_(crop), badge_(badge), speed_(speed) {
        player_->setParent(this);
        crop_->setParent(this);
        // The picture and the crop's dimming are cut at the preview's rounded corners too.
        player_->setCornerFrame(this, kCornerRadius);
        crop_->setCornerFrame(this, kCornerRadius);
        badge_->setParent(this);
        speed_->setParent(this);
    }

    double aspect() const {
        auto size = model_.sourceSize();
        auto t = model_.sourceTransform();
        double w = size.width * t.a + size.height * t.c;
        double h = size.width * t.b + size.height * t.d;
        return h == 0 ? 16.0 / 9.0 : std::abs(w / h);
    }

protected:
    void resizeEvent(QResizeEvent*) override { place(); }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
        painter.fillPath(shape, EditorStyle::previewBackdrop());
    }

public:
    void place() {
        QSizeF picture = ExportEditorView::pictureSize(aspect(), size());
        player_->setGeometry(QRectF((width() - picture.width()) / 2, (height() - picture.height()) / 2,
                                    picture.width(), picture.height())
                                 .toRect());
        crop_->setGeometry(player_->geometry());
        crop_->raise();
        badge_->adjustSize();
        speed_->adjustSize();
        badge_->move(10, 10);
        speed_->move(width() - 10 - speed_->width(), 10);
        badge_->raise();
        speed_->raise();
    }

private:
    ExportEditorSession& model_;
    EditorPlayer* player_;
    EditorCropOverlay* crop_;
    QLabel* badge_;
    QLabel* speed_;
};

// The kept sections as bars: green faster, orange slower, accent at normal speed.
class ResultBar : public QWidget {
public:
    ResultBar(ExportEditorSession& model, QWidget* parent) : QWidget(parent), model_(model) { setFixedHeight(14); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        bool dark = EditorStyle::isDark(palette());
        QPainterPath clip;
        clip.addRoundedRect(QRectF(rect()), 4, 4);
        painter.setClipPath(clip);
        painter.fillRect(rect(), EditorStyle::line(dark));
        auto kept = model_.edit().keptSections();
        double total = std::max(model_.edit().outputDuration(), 0.001);
        double usable = width() - 2.0 * (std::max<double>(static_cast<double>(kept.size()), 1) - 1);
        double x = 0;
        for (const auto& section : kept) {
            double w = std::max(0.0, (section.end - section.start) / section.speed * usable / total);
            QColor colour = section.speed > 1   ? QColor(52, 199, 89)
                            : section.speed < 1 ? QColor(255, 149, 0)
                                                : EditorStyle::accent();
            painter.fillRect(QRectF(x, 0, w, height()), colour);
            x += w + 2;
        }
    }

private:
    ExportEditorSession& model_;
};

}  // namespace

QSizeF ExportEditorView::pictureSize(double aspect, QSizeF area) {
    if (!(aspect > 0) || !std::isfinite(aspect)) return {};
    double w = std::min(aspect * area.height(), area.width());
    return {w, w / aspect};
}

double ExportEditorView::playedTime(const ExportEditorSession& model) {
    double played = 0;
    for (const auto& section : model.edit().keptSections())
        played += std::max(0.0, std::min(section.end, model.playhead()) - section.start) / section.speed;
    return played;
}

ExportEditorView::ExportEditorView(std::shared_ptr<ExportEditorSession> model, std::function<void()> closeWindow,
                                   QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    auto* session = model_.get();
    QFont base = font();
    base.setPixelSize(13);
    setFont(base);
    // Once, at the root: every stock control below shows the tint the painted ones use.
    EditorStyle::applyTint(*this);
    bool dark = EditorStyle::isDark(palette());

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    left_ = new QWidget(this);
    auto* column = new QVBoxLayout(left_);
    column->setContentsMargins(kColumnMargin, kColumnMargin, kColumnMargin, kColumnMargin);
    column->setSpacing(10);

    // Preview.
    player_ = new EditorPlayer(std::shared_ptr<platform::PreviewPlayer>(session->shared_from_this(), &session->player()));
    badge_ = badgeLabel(nullptr);
    speedBadge_ = badgeLabel(nullptr);
    auto* preview = new PreviewArea(*session, player_, new EditorCropOverlay(model_), badge_, speedBadge_, left_);
    preview_ = preview;
    preview_->setFixedSize(533, static_cast<int>(kPreviewMaxHeight));
    // 16:9 box, at most 300 high, centred in the column.
    auto* previewRow = new QHBoxLayout;
    previewRow->addStretch();
    previewRow->addWidget(preview_);
    previewRow->addStretch();
    column->addLayout(previewRow);

    // Transport.
    auto* transport = new QHBoxLayout;
    transport->setSpacing(6);
    play_ = new EditorButton(QString(), left_);
    play_->setToolTip(QStringLiteral("Play / Pause (Space)"));
    QColor ink = palette().color(QPalette::Active, QPalette::ButtonText);
    playIcon_ = platform::SymbolPainter::icon(platform::Symbol::playFill, ink, 16);
    pauseIcon_ = platform::SymbolPainter::icon(platform::Symbol::pauseFill, ink, 16);
    play_->setFixedWidth(36);
    time_ = new QLabel(left_);
    time_->setFont(EditorStyle::monospaced(11));
    QPalette timePalette = time_->palette();
    timePalette.setColor(QPalette::WindowText, EditorStyle::secondary(timePalette));
    time_->setPalette(timePalette);
    split_ = new EditorButton(QStringLiteral("✂ Split"), left_);
    split_->setToolTip(QStringLiteral("Split at playhead (S)"));
    remove_ = new EditorButton(QStringLiteral("Remove"), left_);
    remove_->setToolTip(QStringLiteral("Remove / restore selected section"));
    transport->addWidget(play_);
    transport->addWidget(time_);
    transport->addStretch();
    transport->addWidget(split_);
    transport->addWidget(remove_);
    auto* speedStrip = new EditorSegmentStrip(left_);
    for (int i = 0; i < 5; ++i) {
        double value = RecordingEdit::speeds[i];
        speeds_[i] = new EditorSegmentButton(speedText(value), speedStrip);
        speeds_[i]->setCheckable(true);
        QFont small = speeds_[i]->font();
        small.setPixelSize(11);
        speeds_[i]->setFont(small);
        speeds_[i]->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        speedStrip->add(speeds_[i], 0);
        connect(speeds_[i], &QAbstractButton::clicked, this, [this, session, value, i] {
            session->speed(value);
            refresh();
        });
    }
    transport->addWidget(speedStrip);
    undo_ = new EditorButton(QStringLiteral("↶"), left_);
    undo_->setToolTip(QStringLiteral("Undo (Ctrl+Z)"));
    transport->addWidget(undo_);
    column->addLayout(transport);

    connect(play_, &QPushButton::clicked, this, [session] { session->togglePlayback(); });
    connect(split_, &QPushButton::clicked, this, [session] { session->split(); });
    connect(remove_, &QPushButton::clicked, this, [session] { session->toggleRemoval(); });
    connect(undo_, &QPushButton::clicked, this, [session] { session->undo(); });
    // The window's own shortcuts; a focused text field takes its keys first.
    auto addShortcut = [this](QKeySequence keys, QPushButton* button) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isEnabled() && button->window()->isEnabled()) button->click();
        });
    };
    addShortcut(QKeySequence(Qt::Key_S), split_);
    addShortcut(QKeySequence(Qt::Key_Backspace), remove_);
    addShortcut(QKeySequence(Qt::Key_Delete), remove_);
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), undo_);

    // Zoom row.
    auto* zoomRow = new QHBoxLayout;
    zoomRow->setSpacing(6);
    zoomRow->addStretch();
    zoomOut_ = new EditorButton(QStringLiteral("−"), left_);
    zoom_ = new QSlider(Qt::Horizontal, left_);
    zoom_->setRange(kZoomUnits, 20 * kZoomUnits);
    zoom_->setFixedWidth(140);
    zoom_->setToolTip(QStringLiteral("Zoom timeline (Ctrl+scroll or pinch)"));
    zoomIn_ = new EditorButton(QStringLiteral("+"), left_);
    zoomRow->addWidget(zoomOut_);
    zoomRow->addWidget(zoom_);
    zoomRow->addWidget(zoomIn_);
    column->addLayout(zoomRow);

    // Timeline.
    auto* timelineRow = new QHBoxLayout;
    timelineRow->setSpacing(6);
    headers_ = new EditorSourceHeaders(model_, left_);
    timeline_ = new EditorTimeline(model_, left_);
    timelineRow->addWidget(headers_, 0, Qt::AlignTop);
    timelineRow->addWidget(timeline_, 1, Qt::AlignTop);
    column->addLayout(timelineRow);
    connect(zoomOut_, &QPushButton::clicked, this,
            [this] { timeline_->setZoom(std::max(timeline_->zoom() - kZoomStep, 1.0)); });
    connect(zoomIn_, &QPushButton::clicked, this,
            [this] { timeline_->setZoom(std::min(timeline_->zoom() + kZoomStep, 20.0)); });
    connect(zoom_, &QSlider::valueChanged, this,
            [this](int value) { timeline_->setZoom(static_cast<double>(value) / kZoomUnits); });
    connect(timeline_, &EditorTimeline::zoomChanged, this, [this](double zoom) {
        QSignalBlocker blocker(zoom_);
        zoom_->setValue(static_cast<int>(std::lround(zoom * kZoomUnits)));
    });

    // Result.
    auto* summaryRow = new QHBoxLayout;
    auto* resultTitle = new QLabel(QStringLiteral("RESULT"), left_);
    summary_ = new QLabel(left_);
    for (auto* label : {resultTitle, summary_}) {
        QFont small = label->font();
        small.setPixelSize(11);
        label->setFont(small);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, EditorStyle::secondary(palette));
        label->setPalette(palette);
    }
    summaryRow->addWidget(resultTitle);
    summaryRow->addStretch();
    summaryRow->addWidget(summary_);
    column->addLayout(summaryRow);
    resultBar_ = new ResultBar(*session, left_);
    column->addWidget(resultBar_);
    column->addStretch(1);

    row->addWidget(left_, 1);
    auto* divider = new QWidget(this);
    divider->setFixedWidth(1);
    divider->setAutoFillBackground(true);
    QPalette dividerPalette = divider->palette();
    dividerPalette.setColor(QPalette::Window, EditorStyle::line(dark));
    divider->setPalette(dividerPalette);
    row->addWidget(divider);
    sidebar_ = new EditorSidebar(model_, std::move(closeWindow), this);
    sidebar_->setFixedWidth(kSidebarWidth);
    sidebar_->setAutoFillBackground(true);
    QPalette sidebarPalette = sidebar_->palette();
    sidebarPalette.setColor(QPalette::Window, EditorStyle::panel(dark));
    sidebar_->setPalette(sidebarPalette);
    row->addWidget(sidebar_);

    for (auto changed : {&ExportEditorSession::editChanged, &ExportEditorSession::playheadChanged,
                         &ExportEditorSession::playingChanged, &ExportEditorSession::draggingEdgeChanged,
                         &ExportEditorSession::isExportingChanged, &ExportEditorSession::sourcesExpandedChanged})
        connect(session, changed, this, &ExportEditorView::refresh);
    refresh();
}

void ExportEditorView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!started_) {
        started_ = true;
        model_->start();
    }
}

void ExportEditorView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placePreview();
}

void ExportEditorView::placePreview() {
    // A 16:9 box in the left column inside its margins, at most 300 high, in the height the other
    // rows leave: with every lane expanded the picture gives way, not the rows below it.
    double availableWidth = width() - kSidebarWidth - 1 - 2 * kColumnMargin;
    auto* column = left_->layout();
    column->activate();  // the rows' sizes as they are now, not as last laid out
    int others = column->sizeHint().height() - preview_->height();
    double availableHeight = std::min(kPreviewMaxHeight, static_cast<double>(height() - others));
    QSizeF box = pictureSize(16.0 / 9.0, QSizeF(std::max(availableWidth, 1.0), std::max(availableHeight, 1.0)));
    preview_->setFixedSize(std::max(1, static_cast<int>(std::round(box.width()))),
                           std::max(1, static_cast<int>(std::round(box.height()))));
    static_cast<PreviewArea*>(preview_)->place();
}

void ExportEditorView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), EditorStyle::windowBackground(EditorStyle::isDark(palette())));
}

void ExportEditorView::refresh() {
    auto* session = model_.get();
    badge_->setText(QString::fromStdString(session->previewBadge()));
    auto section = session->selectedSection();
    speedBadge_->setText(speedText(section.speed));

    // The row is the lanes and 18 points for the scroll bar under them (more if the style's bar is taller).
    int rowHeight = static_cast<int>(session->timelineHeight()) +
                    std::max(kScrollBarRoom, timeline_->horizontalScrollBar()->sizeHint().height());
    if (timeline_->minimumHeight() != rowHeight || timeline_->maximumHeight() != rowHeight) {
        timeline_->setFixedHeight(rowHeight);
        placePreview();
    } else {
        static_cast<PreviewArea*>(preview_)->place();
    }

    bool playing = session->playing();
    play_->setIcon(playing ? pauseIcon_ : playIcon_);
    play_->setAccessibleName(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    double output = session->edit().outputDuration();
    time_->setText(QString::fromStdString(editorTimeText(playedTime(*session))) + QStringLiteral(" / ") +
                   QString::fromStdString(editorTimeText(output)));
    remove_->setText(section.kept ? QStringLiteral("Remove") : QStringLiteral("Restore"));
    for (int i = 0; i < 5; ++i) speeds_[i]->setChecked(RecordingEdit::speeds[i] == section.speed);
    undo_->setEnabled(session->edit().canUndo());
    double kept = 0;
    for (const auto& s : session->edit().keptSections()) kept += s.end - s.start;
    summary_->setText(QString::fromStdString(editorTimeText(output)) + QStringLiteral(" · ") +
                      QString::fromStdString(editorTimeText(session->edit().duration() - kept)) +
                      QStringLiteral(" removed"));
    // While exporting only the sheet is live.
    bool exporting = session->isExporting();
    left_->setEnabled(!exporting);
    sidebar_->setEnabled(!exporting);
    resultBar_->update();
}

}  // namespace yux

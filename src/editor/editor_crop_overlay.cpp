#include "editor/editor_crop_overlay.hpp"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "editor/editor_style.hpp"
#include "editor/export_editor_session.hpp"

namespace yux {

EditorCropOverlay::EditorCropOverlay(std::shared_ptr<ExportEditorSession> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    setAttribute(Qt::WA_TranslucentBackground);
    for (auto changed : {&ExportEditorSession::cropChanged, &ExportEditorSession::cropEditingChanged,
                         &ExportEditorSession::scaleChanged})
        connect(model_.get(), changed, this, [this] {
            setAttribute(Qt::WA_TransparentForMouseEvents, !model_->cropEditing());
            update();
        });
    setAttribute(Qt::WA_TransparentForMouseEvents, !model_->cropEditing());
}

bool EditorCropOverlay::isShown() const { return model_->cropEditing() || model_->crop().isCropped(); }

QRectF EditorCropOverlay::viewRect() const {
    auto frame = model_->frameSize();
    auto p = model_->crop().pixels(frame);
    double sx = width() / frame.width;
    double sy = height() / frame.height;
    return {p.x * sx, p.y * sy, p.width * sx, p.height * sy};
}

void EditorCropOverlay::paintEvent(QPaintEvent*) {
    if (!isShown()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    EditorStyle::clipToRoundedFrame(painter, this, cornerFrame_, cornerRadius_);
    QRectF v = viewRect();
    QPainterPath dim;
    dim.setFillRule(Qt::OddEvenFill);
    dim.addRect(QRectF(rect()));
    dim.addRect(v);
    painter.fillPath(dim, QColor(0, 0, 0, static_cast<int>(0.55 * 255)));
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(v);
    if (!model_->cropEditing()) return;

    auto p = model_->crop().pixels(model_->frameSize());
    QString label = QStringLiteral("%1 × %2").arg(static_cast<long long>(p.width)).arg(static_cast<long long>(p.height));
    QFont font = EditorStyle::monospaced(11, QFont::DemiBold);
    painter.setFont(font);
    QFontMetricsF metrics(font);
    QSizeF box(metrics.horizontalAdvance(label) + 12, metrics.height() + 4);
    QPointF centre(v.center().x(), std::max(v.top() + 12, v.bottom() - 14));
    QRectF labelRect(centre.x() - box.width() / 2, centre.y() - box.height() / 2, box.width(), box.height());
    QPainterPath labelShape;
    labelShape.addRoundedRect(labelRect, 5, 5);
    painter.fillPath(labelShape, QColor(0, 0, 0, static_cast<int>(0.6 * 255)));
    painter.setPen(Qt::white);
    painter.drawText(labelRect, Qt::AlignCenter, label);

    const QPointF corners[] = {v.topLeft(), v.topRight(), v.bottomLeft(), v.bottomRight()};
    for (const auto& corner : corners) {
        QPainterPath handle;
        handle.addRoundedRect(QRectF(corner.x() - kHandleSize / 2, corner.y() - kHandleSize / 2, kHandleSize, kHandleSize),
                              2, 2);
        painter.fillPath(handle, Qt::white);
    }
}

void EditorCropOverlay::mousePressEvent(QMouseEvent* event) {
    if (!model_->cropEditing() || event->button() != Qt::LeftButton) return;
    QRectF v = viewRect();
    const QPointF corners[] = {v.topLeft(), v.topRight(), v.bottomLeft(), v.bottomRight()};
    grip_.reset();
    // Corners lie over the frame; the last drawn takes the press.
    for (int i = 3; i >= 0 && !grip_; --i) {
        QRectF handle(corners[i].x() - kHandleSize / 2, corners[i].y() - kHandleSize / 2, kHandleSize, kHandleSize);
        if (handle.contains(event->position())) grip_ = i;
    }
    if (!grip_ && v.contains(event->position())) grip_ = -1;
    pressAt_ = event->position();
    dragStart_.reset();
}

void EditorCropOverlay::mouseMoveEvent(QMouseEvent* event) {
    if (!grip_) return;
    auto frame = model_->frameSize();
    if (!dragStart_) dragStart_ = model_->crop().pixels(frame);
    const Rect& start = *dragStart_;
    double sx = width() / frame.width;
    double sy = height() / frame.height;
    QPointF t = event->position() - pressAt_;
    auto crop = model_->crop();
    if (*grip_ < 0) {
        crop.move(Point{start.x + t.x() / sx, start.y + t.y() / sy}, frame);
    } else {
        bool right = *grip_ % 2 == 1;
        bool bottom = *grip_ >= 2;
        Point fixed{right ? start.x : start.x + start.width, bottom ? start.y : start.y + start.height};
        Point dragged{(right ? start.x + start.width : start.x) + t.x() / sx,
                      (bottom ? start.y + start.height : start.y) + t.y() / sy};
        crop.resize(dragged, fixed, frame);
    }
    model_->setCrop(crop);
}

void EditorCropOverlay::mouseReleaseEvent(QMouseEvent*) {
    grip_.reset();
    dragStart_.reset();
}

}  // namespace yux

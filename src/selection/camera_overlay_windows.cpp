#include "selection/camera_overlay_windows.hpp"

#include <cmath>

#include <QPainter>
#include <QPainterPath>

#include "capture/camera_recording_renderer.hpp"
#include "platform/desktop/overlay_window.hpp"

#include "platform/desktop/view_style.hpp"

namespace yux {

namespace {

constexpr double kGuidesMargin = 8;
constexpr double kHandleDiameter = 10;

QColor pinBlue() { return QColor::fromRgbF(0.0f, 0.48f, 1.0f); }

QImage mirroredIf(const QImage& image, bool mirrored) {
    return mirrored ? image.mirrored(true, false) : image;
}

}  // namespace

QPainterPath cameraShapePath(CameraShape shape, const QRectF& frame, double roundedRadius) {
    QPainterPath path;
    switch (shape) {
        case CameraShape::circle: path.addEllipse(frame); break;
        case CameraShape::rounded: path.addRoundedRect(frame, roundedRadius, roundedRadius); break;
        case CameraShape::rectangle: path.addRect(frame); break;
    }
    return path;
}

CameraBubbleWindow::CameraBubbleWindow(CameraOverlayPresenter& presenter, OverlayPaintMode paintMode)
    : presenter_(presenter), paintMode_(paintMode) {
    platform::makeOverlayWindow(*this, platform::OverlayLevel::cameraImage, false);
    setAttribute(Qt::WA_TranslucentBackground);
    setMouseTracking(true);
}

void CameraBubbleWindow::setPaintMode(OverlayPaintMode mode) {
    paintMode_ = mode;
    applyMask();
    QWidget::update();
}

void CameraBubbleWindow::applyMask() {
    // The bubble's shape, as the recording cuts it (rounded corners of 16 points).
    const QPainterPath shape = cameraShapePath(placement_.shape, QRectF(0, 0, frame_.width, frame_.height), 16);
    maskOverlay(*this, paintMode_, QRegion(shape.toFillPolygon().toPolygon()));
}

void CameraBubbleWindow::place(const Rect& frame, const CameraPlacement& placement) {
    // Unchanged: nothing goes to the X server (the poll places the bubble three times a second).
    if (frame == frame_ && placement == placement_) return;
    frame_ = frame;
    placement_ = placement;
    setGeometry(toQRect(frame).toAlignedRect());
    applyMask();
    QWidget::update();
}

QRectF CameraBubbleWindow::pictureFrame() const {
    // The picture's own proportions decide its crop when it is drawn; before the first one,
    // the camera's.
    const QImage picture = presenter_.picture();
    const double aspect =
        picture.isNull() ? presenter_.sourceAspect() : static_cast<double>(picture.width()) / picture.height();
    QRectF frame = CameraRecordingRenderer::pictureFrame(placement_, Rect{0, 0, frame_.width, frame_.height},
                                                         QRectF(0, 0, frame_.width, frame_.height), aspect);
    // Drawn flipped about the bubble.
    if (placement_.isMirrored() && !frame.isNull()) frame.moveLeft(frame_.width - frame.right());
    return frame;
}

void CameraBubbleWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    clearOverlay(painter, rect(), paintMode_);
    const QImage picture = presenter_.picture();
    const QRectF destination(0, 0, frame_.width, frame_.height);
    CameraRecordingRenderer::paintBubble(painter, picture, placement_, Rect{0, 0, frame_.width, frame_.height},
                                         destination);
}

CameraGhostWindow::CameraGhostWindow(CameraOverlayPresenter& presenter, OverlayPaintMode paintMode)
    : presenter_(presenter), paintMode_(paintMode) {
    platform::makeOverlayWindow(*this, platform::OverlayLevel::cameraGhost, true);
    setAttribute(Qt::WA_TranslucentBackground);
}

void CameraGhostWindow::setPaintMode(OverlayPaintMode mode) {
    paintMode_ = mode;
    if (mode == OverlayPaintMode::translucent) background_ = QImage();
    QWidget::update();
}

void CameraGhostWindow::place(const QRectF& frame, bool mirrored) {
    if (geometry() == frame.toAlignedRect() && mirrored == mirrored_) return;
    mirrored_ = mirrored;
    setGeometry(frame.toAlignedRect());
    QWidget::update();
}

void CameraGhostWindow::setBackground(QImage background, QPointF origin) {
    background_ = std::move(background);
    backgroundOrigin_ = origin;
    QWidget::update();
}

void CameraGhostWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    clearOverlay(painter, rect(), paintMode_);
    // The still desktop stays where it was taken while the ghost pans over it.
    if (paintMode_ == OverlayPaintMode::opaque && !background_.isNull())
        painter.drawImage(backgroundOrigin_ - QPointF(pos()), background_);
    const QImage picture = presenter_.picture();
    if (!picture.isNull()) {
        painter.setOpacity(0.5);
        painter.drawImage(QRectF(rect()), mirroredIf(picture, mirrored_));
        painter.setOpacity(1);
    }
    painter.setPen(QPen(OverlayColours::white(0.85), 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
}

CameraGuidesWindow::CameraGuidesWindow(OverlayPaintMode paintMode) : paintMode_(paintMode) {
    platform::makeOverlayWindow(*this, platform::OverlayLevel::cameraGuides, true);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
}

void CameraGuidesWindow::setState(const CameraGuidesState& state) {
    if (state == state_ && !mask().isEmpty()) return;
    state_ = state;
    applyMask();
    QWidget::update();
}

void CameraGuidesWindow::setPaintMode(OverlayPaintMode mode) {
    paintMode_ = mode;
    applyMask();
    QWidget::update();
}

void CameraGuidesWindow::applyMask() {
    // Only the strokes show: paint them once into a mask.
    QRegion painted;
    if (paintMode_ == OverlayPaintMode::opaque)
        painted = paintedRegion(size(), [this](QPainter& painter) { paintCameraGuides(painter, state_); });
    maskOverlay(*this, paintMode_, painted);
}

void CameraGuidesWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Masked to the strokes without translucency, so the black never shows.
    clearOverlay(painter, rect(), paintMode_);
    paintCameraGuides(painter, state_);
}

void paintCameraGuides(QPainter& painter, const CameraGuidesState& s) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const QColor yellow = QColor::fromRgbF(1.0f, 0.8f, 0.0f);
    if (s.guideX) {
        painter.setPen(QPen(yellow, 1));
        painter.drawLine(QPointF(*s.guideX, s.area.minY()), QPointF(*s.guideX, s.area.maxY()));
    }
    if (s.guideY) {
        painter.setPen(QPen(yellow, 1));
        painter.drawLine(QPointF(s.area.minX(), *s.guideY), QPointF(s.area.maxX(), *s.guideY));
    }
    const QRectF f = toQRect(s.frame);
    if (s.handles || s.cropping) {
        // The outline follows the recorded shape (rounded corners of 16 points).
        const QPainterPath outline = cameraShapePath(s.placement.shape, f, 16);
        painter.strokePath(outline,
                           s.cropping ? QPen(OverlayColours::accent(), 2) : QPen(OverlayColours::white(0.9), 1.5));
    }
    if (s.handles) {
        painter.setBrush(Qt::white);
        painter.setPen(QPen(OverlayColours::black(0.35), 1));
        for (const QPointF& corner : {f.topLeft(), f.bottomLeft(), f.topRight(), f.bottomRight()})
            painter.drawEllipse(corner, kHandleDiameter / 2, kHandleDiameter / 2);
        painter.setBrush(Qt::NoBrush);
    }
    if (s.pins) {
        QPen dashed(pinBlue(), 1);
        dashed.setDashPattern({4, 3});
        painter.setFont(platform::pixelFont(10));
        const auto label = [&](double distance, QPointF centre) {
            const QString text = QStringLiteral("%1 pt").arg(static_cast<long long>(std::lround(distance)));
            painter.setPen(pinBlue());
            painter.drawText(QRectF(centre.x() - 40, centre.y() - 8, 80, 16), Qt::AlignCenter, text);
        };
        const auto horizontal = s.placement.horizontal;
        if (horizontal != CameraPlacement::Anchor::centre) {
            const double x1 = horizontal == CameraPlacement::Anchor::start ? s.area.minX() : f.right();
            const double x2 = horizontal == CameraPlacement::Anchor::start ? f.left() : s.area.maxX();
            painter.setPen(dashed);
            painter.drawLine(QPointF(x1, f.center().y()), QPointF(x2, f.center().y()));
            label(std::fabs(x2 - x1), QPointF((x1 + x2) / 2, f.center().y() - 10));
        }
        const auto vertical = s.placement.vertical;
        if (vertical != CameraPlacement::Anchor::centre) {
            const double y1 = vertical == CameraPlacement::Anchor::start ? s.area.minY() : f.bottom();
            const double y2 = vertical == CameraPlacement::Anchor::start ? f.top() : s.area.maxY();
            painter.setPen(dashed);
            painter.drawLine(QPointF(f.center().x(), y1), QPointF(f.center().x(), y2));
            label(std::fabs(y2 - y1), QPointF(f.center().x() + 20, (y1 + y2) / 2));
        }
    }
    painter.restore();
}

}  // namespace yux

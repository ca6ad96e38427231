#include "selection/camera_tools.hpp"

#include <cmath>

#include <QHBoxLayout>
#include <QPainter>

#include "platform/desktop/overlay_window.hpp"
#include "platform/desktop/tabular_digits_label.hpp"
#include "platform/desktop/view_style.hpp"
#include "selection/camera_overlay_windows.hpp"

namespace yux {

namespace {

// The slider works in hundredths of a zoom step.
constexpr int kZoomSteps = 100;

// The zoom symbol and value step back behind the controls beside them.
QColor secondaryInk() { return QColor(255, 255, 255, 160); }

// Tool icons drawn as paths, so no icon theme is needed.
QIcon drawnIcon(const std::function<void(QPainter&)>& draw, const QColor& ink = Qt::white) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    draw(painter);
    // Inked afterwards as a whole, so strokes that cross are no stronger than one.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), ink);
    painter.end();
    return QIcon(pixmap);
}

QToolButton* toolButton(QWidget* parent, const QString& tip, const QIcon& icon, QSize size) {
    auto* button = new QToolButton(parent);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setIcon(icon);
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(size);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QString buttonStyle(bool on, const QColor& onColour) {
    return QStringLiteral("QToolButton { border: none; border-radius: 5px; color: white; background: %1; }")
        .arg(on ? onColour.name(QColor::HexArgb) : QStringLiteral("transparent"));
}

}  // namespace

CameraTools::CameraTools(Callbacks callbacks, OverlayPaintMode paintMode)
    : callbacks_(std::move(callbacks)), paintMode_(paintMode) {
    // It takes the keyboard when a press selects the bubble; its buttons never take focus.
    platform::makeOverlayWindow(*this, platform::OverlayLevel::cameraTools, false, true);
    setAttribute(Qt::WA_TranslucentBackground);
    setFont(platform::pixelFont(12, QFont::Medium));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 0, 8, 0);
    row->setSpacing(8);

    auto* shapeGroup = new QWidget(this);
    auto* shapeRow = new QHBoxLayout(shapeGroup);
    shapeRow->setContentsMargins(2, 2, 2, 2);
    shapeRow->setSpacing(2);
    shapeGroup->setStyleSheet(QStringLiteral("background: rgba(255,255,255,18); border-radius: 7px;"));
    const std::pair<CameraShape, QString> shapes[] = {
        {CameraShape::circle, "Circle"}, {CameraShape::rounded, "Rounded"}, {CameraShape::rectangle, "Rectangle"}};
    for (int i = 0; i < 3; ++i) {
        const CameraShape shape = shapes[i].first;
        const QIcon icon = drawnIcon([shape](QPainter& p) {
            p.drawPath(cameraShapePath(shape, shape == CameraShape::circle ? QRectF(7, 7, 18, 18) : QRectF(4, 8, 24, 16),
                                       6));
        });
        shapes_[i] = toolButton(shapeGroup, shapes[i].second, icon, QSize(26, 22));
        shapeRow->addWidget(shapes_[i]);
        connect(shapes_[i], &QToolButton::clicked, this, [this, shape] {
            CameraPlacement next = callbacks_.placement();
            next.shape = shape;
            next.aspect = 16.0 / 9.0;
            callbacks_.change(next);
        });
    }
    // At its own height, its background clear of the strip's edges.
    row->addWidget(shapeGroup, 0, Qt::AlignVCenter);

    const auto separator = [this, row] {
        auto* line = new QWidget(this);
        line->setFixedSize(1, 18);
        line->setStyleSheet(QStringLiteral("background: rgba(255,255,255,38);"));
        row->addWidget(line);
    };
    separator();

    // The zoom group: symbol, slider and value, closer together than the strip's groups; its
    // help shows over each of them.
    auto* zoomGroup = new QWidget(this);
    auto* zoomRow = new QHBoxLayout(zoomGroup);
    zoomRow->setContentsMargins(0, 0, 0, 0);
    zoomRow->setSpacing(6);
    zoomGroup->setToolTip(QStringLiteral("Zoom \u00b7 scroll or pinch over the camera"));
    zoomIcon_ = new QLabel(zoomGroup);
    zoomIcon_->setPixmap(drawnIcon(
                             [](QPainter& p) {
                                 p.drawEllipse(QRectF(5, 5, 16, 16));
                                 p.drawLine(QPointF(19, 19), QPointF(27, 27));
                                 p.drawLine(QPointF(9, 13), QPointF(17, 13));
                                 p.drawLine(QPointF(13, 9), QPointF(13, 17));
                             },
                             secondaryInk())
                             .pixmap(14, 14));
    zoomRow->addWidget(zoomIcon_);
    zoom_ = new QSlider(Qt::Horizontal, zoomGroup);
    zoom_->setRange(kZoomSteps, 4 * kZoomSteps);
    zoom_->setFixedWidth(72);
    zoom_->setAccessibleName(QStringLiteral("Zoom"));
    zoom_->setFocusPolicy(Qt::NoFocus);
    zoomRow->addWidget(zoom_);
    connect(zoom_, &QSlider::valueChanged, this, [this](int value) {
        if (refreshing_) return;
        CameraPlacement next = callbacks_.placement();
        next.zoom = static_cast<double>(value) / kZoomSteps;
        callbacks_.change(next);
    });
    // Its digits keep their places while the slider moves.
    zoomText_ = new platform::TabularDigitsLabel(zoomGroup);
    zoomText_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    zoomText_->setFixedWidth(30);
    zoomText_->setStyleSheet(QStringLiteral("color: %1;").arg(secondaryInk().name(QColor::HexArgb)));
    zoomRow->addWidget(zoomText_);
    row->addWidget(zoomGroup, 0, Qt::AlignVCenter);
    separator();

    mirror_ = toolButton(this, QStringLiteral("Mirror camera horizontally"), drawnIcon([](QPainter& p) {
                             p.drawLine(QPointF(16, 4), QPointF(16, 28));
                             QPolygonF left{{13, 8}, {3, 24}, {13, 24}};
                             QPolygonF right{{19, 8}, {29, 24}, {19, 24}};
                             p.drawPolygon(left);
                             p.drawPolygon(right);
                         }),
                         QSize(26, 24));
    mirror_->setAccessibleName(QStringLiteral("Mirror camera"));
    row->addWidget(mirror_);
    connect(mirror_, &QToolButton::clicked, this, [this] {
        CameraPlacement next = callbacks_.placement();
        next.mirrored = !next.isMirrored();
        callbacks_.change(next);
    });

    crop_ = new QToolButton(this);
    crop_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    crop_->setIconSize(QSize(12, 12));
    crop_->setFixedHeight(24);
    crop_->setFocusPolicy(Qt::NoFocus);
    row->addWidget(crop_);
    connect(crop_, &QToolButton::clicked, this, [this] { callbacks_.toggleCrop(); });

    reset_ = toolButton(this, QStringLiteral("Reset camera size, shape, framing and mirror"), drawnIcon([](QPainter& p) {
                            p.drawArc(QRectF(6, 6, 20, 20), 90 * 16, 270 * 16);
                            p.drawLine(QPointF(16, 6), QPointF(12, 2));
                            p.drawLine(QPointF(16, 6), QPointF(12, 10));
                        }),
                        QSize(24, 24));
    reset_->setAccessibleName(QStringLiteral("Reset"));
    // A plain button as the strip's others: its symbol alone, no panel under the pointer or while pressed.
    reset_->setStyleSheet(buttonStyle(false, {}));
    row->addWidget(reset_);
    connect(reset_, &QToolButton::clicked, this, [this] { callbacks_.change(CameraPlacement{}); });
    setFixedHeight(36);
    refresh(false);
}

QToolButton* CameraTools::shapeButton(CameraShape shape) const { return shapes_[static_cast<int>(shape)]; }

void CameraTools::refresh(bool cropping) {
    const CameraPlacement& p = callbacks_.placement();
    if (shown_ && shown_->first == p && shown_->second == cropping) return;
    shown_ = std::make_pair(p, cropping);
    refreshing_ = true;
    for (int i = 0; i < 3; ++i)
        shapes_[i]->setStyleSheet(buttonStyle(static_cast<int>(p.shape) == i, OverlayColours::white(0.22)));
    zoom_->setValue(static_cast<int>(std::lround(p.zoom * kZoomSteps)));
    zoomText_->setText(QString::asprintf("%.1f\u00d7", p.zoom));
    mirror_->setStyleSheet(buttonStyle(p.isMirrored(), OverlayColours::white(0.22)));
    mirror_->setAccessibleDescription(p.isMirrored() ? QStringLiteral("On") : QStringLiteral("Off"));
    crop_->setText(cropping ? QStringLiteral("Done") : QStringLiteral("Crop"));
    crop_->setIcon(cropping ? drawnIcon([](QPainter& p) { p.drawPolyline(QPolygonF{{5, 17}, {13, 25}, {27, 8}}); })
                            : drawnIcon([](QPainter& p) {
                                  // Two corners that overlap: the crop marks.
                                  p.drawPolyline(QPolygonF{{9, 2}, {9, 23}, {30, 23}});
                                  p.drawPolyline(QPolygonF{{2, 9}, {23, 9}, {23, 30}});
                              }));
    crop_->setAccessibleName(crop_->text());
    crop_->setToolTip(cropping ? QStringLiteral("Finish framing (\u21a9)")
                               : QStringLiteral("Show the full camera and drag to frame (double-click)"));
    crop_->setStyleSheet(QStringLiteral("QToolButton { border: none; border-radius: 6px; color: white; padding: 0 8px; "
                                        "background: %1; }")
                             .arg(cropping ? OverlayColours::accent().name() : OverlayColours::white(0.1).name(QColor::HexArgb)));
    adjustSize();
    applyMask();
    refreshing_ = false;
}

void CameraTools::setPaintMode(OverlayPaintMode mode) {
    paintMode_ = mode;
    applyMask();
    update();
}

void CameraTools::applyMask() {
    maskOverlay(*this, paintMode_, QRegion(continuousRoundedRect(QRectF(rect()), 10).toFillPolygon().toPolygon()));
}

void CameraTools::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    clearOverlay(painter, rect(), paintMode_);
    const QPainterPath shape = continuousRoundedRect(QRectF(rect()), 10);
    painter.fillPath(shape, OverlayColours::rgb(0.11, 0.11, 0.125, 0.82));
    painter.strokePath(continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 9.5),
                       QPen(OverlayColours::white(0.14), 1));
}

}  // namespace yux

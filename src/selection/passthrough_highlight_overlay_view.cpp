#include "selection/passthrough_highlight_overlay_view.hpp"

#include <QBitmap>
#include <QPainter>

namespace yux {

PassthroughHighlightOverlayView::PassthroughHighlightOverlayView(SelectionOverlayViewModel* model,
                                                                 PassthroughHighlightOverlayMode mode,
                                                                 OverlayPaintMode paintMode, QWidget* parent)
    : QWidget(parent), model_(model), mode_(mode), paintMode_(paintMode) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    if (paintMode_ == OverlayPaintMode::translucent) setAttribute(Qt::WA_TranslucentBackground);
    if (model_) {
        const Rect frame = model_->displayFrame();
        resize(static_cast<int>(frame.width), static_cast<int>(frame.height));
        connect(model_, &SelectionOverlayViewModel::changed, this, [this] {
            updateMask();
            update();
        });
    }
    updateMask();
}

void PassthroughHighlightOverlayView::setMode(PassthroughHighlightOverlayMode mode) {
    mode_ = mode;
    update();
}

std::vector<CaptureTargetOutline> PassthroughHighlightOverlayView::outlines() const {
    std::vector<CaptureTargetOutline> result;
    if (!model_) return result;
    const double opacity = mode_ == PassthroughHighlightOverlayMode::recording ? 1.0 : 0.55;
    QColor colour = OverlayColours::stop();
    colour.setAlphaF(static_cast<float>(opacity));
    for (const Rect& rect : model_->captureRects())
        result.push_back({rect, model_->displayFrame(), colour, false, false, model_->mode() == CaptureMode::app});
    return result;
}

void PassthroughHighlightOverlayView::updateMask() {
    if (paintMode_ != OverlayPaintMode::opaque) return;
    // Without translucency only what the outline paints is part of the window; the live desktop
    // stays visible everywhere else.
    QImage painted(size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    {
        QPainter painter(&painted);
        for (const auto& outline : outlines()) paintTargetOutline(painter, outline);
    }
    const QBitmap mask = QBitmap::fromImage(painted.createAlphaMask());
    const QRegion region(mask);
    setMask(region.isEmpty() ? QRegion(0, 0, 1, 1) : region);
}

void PassthroughHighlightOverlayView::paintEvent(QPaintEvent*) {
    if (!model_) return;
    QPainter painter(this);
    clearOverlay(painter, rect(), paintMode_);
    if (paintMode_ == OverlayPaintMode::translucent)
        paintOutsideDim(painter, model_->captureRects(), model_->displayFrame(), 0.22);
    for (const auto& outline : outlines()) paintTargetOutline(painter, outline);
}

}  // namespace yux

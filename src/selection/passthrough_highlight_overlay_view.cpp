#include "selection/passthrough_highlight_overlay_view.hpp"

#include <QPainter>

namespace yux {

PassthroughHighlightOverlayView::PassthroughHighlightOverlayView(SelectionOverlayViewModel* model,
                                                                 PassthroughHighlightOverlayMode mode,
                                                                 OverlayPaintMode paintMode, QWidget* parent)
    : QWidget(parent), model_(model), mode_(mode), paintMode_(paintMode) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
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

void PassthroughHighlightOverlayView::setPaintMode(OverlayPaintMode mode) {
    paintMode_ = mode;
    updateMask();
    update();
}

void PassthroughHighlightOverlayView::updateMask() {
    QRegion painted;
    if (paintMode_ == OverlayPaintMode::opaque) {
        painted = paintedRegion(size(), [this](QPainter& painter) {
            for (const auto& outline : outlines()) paintTargetOutline(painter, outline);
        });
    }
    maskOverlay(*this, paintMode_, painted);
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

#include "capture/camera_preview_layer.hpp"

#include <QImage>
#include <QPainter>

namespace yux {

void CameraPreviewLayer::setPicture(platform::PixelBuffer picture) {
    picture_ = std::move(picture);
    if (onChange) onChange();
}

void CameraPreviewLayer::clear() {
    picture_.reset();
    if (onChange) onChange();
}

void CameraPreviewLayer::paint(QPainter& painter, const QRectF& target) const {
    if (!picture_ || !picture_->isValid()) return;
    // Camera pictures are opaque; BGRA in memory is Qt's 32-bit RGB on little-endian machines.
    QImage image(picture_->data(), picture_->width(), picture_->height(), static_cast<qsizetype>(picture_->stride()),
                 QImage::Format_RGB32);
    painter.drawImage(target, image);
}

}  // namespace yux

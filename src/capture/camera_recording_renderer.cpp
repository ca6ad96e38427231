#include "capture/camera_recording_renderer.hpp"

#include <QBrush>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "model/app_error.hpp"

namespace yux {

namespace {

// Corner radius of the rounded bubble, in points like the on-screen bubble.
constexpr double kRoundedCornerPoints = 16;

// The exporter blends colour × alpha, so the track carries straight colour. Only the bubble's
// antialiased rim is partly transparent; everything else is either opaque or all zero.
void unpremultiply(const platform::PixelBuffer& canvas, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        std::uint8_t* pixel = canvas.row(y) + static_cast<std::size_t>(area.left()) * 4;
        for (int x = area.left(); x <= area.right(); ++x, pixel += 4) {
            unsigned alpha = pixel[3];
            if (alpha == 0 || alpha == 255) continue;
            for (int c = 0; c < 3; ++c) {
                pixel[c] = static_cast<std::uint8_t>(std::min(255u, (pixel[c] * 255u + alpha / 2) / alpha));
            }
        }
    }
}

}  // namespace

CameraRecordingRenderer::CameraRecordingRenderer(CameraPlacement placement_, Size size, Size points)
    : placement(std::move(placement_)), size_(size), points_(points) {}

platform::SampleBuffer CameraRecordingRenderer::render(const platform::SampleBuffer& sample) const {
    const auto* picture = sample.picture();
    if (picture == nullptr || !picture->isValid()) throw AppError::cameraFailed("Missing camera image");
    const double imageWidth = picture->width();
    const double imageHeight = picture->height();

    Rect bubble = geometry_.frame(placement, Rect{0, 0, points_.width, points_.height});
    Rect crop = geometry_.crop(placement, bubble, imageWidth / imageHeight);
    QRectF source(crop.minX() * imageWidth, crop.minY() * imageHeight, crop.width * imageWidth,
                  crop.height * imageHeight);
    if (!(source.width() > 0 && source.height() > 0)) throw AppError::cameraFailed("Cannot render camera");

    const int width = static_cast<int>(std::lround(size_.width));
    const int height = static_cast<int>(std::lround(size_.height));
    platform::PixelBuffer canvas;
    try {
        canvas = platform::PixelBuffer::create(width, height);
    } catch (const std::exception&) {
        throw AppError::cameraFailed("Cannot allocate camera frame");
    }
    std::memset(canvas.data(), 0, canvas.stride() * static_cast<std::size_t>(height));
    // BGRA in memory is Qt's 32-bit ARGB on little-endian machines.
    QImage target(canvas.data(), width, height, static_cast<qsizetype>(canvas.stride()),
                  QImage::Format_ARGB32_Premultiplied);
    if (target.isNull()) throw AppError::cameraFailed("Cannot create camera canvas");
    QImage camera(picture->data(), picture->width(), picture->height(), static_cast<qsizetype>(picture->stride()),
                  QImage::Format_RGB32);

    const double sx = size_.width / points_.width;
    const double sy = size_.height / points_.height;
    QRectF destination(sx * bubble.minX(), sy * bubble.minY(), sx * bubble.width, sy * bubble.height);
    if (destination.isEmpty()) throw AppError::cameraFailed("Cannot render camera");

    QPainterPath shape;
    switch (placement.shape) {
        case CameraShape::circle: shape.addEllipse(destination); break;
        case CameraShape::rounded:
            shape.addRoundedRect(destination, sx * kRoundedCornerPoints, sy * kRoundedCornerPoints);
            break;
        case CameraShape::rectangle: shape.addRect(destination); break;
    }

    {
        QPainter painter(&target);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setPen(Qt::NoPen);
        if (placement.isMirrored()) {
            painter.translate(2 * destination.center().x(), 0);
            painter.scale(-1, 1);
        }
        // A clip path would cut the rim without antialiasing, so the shape is filled with the
        // picture as its brush, mapped from the crop onto the bubble.
        QBrush brush(camera);
        QTransform mapping;
        mapping.translate(destination.x(), destination.y());
        mapping.scale(destination.width() / source.width(), destination.height() / source.height());
        mapping.translate(-source.x(), -source.y());
        brush.setTransform(mapping);
        painter.fillPath(shape, brush);
    }

    QRect touched = destination.toAlignedRect().adjusted(-1, -1, 1, 1).intersected(QRect(0, 0, width, height));
    if (!touched.isEmpty()) unpremultiply(canvas, touched);

    platform::SampleBuffer rendered;
    rendered.presentationTime = sample.presentationTime;
    rendered.duration = sample.duration;
    rendered.payload = std::move(canvas);
    return rendered;
}

}  // namespace yux

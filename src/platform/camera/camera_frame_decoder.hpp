#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/media/pixel_buffer.hpp"

namespace yux::platform {

// Turns one camera buffer (motion JPEG or packed YUYV) into a BGRA picture. Keeps its decoder
// and scaler between pictures; one per stream, used from one thread.
class CameraFrameDecoder {
public:
    CameraFrameDecoder();
    ~CameraFrameDecoder();
    CameraFrameDecoder(const CameraFrameDecoder&) = delete;
    CameraFrameDecoder& operator=(const CameraFrameDecoder&) = delete;

    // An invalid picture when the data is not one whole picture of that format and size.
    PixelBuffer decode(std::uint32_t pixelFormat, int width, int height, int rowBytes, const std::uint8_t* data,
                       std::size_t length);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace yux::platform

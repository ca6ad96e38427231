#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace yux::platform {

// A BGRA picture (8 bits per channel, byte order B, G, R, A) with its row stride in bytes.
// Copies share the same pixels; use clone() for a picture of one's own.
class PixelBuffer {
public:
    PixelBuffer() = default;
    // Rows are padded to 64 bytes so SIMD converters can read whole rows.
    static PixelBuffer create(int width, int height);
    // Wraps memory owned elsewhere; `release` runs when the last copy goes.
    static PixelBuffer wrap(std::uint8_t* data, int width, int height, std::size_t stride,
                            std::function<void()> release);

    bool isValid() const { return data_ != nullptr && width_ > 0 && height_ > 0; }
    int width() const { return width_; }
    int height() const { return height_; }
    std::size_t stride() const { return stride_; }
    std::uint8_t* data() const { return data_.get(); }
    std::uint8_t* row(int y) const { return data_.get() + static_cast<std::size_t>(y) * stride_; }

    PixelBuffer clone() const;
    // Sets every pixel to one BGRA value.
    void fill(std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) const;

private:
    std::shared_ptr<std::uint8_t> data_;
    int width_ = 0;
    int height_ = 0;
    std::size_t stride_ = 0;
};

}  // namespace yux::platform

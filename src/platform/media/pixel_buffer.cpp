#include "platform/media/pixel_buffer.hpp"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace yux::platform {

namespace {
constexpr std::size_t kRowAlignment = 64;
constexpr int kMaximumSide = 16384;
}  // namespace

PixelBuffer PixelBuffer::create(int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaximumSide || height > kMaximumSide) {
        throw std::invalid_argument("Invalid picture size");
    }
    PixelBuffer buffer;
    buffer.width_ = width;
    buffer.height_ = height;
    buffer.stride_ = (static_cast<std::size_t>(width) * 4 + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    void* memory = std::aligned_alloc(kRowAlignment, buffer.stride_ * static_cast<std::size_t>(height));
    if (memory == nullptr) throw std::bad_alloc();
    buffer.data_ = std::shared_ptr<std::uint8_t>(static_cast<std::uint8_t*>(memory), [](std::uint8_t* p) { std::free(p); });
    return buffer;
}

PixelBuffer PixelBuffer::wrap(std::uint8_t* data, int width, int height, std::size_t stride,
                              std::function<void()> release) {
    PixelBuffer buffer;
    buffer.width_ = width;
    buffer.height_ = height;
    buffer.stride_ = stride;
    buffer.data_ = std::shared_ptr<std::uint8_t>(data, [release = std::move(release)](std::uint8_t*) {
        if (release) release();
    });
    return buffer;
}

PixelBuffer PixelBuffer::clone() const {
    if (!isValid()) return {};
    auto copy = create(width_, height_);
    for (int y = 0; y < height_; ++y) std::memcpy(copy.row(y), row(y), static_cast<std::size_t>(width_) * 4);
    return copy;
}

void PixelBuffer::fill(std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) const {
    for (int y = 0; y < height_; ++y) {
        auto* p = row(y);
        for (int x = 0; x < width_; ++x, p += 4) {
            p[0] = b;
            p[1] = g;
            p[2] = r;
            p[3] = a;
        }
    }
}

}  // namespace yux::platform

#include "platform/media/bgra_to_yuv.hpp"

namespace yux::platform {

namespace {

// BT.601 limited-range coefficients scaled by 256.
inline std::uint8_t luma(int b, int g, int r) { return static_cast<std::uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16); }

}  // namespace

// Plain loops written so the compiler vectorises them (this file is built with -O3).
void convertBgraToYuv420(const PixelBuffer& picture, const YuvPlanes& planes) {
    const int width = picture.width();
    const int height = picture.height();
    for (int y = 0; y + 1 < height; y += 2) {
        const std::uint8_t* top = picture.row(y);
        const std::uint8_t* bottom = picture.row(y + 1);
        std::uint8_t* lumaTop = planes.y + y * planes.yStride;
        std::uint8_t* lumaBottom = lumaTop + planes.yStride;
        std::uint8_t* u = planes.u + (y / 2) * planes.uStride;
        std::uint8_t* v = planes.v + (y / 2) * planes.vStride;
        for (int x = 0; x < width; ++x) {
            lumaTop[x] = luma(top[4 * x], top[4 * x + 1], top[4 * x + 2]);
            lumaBottom[x] = luma(bottom[4 * x], bottom[4 * x + 1], bottom[4 * x + 2]);
        }
        for (int x = 0; x < width / 2; ++x) {
            const int b = top[8 * x] + top[8 * x + 4] + bottom[8 * x] + bottom[8 * x + 4];
            const int g = top[8 * x + 1] + top[8 * x + 5] + bottom[8 * x + 1] + bottom[8 * x + 5];
            const int r = top[8 * x + 2] + top[8 * x + 6] + bottom[8 * x + 2] + bottom[8 * x + 6];
            u[x] = static_cast<std::uint8_t>(((-38 * r - 74 * g + 112 * b + 512) >> 10) + 128);
            v[x] = static_cast<std::uint8_t>(((112 * r - 94 * g - 18 * b + 512) >> 10) + 128);
        }
    }
}

void extractAlpha(const PixelBuffer& picture, std::uint8_t* plane, std::ptrdiff_t stride) {
    const int width = picture.width();
    for (int y = 0; y < picture.height(); ++y) {
        const std::uint8_t* pixel = picture.row(y);
        std::uint8_t* alpha = plane + y * stride;
        for (int x = 0; x < width; ++x) alpha[x] = pixel[4 * x + 3];
    }
}

}  // namespace yux::platform

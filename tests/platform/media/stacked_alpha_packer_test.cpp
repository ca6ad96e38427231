#include "platform/media/stacked_alpha_packer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using namespace yux::platform;

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;

// A doubled-height 4:2:0 picture with rows a little wider than the picture, as encoders pad them.
struct StackedPlanes {
    int yStride = kWidth + 32;
    int cStride = kWidth / 2 + 16;
    std::vector<std::uint8_t> y = std::vector<std::uint8_t>(static_cast<std::size_t>(yStride) * kHeight * 2, 0xAA);
    std::vector<std::uint8_t> u = std::vector<std::uint8_t>(static_cast<std::size_t>(cStride) * kHeight, 0xAA);
    std::vector<std::uint8_t> v = std::vector<std::uint8_t>(static_cast<std::size_t>(cStride) * kHeight, 0xAA);
    YuvPlanes planes() { return {y.data(), u.data(), v.data(), yStride, cStride, cStride}; }

    // Only the picture's own columns count; the padding is the encoder's.
    bool operator==(const StackedPlanes& other) const {
        auto same = [](const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, int stride, int width) {
            for (std::size_t row = 0; row < a.size() / stride; ++row) {
                if (std::memcmp(a.data() + row * stride, b.data() + row * stride, width) != 0) return false;
            }
            return true;
        };
        return same(y, other.y, yStride, kWidth) && same(u, other.u, cStride, kWidth / 2) &&
               same(v, other.v, cStride, kWidth / 2);
    }
};

// What every camera frame used to become: the whole picture converted, its alpha below, neutral chroma.
StackedPlanes fullConversion(const PixelBuffer& picture) {
    StackedPlanes result;
    auto planes = result.planes();
    convertBgraToYuv420(picture, planes);
    extractAlpha(picture, planes.y + static_cast<std::ptrdiff_t>(kHeight) * planes.yStride, planes.yStride);
    for (int y = kHeight / 2; y < kHeight; ++y) {
        std::memset(planes.u + y * planes.uStride, 128, kWidth / 2);
        std::memset(planes.v + y * planes.vStride, 128, kWidth / 2);
    }
    return result;
}

// Transparent black with a coloured disc (soft edge, odd centre) where a camera bubble would be.
PixelBuffer bubbleAt(int centerX, int centerY, int radius, std::uint8_t shade) {
    auto picture = PixelBuffer::create(kWidth, kHeight);
    picture.fill(0, 0, 0, 0);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double distance = std::hypot(x - centerX, y - centerY);
            if (distance > radius) continue;
            auto* p = picture.row(y) + 4 * x;
            p[0] = static_cast<std::uint8_t>(shade + x);
            p[1] = static_cast<std::uint8_t>(3 * y);
            p[2] = shade;
            p[3] = distance > radius - 1 ? 90 : 255;
        }
    }
    return picture;
}

}  // namespace

// The packer converts only what is visible and leaves the rest alone; whatever the bubble did
// before, the result must be the full conversion of the current picture.
TEST(StackedAlphaPacker, EveryPictureEqualsTheFullConversionAsTheBubbleMoves) {
    StackedAlphaPacker packer;
    StackedPlanes packed;
    const std::vector<PixelBuffer> pictures = {
        bubbleAt(40, 30, 12, 200),  // first picture: the planes hold garbage
        bubbleAt(40, 30, 12, 60),   // same place, new picture
        bubbleAt(71, 45, 9, 120),   // moved right and down
        bubbleAt(0, 0, 5, 30),      // into the corner, cut by the edges
        bubbleAt(95, 63, 5, 30),    // the opposite corner, odd edge columns
        bubbleAt(48, 32, 200, 10),  // covering everything
        bubbleAt(-100, -100, 1, 0), // nothing visible at all
        bubbleAt(20, 10, 6, 250),
    };
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        packer.pack(pictures[i], packed.planes(), i == 0);
        EXPECT_TRUE(packed == fullConversion(pictures[i])) << "picture " << i;
    }
    // A buffer the packer has not written before is written whole.
    StackedPlanes other;
    packer.pack(pictures[2], other.planes(), true);
    EXPECT_TRUE(other == fullConversion(pictures[2]));
}

#include "platform/media/bgra_to_yuv.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/media/ffmpeg_support.hpp"

using namespace yux::platform;

namespace {

// Every colour channel sweeps smoothly in its own direction, so a swapped channel or a wrong
// row shows.
PixelBuffer sweep(int width, int height) {
    auto picture = PixelBuffer::create(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            auto* p = picture.row(y) + 4 * x;
            p[0] = static_cast<std::uint8_t>(x * 255 / (width - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / (height - 1));
            p[2] = static_cast<std::uint8_t>((x + 2 * y) * 255 / (width + 2 * height));
            p[3] = static_cast<std::uint8_t>((x + y) % 256);
        }
    }
    return picture;
}

int largestDifference(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride, int width, int height) {
    int largest = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) largest = std::max(largest, std::abs(a[y * aStride + x] - b[y * bStride + x]));
    }
    return largest;
}

}  // namespace

TEST(BgraToYuv, MatchesTheGeneralScalersBt601Conversion) {
    constexpr int kWidth = 96;
    constexpr int kHeight = 64;
    const auto picture = sweep(kWidth, kHeight);
    std::vector<std::uint8_t> y(kWidth * kHeight), u(kWidth * kHeight / 4), v(kWidth * kHeight / 4);
    convertBgraToYuv420(picture, {y.data(), u.data(), v.data(), kWidth, kWidth / 2, kWidth / 2});

    auto reference = ffmpeg::makeFrame();
    reference->format = AV_PIX_FMT_YUV420P;
    reference->width = kWidth;
    reference->height = kHeight;
    ASSERT_GE(av_frame_get_buffer(reference.get(), 0), 0);
    ffmpeg::ScaleContext scaler(sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGRA, kWidth, kHeight, AV_PIX_FMT_YUV420P,
                                               SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    const std::uint8_t* planes[4] = {picture.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(picture.stride()), 0, 0, 0};
    sws_scale(scaler.get(), planes, strides, 0, kHeight, reference->data, reference->linesize);

    EXPECT_LE(largestDifference(y.data(), kWidth, reference->data[0], reference->linesize[0], kWidth, kHeight), 1);
    EXPECT_LE(largestDifference(u.data(), kWidth / 2, reference->data[1], reference->linesize[1], kWidth / 2, kHeight / 2), 3);
    EXPECT_LE(largestDifference(v.data(), kWidth / 2, reference->data[2], reference->linesize[2], kWidth / 2, kHeight / 2), 3);
}

TEST(BgraToYuv, ExtractsTheAlphaRows) {
    const auto picture = sweep(10, 4);
    std::vector<std::uint8_t> alpha(16 * 4, 0xEE);
    extractAlpha(picture, alpha.data(), 16);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 10; ++x) EXPECT_EQ(alpha[y * 16 + x], (x + y) % 256);
        EXPECT_EQ(alpha[y * 16 + 10], 0xEE);  // the stride's padding stays untouched
    }
}

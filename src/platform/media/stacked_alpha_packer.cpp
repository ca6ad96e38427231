#include "platform/media/stacked_alpha_packer.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace yux::platform {

namespace {

// Transparent black in the track's colours: BT.601 limited-range black, neutral chroma, no alpha.
constexpr std::uint8_t kBlackLuma = 16;
constexpr std::uint8_t kNeutralChroma = 128;
constexpr std::uint8_t kNoAlpha = 0;

bool visible(const std::uint8_t* pixel) { return pixel[3] != 0; }

// Whether any of `count` pixels from `row` has alpha; written so the compiler vectorises it.
bool anyVisible(const std::uint8_t* row, int count) {
    std::uint32_t alpha = 0;
    for (int x = 0; x < count; ++x) alpha |= row[4 * x + 3];
    return alpha != 0;
}

// The even-aligned columns of two rows that hold a visible pixel; empty when there is none.
void visibleColumns(const std::uint8_t* top, const std::uint8_t* bottom, int width, int& from, int& to) {
    // Whole rows are checked fast first: most rows of a camera picture are empty.
    if (!anyVisible(top, width) && !anyVisible(bottom, width)) {
        from = to = 0;
        return;
    }
    int left = 0;
    while (!visible(top + 4 * left) && !visible(bottom + 4 * left)) ++left;
    int right = width - 1;
    while (!visible(top + 4 * right) && !visible(bottom + 4 * right)) --right;
    from = left & ~1;
    to = std::min(width, (right + 2) & ~1);
}

struct Band {
    const YuvPlanes& planes;
    int y;  // the first of its two rows
    std::ptrdiff_t alphaOffset;

    std::uint8_t* luma(int row) const { return planes.y + static_cast<std::ptrdiff_t>(y + row) * planes.yStride; }
    std::uint8_t* alpha(int row) const { return luma(row) + alphaOffset; }
    std::uint8_t* u() const { return planes.u + static_cast<std::ptrdiff_t>(y / 2) * planes.uStride; }
    std::uint8_t* v() const { return planes.v + static_cast<std::ptrdiff_t>(y / 2) * planes.vStride; }

    void clear(int from, int to) const {
        if (to <= from) return;
        const auto count = static_cast<std::size_t>(to - from);
        for (int row = 0; row < 2; ++row) {
            std::memset(luma(row) + from, kBlackLuma, count);
            std::memset(alpha(row) + from, kNoAlpha, count);
        }
        std::memset(u() + from / 2, kNeutralChroma, count / 2);
        std::memset(v() + from / 2, kNeutralChroma, count / 2);
    }

    void convert(const PixelBuffer& picture, int from, int to) const {
        if (to <= from) return;
        auto part = PixelBuffer::wrap(picture.row(y) + 4 * static_cast<std::ptrdiff_t>(from), to - from, 2,
                                      picture.stride(), [] {});
        convertBgraToYuv420(part, {luma(0) + from, u() + from / 2, v() + from / 2, planes.yStride, planes.uStride,
                                   planes.vStride});
        extractAlpha(part, alpha(0) + from, planes.yStride);
    }
};

}  // namespace

void StackedAlphaPacker::pack(const PixelBuffer& picture, const YuvPlanes& planes, bool fresh) {
    const int width = picture.width();
    const int height = picture.height();
    const int bands = height / 2;
    if (fresh || static_cast<int>(written_.size()) != bands) {
        // Nothing known of the planes: every column is cleared unless converted.
        written_.assign(static_cast<std::size_t>(bands), Span{0, width});
        // The alpha half's chroma is neutral once and for all.
        for (int y = height / 2; y < height; ++y) {
            std::memset(planes.u + static_cast<std::ptrdiff_t>(y) * planes.uStride, kNeutralChroma,
                        static_cast<std::size_t>(width / 2));
            std::memset(planes.v + static_cast<std::ptrdiff_t>(y) * planes.vStride, kNeutralChroma,
                        static_cast<std::size_t>(width / 2));
        }
    }
    const std::ptrdiff_t alphaOffset = static_cast<std::ptrdiff_t>(height) * planes.yStride;
    for (int index = 0; index < bands; ++index) {
        const Band band{planes, 2 * index, alphaOffset};
        int from = 0;
        int to = 0;
        visibleColumns(picture.row(band.y), picture.row(band.y + 1), width, from, to);
        const Span before = written_[static_cast<std::size_t>(index)];
        // What was visible last time and is not now becomes transparent black again.
        if (to <= from) {
            band.clear(before.from, before.to);
        } else {
            band.clear(before.from, std::min(before.to, from));
            band.clear(std::max(before.from, to), before.to);
        }
        band.convert(picture, from, to);
        written_[static_cast<std::size_t>(index)] = Span{from, to};
    }
}

}  // namespace yux::platform

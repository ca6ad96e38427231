#pragma once

#include <vector>

#include "platform/media/bgra_to_yuv.hpp"
#include "platform/media/pixel_buffer.hpp"

namespace yux::platform {

// Packs BGRA pictures into the stacked-alpha layout of a camera track: the picture as 4:2:0 on
// top, its alpha as luma below with neutral chroma. A camera picture is transparent but for its
// bubble, so each pair of rows converts only the columns that hold a visible pixel; the rest
// stays transparent black (what the full conversion makes of transparent black) and is written
// only where the previous picture was visible. The output equals the full conversion wherever a
// pixel is visible, and wherever transparent pixels are black.
class StackedAlphaPacker {
public:
    // `planes` hold a picture of twice `picture`'s height. Unless `fresh`, they still hold what
    // the previous pack wrote (the same buffer, untouched since).
    void pack(const PixelBuffer& picture, const YuvPlanes& planes, bool fresh);

private:
    struct Span {
        int from = 0;  // even
        int to = 0;    // even, exclusive
    };
    std::vector<Span> written_;  // per pair of rows: the columns that may hold more than transparent black
};

}  // namespace yux::platform

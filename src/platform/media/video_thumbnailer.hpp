#pragma once

#include <string>
#include <vector>

#include "platform/async/cancel_token.hpp"
#include "platform/media/media_time.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/pixel_buffer.hpp"

namespace yux::platform {

// Small BGRA pictures of one video track: each the picture showing at its time, scaled to fit
// within maxWidth × maxHeight with its aspect kept. A stacked-alpha track keeps its alpha.
struct VideoThumbnailer {
    // Throws CancelledError when `cancel` fires (checked before each picture), std::runtime_error
    // when the track cannot be decoded.
    static std::vector<PixelBuffer> pictures(const MediaTrack& track, const std::vector<MediaTime>& times, int maxWidth,
                                             int maxHeight, const CancelToken& cancel);
};

}  // namespace yux::platform

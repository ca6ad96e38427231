#include "platform/media/video_thumbnailer.hpp"

#include <algorithm>
#include <cmath>

#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/video_frame_reader.hpp"

namespace yux::platform {

std::vector<PixelBuffer> VideoThumbnailer::pictures(const MediaTrack& track, const std::vector<MediaTime>& times,
                                                    int maxWidth, int maxHeight, const CancelToken& cancel) {
    VideoFrameReader reader(track.path, track);
    std::vector<PixelBuffer> result;
    ffmpeg::ScaleContext picture;
    ffmpeg::ScaleContext alpha;
    for (MediaTime time : times) {
        cancel.throwIfCancelled();
        const AVFrame* frame = reader.frameAt(time);
        if (frame == nullptr) throw std::runtime_error("The source movie's video has no pictures.");
        int sourceHeight = track.stackedAlpha ? frame->height / 2 : frame->height;
        double fit = std::min({1.0, static_cast<double>(maxWidth) / frame->width, static_cast<double>(maxHeight) / sourceHeight});
        int width = std::max(1, static_cast<int>(std::lround(frame->width * fit)));
        int height = std::max(1, static_cast<int>(std::lround(sourceHeight * fit)));
        auto image = PixelBuffer::create(width, height);
        picture.reset(sws_getCachedContext(picture.release(), frame->width, sourceHeight, static_cast<AVPixelFormat>(frame->format),
                                           width, height, AV_PIX_FMT_BGRA, SWS_AREA, nullptr, nullptr, nullptr));
        if (!picture) throw std::runtime_error("The source movie's pictures cannot be converted.");
        std::uint8_t* out[4] = {image.data(), nullptr, nullptr, nullptr};
        int outStride[4] = {static_cast<int>(image.stride()), 0, 0, 0};
        sws_scale(picture.get(), frame->data, frame->linesize, 0, sourceHeight, out, outStride);
        if (track.stackedAlpha) {
            // The lower half's luma, scaled alike, becomes the alpha channel.
            alpha.reset(sws_getCachedContext(alpha.release(), frame->width, sourceHeight, AV_PIX_FMT_GRAY8, width, height,
                                             AV_PIX_FMT_GRAY8, SWS_AREA, nullptr, nullptr, nullptr));
            if (!alpha) throw std::runtime_error("The source movie's pictures cannot be converted.");
            std::vector<std::uint8_t> plane(static_cast<std::size_t>(width) * height);
            const std::uint8_t* alphaSource[4] = {frame->data[0] + static_cast<std::ptrdiff_t>(sourceHeight) * frame->linesize[0],
                                                  nullptr, nullptr, nullptr};
            int alphaSourceStride[4] = {frame->linesize[0], 0, 0, 0};
            std::uint8_t* alphaOut[4] = {plane.data(), nullptr, nullptr, nullptr};
            int alphaStride[4] = {width, 0, 0, 0};
            sws_scale(alpha.get(), alphaSource, alphaSourceStride, 0, sourceHeight, alphaOut, alphaStride);
            for (int y = 0; y < height; ++y) {
                std::uint8_t* row = image.row(y);
                for (int x = 0; x < width; ++x) row[4 * x + 3] = plane[static_cast<std::size_t>(y) * width + x];
            }
        }
        result.push_back(image);
    }
    return result;
}

}  // namespace yux::platform

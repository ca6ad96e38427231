#include "support/camera_test_frames.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "platform/media/ffmpeg_support.hpp"

extern "C" {
#include <libavutil/log.h>
}

namespace yux::testing {

namespace {
std::uint8_t clampByte(double value) { return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }
}  // namespace

std::vector<std::uint8_t> yuyvFrame(int width, int height, std::array<int, 3> bgr) {
    double b = bgr[0], g = bgr[1], r = bgr[2];
    auto y = clampByte(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255);
    auto u = clampByte(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255);
    auto v = clampByte(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255);
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height * 2);
    for (std::size_t i = 0; i < frame.size(); i += 4) {
        frame[i] = y;
        frame[i + 1] = u;
        frame[i + 2] = y;
        frame[i + 3] = v;
    }
    return frame;
}

std::vector<std::uint8_t> jpegFrame(int width, int height, std::array<int, 3> bgr) {
    auto picture = platform::PixelBuffer::create(width, height);
    picture.fill(static_cast<std::uint8_t>(bgr[0]), static_cast<std::uint8_t>(bgr[1]), static_cast<std::uint8_t>(bgr[2]), 255);
    return jpegFrame(picture);
}

std::vector<std::uint8_t> jpegFrame(const platform::PixelBuffer& picture, int quality) {
    namespace ff = platform::ffmpeg;
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (codec == nullptr) throw std::runtime_error("no MJPEG encoder");
    ff::CodecContext context(avcodec_alloc_context3(codec));
    context->width = picture.width();
    context->height = picture.height();
    context->pix_fmt = AV_PIX_FMT_YUVJ422P;
    context->time_base = {1, 30};
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->qmin = context->qmax = quality;
    ff::check(avcodec_open2(context.get(), codec, nullptr), "open the MJPEG encoder");
    auto frame = ff::makeFrame();
    frame->width = picture.width();
    frame->height = picture.height();
    frame->format = AV_PIX_FMT_YUVJ422P;
    frame->quality = quality * FF_QP2LAMBDA;
    ff::check(av_frame_get_buffer(frame.get(), 0), "allocate a frame");
    SwsContext* scale = sws_getContext(picture.width(), picture.height(), AV_PIX_FMT_BGRA, picture.width(),
                                       picture.height(), AV_PIX_FMT_YUVJ422P, SWS_BILINEAR | SWS_ACCURATE_RND, nullptr,
                                       nullptr, nullptr);
    const std::uint8_t* source[4] = {picture.data(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(picture.stride()), 0, 0, 0};
    sws_scale(scale, source, strides, 0, picture.height(), frame->data, frame->linesize);
    sws_freeContext(scale);
    ff::check(avcodec_send_frame(context.get(), frame.get()), "encode a frame");
    auto packet = ff::makePacket();
    ff::check(avcodec_receive_packet(context.get(), packet.get()), "receive a frame");
    return std::vector<std::uint8_t>(packet->data, packet->data + packet->size);
}

}  // namespace yux::testing

#include "platform/camera/camera_frame_decoder.hpp"

#include <linux/videodev2.h>

#include <vector>

#include "platform/media/ffmpeg_support.hpp"

namespace yux::platform {

struct CameraFrameDecoder::State {
    ffmpeg::CodecContext jpeg;
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    ffmpeg::Packet packet = ffmpeg::makePacket();
    SwsContext* scale = nullptr;
    std::vector<std::uint8_t> padded;

    ~State() { sws_freeContext(scale); }

    AVPixelFormat lastFormat = AV_PIX_FMT_NONE;

    PixelBuffer convert(const std::uint8_t* const planes[], const int strides[], AVPixelFormat format, int width,
                        int height) {
        // JPEG pictures are full range; the scaler wants that said rather than implied by the format.
        bool fullRange = false;
        switch (format) {
            case AV_PIX_FMT_YUVJ420P: format = AV_PIX_FMT_YUV420P; fullRange = true; break;
            case AV_PIX_FMT_YUVJ422P: format = AV_PIX_FMT_YUV422P; fullRange = true; break;
            case AV_PIX_FMT_YUVJ444P: format = AV_PIX_FMT_YUV444P; fullRange = true; break;
            case AV_PIX_FMT_YUVJ440P: format = AV_PIX_FMT_YUV440P; fullRange = true; break;
            default: break;
        }
        SwsContext* previous = scale;
        scale = sws_getCachedContext(scale, width, height, format, width, height, AV_PIX_FMT_BGRA, SWS_BILINEAR,
                                     nullptr, nullptr, nullptr);
        if (scale == nullptr) return {};
        // Setting the colour details rebuilds the scaler's tables: only when something changed.
        if (scale != previous || format != lastFormat) {
            const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
            sws_setColorspaceDetails(scale, coefficients, fullRange ? 1 : 0, coefficients, 1, 0, 1 << 16, 1 << 16);
            lastFormat = format;
        }
        auto picture = PixelBuffer::create(width, height);
        std::uint8_t* destination[4] = {picture.data(), nullptr, nullptr, nullptr};
        int destinationStrides[4] = {static_cast<int>(picture.stride()), 0, 0, 0};
        sws_scale(scale, planes, strides, 0, height, destination, destinationStrides);
        return picture;
    }

    // An invalid picture when the data is not a whole picture of the format.
    PixelBuffer decode(std::uint32_t pixelFormat, int width, int height, int rowBytes, const std::uint8_t* data,
                       std::size_t length) {
        if (pixelFormat == V4L2_PIX_FMT_YUYV) {
            if (rowBytes < width * 2 || length < static_cast<std::size_t>(rowBytes) * height) return {};
            const std::uint8_t* planes[4] = {data, nullptr, nullptr, nullptr};
            int strides[4] = {rowBytes, 0, 0, 0};
            return convert(planes, strides, AV_PIX_FMT_YUYV422, width, height);
        }
        if (pixelFormat != V4L2_PIX_FMT_MJPEG) return {};
        if (!jpeg) {
            const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
            if (codec == nullptr) return {};
            jpeg.reset(avcodec_alloc_context3(codec));
            jpeg->thread_count = 1;
            if (avcodec_open2(jpeg.get(), codec, nullptr) < 0) {
                jpeg.reset();
                return {};
            }
        }
        padded.assign(data, data + length);
        padded.resize(length + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet->data = padded.data();
        packet->size = static_cast<int>(length);
        if (avcodec_send_packet(jpeg.get(), packet.get()) < 0) return {};
        if (avcodec_receive_frame(jpeg.get(), frame.get()) < 0) return {};
        PixelBuffer picture;
        if (frame->width == width && frame->height == height) {
            picture = convert(frame->data, frame->linesize, static_cast<AVPixelFormat>(frame->format), frame->width,
                              frame->height);
        }
        av_frame_unref(frame.get());
        return picture;
    }
};

CameraFrameDecoder::CameraFrameDecoder() : state_(std::make_unique<State>()) {}
CameraFrameDecoder::~CameraFrameDecoder() = default;

PixelBuffer CameraFrameDecoder::decode(std::uint32_t pixelFormat, int width, int height, int rowBytes,
                                       const std::uint8_t* data, std::size_t length) {
    return state_->decode(pixelFormat, width, height, rowBytes, data, length);
}

}  // namespace yux::platform

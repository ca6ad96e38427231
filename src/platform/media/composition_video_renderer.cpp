#include "platform/media/composition_video_renderer.hpp"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace yux::platform {

namespace {

// Bilinear is sharp enough for screen text at the sizes the presets allow and several times
// cheaper than bicubic at 1080p.
constexpr int kScaleFlags = SWS_BILINEAR;
// FFmpeg's SIMD converters write whole blocks of 16 pixels: the last row of a picture whose width
// is not a multiple of 16 runs up to 60 bytes past it (a small area's preview corrupted the heap).
constexpr std::size_t kConverterSlack = 64;

// The region of a source picture (of `width` × `height`) that maps onto the crop.
struct Region {
    int x = 0, y = 0, width = 0, height = 0;
};

Region sourceRegion(const PictureGeometry& g, int width, int height) {
    double sx = static_cast<double>(width) / g.scaledWidth;
    double sy = static_cast<double>(height) / g.scaledHeight;
    Region r;
    // The origin stays where the crop puts it, odd or not: luma moves by whole pixels, and 4:2:0
    // chroma starts at the sample that covers the origin (never a visible shift of the picture).
    r.x = std::clamp(static_cast<int>(g.cropX * sx), 0, width - 1);
    r.y = std::clamp(static_cast<int>(g.cropY * sy), 0, height - 1);
    r.width = std::clamp(static_cast<int>(g.cropWidth * sx + 0.5), 1, width - r.x);
    r.height = std::clamp(static_cast<int>(g.cropHeight * sy + 0.5), 1, height - r.y);
    return r;
}

// Plane pointers of `frame` moved to (x, y) of the picture that starts at row `top`.
void regionPointers(const AVFrame* frame, int x, int y, const std::uint8_t* data[4]) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    for (int plane = 0; plane < 4; ++plane) {
        if (frame->data[plane] == nullptr) {
            data[plane] = nullptr;
            continue;
        }
        bool chroma = plane == 1 || plane == 2;
        int px = chroma ? x >> desc->log2_chroma_w : x;
        int py = chroma ? y >> desc->log2_chroma_h : y;
        int bytesPerPixel = (desc->flags & AV_PIX_FMT_FLAG_PLANAR) ? 1 : desc->comp[0].step;
        data[plane] = frame->data[plane] + static_cast<std::ptrdiff_t>(py) * frame->linesize[plane] + px * bytesPerPixel;
    }
}

}  // namespace

struct CompositionVideoRenderer::Layer {
    std::size_t track = 0;
    bool stackedAlpha = false;
    std::unique_ptr<VideoFrameReader> reader;
    SwsContext* toYuv = nullptr;    // opaque single layer straight to the output
    SwsContext* toBgra = nullptr;
    SwsContext* alphaScale = nullptr;
    ~Layer() {
        sws_freeContext(toYuv);
        sws_freeContext(toBgra);
        sws_freeContext(alphaScale);
    }
};

CompositionVideoRenderer::CompositionVideoRenderer(const std::string& path, const EditComposition& composition,
                                                   PictureGeometry geometry)
    : composition_(composition), geometry_(geometry), passthrough_(ffmpeg::makeFrame()) {
    for (std::size_t i = 0; i < composition.tracks().size(); ++i) {
        const auto& track = composition.tracks()[i];
        if (track.source.type != MediaTrackType::video) continue;
        auto layer = std::make_unique<Layer>();
        layer->track = i;
        layer->stackedAlpha = !layers_.empty() && track.source.stackedAlpha;
        layer->reader = std::make_unique<VideoFrameReader>(path, track.source);
        layers_.push_back(std::move(layer));
    }
}

CompositionVideoRenderer::~CompositionVideoRenderer() { sws_freeContext(toOutput_); }

CompositionVideoRenderer::Visible CompositionVideoRenderer::visibleLayers(MediaTime outputTime) {
    Visible visible;
    for (auto& layer : layers_) {
        // The screen at the bottom holds its last picture (and shows its first before it): a
        // still screen sends no more pictures, yet it is still on show. Layers above it show
        // only where they have media.
        bool bottom = layer == layers_.front();
        auto sourceTime = bottom ? composition_.slotSourceTime(outputTime) : composition_.sourceTime(layer->track, outputTime);
        if (!sourceTime) continue;
        const AVFrame* frame = layer->reader->frameAt(*sourceTime);
        if (frame != nullptr) visible.emplace_back(layer.get(), frame);
    }
    return visible;
}

const std::uint8_t* CompositionVideoRenderer::renderBgra(MediaTime outputTime) {
    composeCanvas(visibleLayers(outputTime));
    return canvas_.data();
}

AVFrame* CompositionVideoRenderer::render(MediaTime outputTime, AVFrame* target) {
    const int w = geometry_.cropWidth, h = geometry_.cropHeight;
    Visible visible = visibleLayers(outputTime);
    bool bottomIsFirstTrack = !visible.empty() && visible.front().first == layers_.front().get();

    // Only the screen: one conversion from the decoded picture into the encoder's frame.
    if (visible.size() == 1 && bottomIsFirstTrack) {
        auto [layer, frame] = visible.front();
        Region r = sourceRegion(geometry_, frame->width, frame->height);
        if (r.width == w && r.height == h && frame->format == target->format) {
            av_frame_unref(passthrough_.get());
            ffmpeg::check(av_frame_ref(passthrough_.get(), frame), "Referencing a picture");
            passthrough_->crop_left = static_cast<std::size_t>(r.x);
            passthrough_->crop_top = static_cast<std::size_t>(r.y);
            passthrough_->crop_right = static_cast<std::size_t>(frame->width - r.x - w);
            passthrough_->crop_bottom = static_cast<std::size_t>(frame->height - r.y - h);
            ffmpeg::check(av_frame_apply_cropping(passthrough_.get(), AV_FRAME_CROP_UNALIGNED), "Cropping a picture");
            return passthrough_.get();
        }
        layer->toYuv = sws_getCachedContext(layer->toYuv, r.width, r.height, static_cast<AVPixelFormat>(frame->format), w, h,
                                            static_cast<AVPixelFormat>(target->format), kScaleFlags, nullptr, nullptr, nullptr);
        if (layer->toYuv == nullptr) throw std::runtime_error("Cannot convert the video picture.");
        const std::uint8_t* source[4];
        regionPointers(frame, r.x, r.y, source);
        sws_scale(layer->toYuv, source, frame->linesize, 0, r.height, target->data, target->linesize);
        return target;
    }

    composeCanvas(visible);
    toOutput_ = sws_getCachedContext(toOutput_, w, h, AV_PIX_FMT_BGRA, w, h, static_cast<AVPixelFormat>(target->format),
                                     kScaleFlags, nullptr, nullptr, nullptr);
    if (toOutput_ == nullptr) throw std::runtime_error("Cannot convert the video picture.");
    const std::uint8_t* canvas[4] = {canvas_.data(), nullptr, nullptr, nullptr};
    int canvasStride[4] = {w * 4, 0, 0, 0};
    sws_scale(toOutput_, canvas, canvasStride, 0, h, target->data, target->linesize);
    return target;
}

void CompositionVideoRenderer::composeCanvas(const Visible& visible) {
    const int w = geometry_.cropWidth, h = geometry_.cropHeight;
    std::size_t bgraBytes = static_cast<std::size_t>(w) * h * 4;
    canvas_.assign(bgraBytes + kConverterSlack, 0);
    for (std::size_t p = 3; p < bgraBytes; p += 4) canvas_[p] = 255;  // opaque black where nothing is
    overlay_.resize(bgraBytes + kConverterSlack);
    alpha_.resize(static_cast<std::size_t>(w) * h + kConverterSlack);
    int canvasStride[4] = {w * 4, 0, 0, 0};
    int alphaStride[4] = {w, 0, 0, 0};

    for (auto [layer, frame] : visible) {
        int pictureHeight = layer->stackedAlpha ? frame->height / 2 : frame->height;
        Region r = sourceRegion(geometry_, frame->width, pictureHeight);
        bool opaque = !layer->stackedAlpha;
        std::uint8_t* out[4] = {opaque ? canvas_.data() : overlay_.data(), nullptr, nullptr, nullptr};
        layer->toBgra = sws_getCachedContext(layer->toBgra, r.width, r.height, static_cast<AVPixelFormat>(frame->format), w, h,
                                             AV_PIX_FMT_BGRA, kScaleFlags, nullptr, nullptr, nullptr);
        if (layer->toBgra == nullptr) throw std::runtime_error("Cannot convert the video picture.");
        const std::uint8_t* source[4];
        regionPointers(frame, r.x, r.y, source);
        sws_scale(layer->toBgra, source, frame->linesize, 0, r.height, out, canvasStride);
        if (opaque) continue;

        // The alpha plane: the luma of the lower half, scaled like the picture.
        layer->alphaScale = sws_getCachedContext(layer->alphaScale, r.width, r.height, AV_PIX_FMT_GRAY8, w, h, AV_PIX_FMT_GRAY8,
                                                 kScaleFlags, nullptr, nullptr, nullptr);
        if (layer->alphaScale == nullptr) throw std::runtime_error("Cannot convert the video picture.");
        const std::uint8_t* alphaSource[4] = {
            frame->data[0] + static_cast<std::ptrdiff_t>(pictureHeight + r.y) * frame->linesize[0] + r.x, nullptr, nullptr,
            nullptr};
        int alphaSourceStride[4] = {frame->linesize[0], 0, 0, 0};
        std::uint8_t* alphaOut[4] = {alpha_.data(), nullptr, nullptr, nullptr};
        sws_scale(layer->alphaScale, alphaSource, alphaSourceStride, 0, r.height, alphaOut, alphaStride);

        for (std::size_t i = 0, n = static_cast<std::size_t>(w) * h; i < n; ++i) {
            unsigned a = alpha_[i];
            if (a == 0) continue;
            std::uint8_t* dst = &canvas_[i * 4];
            const std::uint8_t* src = &overlay_[i * 4];
            for (int c = 0; c < 3; ++c) dst[c] = static_cast<std::uint8_t>((src[c] * a + dst[c] * (255 - a) + 127) / 255);
        }
    }
}

}  // namespace yux::platform

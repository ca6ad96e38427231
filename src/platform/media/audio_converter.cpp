#include "platform/media/audio_converter.hpp"

#include <algorithm>
#include <stdexcept>

namespace yux::platform {

namespace {
constexpr const char* kConversionStep = "The source movie's audio cannot be converted";
}  // namespace

AudioConverter::AudioConverter(int sampleRate, int channels) : sampleRate_(sampleRate), channels_(channels) {
    if (sampleRate <= 0 || channels <= 0) throw std::invalid_argument("AudioConverter needs a rate and channels");
}

AudioConverter::~AudioConverter() { av_channel_layout_uninit(&inputLayout_); }

bool AudioConverter::matches(const AVFrame* frame) const {
    return resampler_ && frame->format == inputFormat_ && frame->sample_rate == inputRate_ &&
           av_channel_layout_compare(&frame->ch_layout, &inputLayout_) == 0;
}

void AudioConverter::drain(std::vector<float>& out) {
    if (!resampler_) return;
    for (;;) {
        int capacity = swr_get_out_samples(resampler_.get(), 0);
        if (capacity <= 0) return;
        std::size_t offset = out.size();
        out.resize(offset + static_cast<std::size_t>(capacity) * channels_);
        auto* target = reinterpret_cast<std::uint8_t*>(out.data() + offset);
        int produced = swr_convert(resampler_.get(), &target, capacity, nullptr, 0);
        out.resize(offset + static_cast<std::size_t>(std::max(produced, 0)) * channels_);
        if (produced <= 0) return;
    }
}

void AudioConverter::convert(const AVFrame* frame, std::vector<float>& out) {
    if (frame->nb_samples <= 0) return;
    if (frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0) {
        throw ffmpeg::Error::inStep(kConversionStep, AVERROR_INVALIDDATA);
    }
    if (!matches(frame)) {
        drain(out);
        resampler_.reset();
        av_channel_layout_uninit(&inputLayout_);
        inputFormat_ = -1;
        ffmpeg::checkStep(av_channel_layout_copy(&inputLayout_, &frame->ch_layout), kConversionStep);
        AVChannelLayout output{};
        av_channel_layout_default(&output, channels_);
        SwrContext* raw = nullptr;
        ffmpeg::checkStep(swr_alloc_set_opts2(&raw, &output, AV_SAMPLE_FMT_FLT, sampleRate_, &inputLayout_,
                                              static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr),
                          kConversionStep);
        resampler_.reset(raw);
        ffmpeg::checkStep(swr_init(raw), kConversionStep);
        inputFormat_ = frame->format;
        inputRate_ = frame->sample_rate;
    }
    int capacity = swr_get_out_samples(resampler_.get(), frame->nb_samples);
    if (capacity <= 0) return;
    std::size_t offset = out.size();
    out.resize(offset + static_cast<std::size_t>(capacity) * channels_);
    auto* target = reinterpret_cast<std::uint8_t*>(out.data() + offset);
    int produced = swr_convert(resampler_.get(), &target, capacity, const_cast<const std::uint8_t**>(frame->extended_data),
                               frame->nb_samples);
    out.resize(offset + static_cast<std::size_t>(std::max(produced, 0)) * channels_);
    ffmpeg::checkStep(produced, kConversionStep);
}

void AudioConverter::flush(std::vector<float>& out) { drain(out); }

void AudioConverter::reset() {
    resampler_.reset();
    av_channel_layout_uninit(&inputLayout_);
    inputFormat_ = -1;
    inputRate_ = 0;
}

}  // namespace yux::platform

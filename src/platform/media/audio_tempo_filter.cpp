#include "platform/media/audio_tempo_filter.hpp"

#include <cstring>
#include <string>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include "platform/media/audio_sample_reader.hpp"

namespace yux::platform {

AudioTempoFilter::AudioTempoFilter(double speed) : graph_(avfilter_graph_alloc()), frame_(ffmpeg::makeFrame()) {
    if (!graph_) throw std::bad_alloc();
    graph_->nb_threads = 1;
    std::string sourceArgs = "sample_rate=48000:sample_fmt=flt:channel_layout=stereo:time_base=1/48000";
    ffmpeg::check(avfilter_graph_create_filter(&source_, avfilter_get_by_name("abuffer"), "in", sourceArgs.c_str(), nullptr,
                                               graph_.get()),
                  "Creating the tempo filter");
    AVFilterContext* tempo = nullptr;
    std::string tempoArgs = "tempo=" + std::to_string(speed);
    ffmpeg::check(avfilter_graph_create_filter(&tempo, avfilter_get_by_name("atempo"), "tempo", tempoArgs.c_str(), nullptr,
                                               graph_.get()),
                  "Creating the tempo filter");
    AVFilterContext* format = nullptr;
    ffmpeg::check(avfilter_graph_create_filter(&format, avfilter_get_by_name("aformat"), "format",
                                               "sample_fmts=flt:sample_rates=48000:channel_layouts=stereo", nullptr, graph_.get()),
                  "Creating the tempo filter");
    ffmpeg::check(avfilter_graph_create_filter(&sink_, avfilter_get_by_name("abuffersink"), "out", nullptr, nullptr, graph_.get()),
                  "Creating the tempo filter");
    ffmpeg::check(avfilter_link(source_, 0, tempo, 0), "Linking the tempo filter");
    ffmpeg::check(avfilter_link(tempo, 0, format, 0), "Linking the tempo filter");
    ffmpeg::check(avfilter_link(format, 0, sink_, 0), "Linking the tempo filter");
    ffmpeg::check(avfilter_graph_config(graph_.get(), nullptr), "Configuring the tempo filter");
}

void AudioTempoFilter::push(const float* samples, int frames) {
    if (frames <= 0) return;
    ffmpeg::Frame input = ffmpeg::makeFrame();
    input->format = AV_SAMPLE_FMT_FLT;
    input->sample_rate = AudioSampleReader::kSampleRate;
    av_channel_layout_default(&input->ch_layout, AudioSampleReader::kChannels);
    input->nb_samples = frames;
    input->pts = pts_;
    ffmpeg::check(av_frame_get_buffer(input.get(), 0), "Preparing audio");
    std::memcpy(input->data[0], samples, static_cast<std::size_t>(frames) * AudioSampleReader::kChannels * sizeof(float));
    pts_ += frames;
    ffmpeg::check(av_buffersrc_add_frame_flags(source_, input.get(), 0), "Changing the audio speed");
    pull();
}

void AudioTempoFilter::finish() {
    ffmpeg::check(av_buffersrc_add_frame_flags(source_, nullptr, 0), "Changing the audio speed");
    pull();
}

void AudioTempoFilter::pull() {
    while (true) {
        int result = av_buffersink_get_frame(sink_, frame_.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
        ffmpeg::check(result, "Changing the audio speed");
        auto* data = reinterpret_cast<const float*>(frame_->data[0]);
        output_.insert(output_.end(), data, data + static_cast<std::size_t>(frame_->nb_samples) * AudioSampleReader::kChannels);
        av_frame_unref(frame_.get());
    }
}

}  // namespace yux::platform

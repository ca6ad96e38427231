#pragma once

// Owning handles for FFmpeg objects and the one way FFmpeg failures become exceptions.

#include <memory>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace yux::platform::ffmpeg {

// An FFmpeg failure: the operation that failed and the library's own message.
class Error : public std::runtime_error {
public:
    Error(const std::string& operation, int code);
    int code() const { return code_; }

private:
    int code_;
};

// Returns `result` when it is not negative, else throws Error for `operation`.
int check(int result, const char* operation);
std::string errorText(int code);

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct InputContextDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
// Output contexts: frees the context and closes its file if FFmpeg opened it.
struct OutputContextDeleter {
    void operator()(AVFormatContext* context) const;
};
struct ScaleContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct ResampleContextDeleter {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
struct FilterGraphDeleter {
    void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};

using CodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;
using InputContext = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using OutputContext = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using ScaleContext = std::unique_ptr<SwsContext, ScaleContextDeleter>;
using ResampleContext = std::unique_ptr<SwrContext, ResampleContextDeleter>;
using FilterGraph = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;
using AudioFifo = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

Frame makeFrame();
Packet makePacket();

}  // namespace yux::platform::ffmpeg

#pragma once

// Owning handles for FFmpeg objects and the one way FFmpeg failures become exceptions.

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/media/movie_layout.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace yux::platform::ffmpeg {

// An FFmpeg failure. what() is a sentence of our own that names the step and the cause in plain
// words; the library's own message (often unfit for users, e.g. "patches welcome") is kept for
// the log and sent to the log sink when the error is made.
class Error : public std::runtime_error {
public:
    // "<operation> failed: <cause>.", for a step named as an action ("Opening the decoder").
    Error(const std::string& operation, int code);
    // "<step>: <cause>.", for a step named as a sentence ("The source movie cannot be opened").
    static Error inStep(const std::string& step, int code);

    int code() const { return code_; }
    const std::string& libraryText() const { return libraryText_; }

private:
    Error(std::string sentence, int code, const std::string& context);
    int code_;
    std::string libraryText_;
};

// Returns `result` when it is not negative, else throws Error for `operation`.
int check(int result, const char* operation);
// Returns `result` when it is not negative, else throws Error::inStep(step, result).
int checkStep(int result, const char* step);
// FFmpeg's own message for an error code: for logs only.
std::string errorText(int code);
// The cause of an FFmpeg error code in plain words, e.g. "the data is damaged".
std::string plainCause(int code);

// Where FFmpeg's own log lines go (x264's statistics, demuxer warnings) and the library's text of
// every Error: the AV_LOG_* level and one line without its line break. Only lines at warning level
// or above are passed on; nothing goes to the terminal. Without a sink of the program's own, lines
// go to the system log. An empty sink restores that default. Safe from any thread.
using LogSink = std::function<void(int level, const std::string& line)>;
void setLogSink(LogSink sink);
// Sends "<context>: <FFmpeg's text for code>" to the log sink at error level.
void logLibraryFailure(const std::string& context, int code);

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

// Opens a movie file and reads its stream information. Throws Error with a sentence of our own
// ("The movie cannot be opened: the file does not exist."). A movie whose index would keep the
// library busy for minutes is refused as damaged. A QuickTime track's length ends where its
// samples do: a fragmented track's header cannot claim more, a take cut inside its last fragment
// ends with its last whole sample, and a track without samples has none. `layout`, when given,
// receives the movie's boxes as read before the library opened it.
InputContext openMovie(const std::string& path, MovieLayout* layout = nullptr);
// The two halves of openMovie: the header alone (the container's index, untouched by reading
// packets), then the stream information, with the layout the first half gave.
InputContext openMovieHeader(const std::string& path, MovieLayout* layout = nullptr);
void readStreamInfo(AVFormatContext* movie, const MovieLayout& layout);

// A sample's start and end in its stream's time base, on the clock of the decode times.
struct SampleSpan {
    std::int64_t start = 0;
    std::int64_t end = 0;
};

// How much of each stream of a QuickTime movie lies whole in the file: the library's index still
// lists the samples of a file cut short.
struct WholeMedia {
    // Per stream: how many samples come before the first that is not whole; -1 when none is
    // missing (and for containers without a full index).
    std::vector<std::int64_t> wholeSamples;
    // Per stream: its last whole sample, ending where the stream's length (openMovie) ends it. The
    // library gives a fragment's last sample no length of its own. None when the movie does not
    // say, or has no whole sample.
    std::vector<std::optional<SampleSpan>> lastSample;
    // Data is missing elsewhere than a cut take loses it: anywhere in a movie that is not
    // fragmented, or before its last fragment.
    bool missingInside = false;
};
WholeMedia wholeMedia(AVFormatContext* movie, const MovieLayout& layout);

}  // namespace yux::platform::ffmpeg

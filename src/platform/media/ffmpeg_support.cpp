#include "platform/media/ffmpeg_support.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>

#include "platform/desktop/system_log.hpp"

namespace yux::platform::ffmpeg {

namespace {

// FFmpeg logs from its own threads (frame threads, x264's lookahead); the sink is swapped from
// the program's, so it is read under this lock and called outside it.
struct SinkHolder {
    std::mutex lock;
    LogSink sink;
};

// Never destroyed: FFmpeg may still log while other statics are torn down at exit.
SinkHolder& sinkHolder() {
    static auto* holder = new SinkHolder;
    return *holder;
}

void defaultSink(int level, const std::string& line) {
    static const auto* log = new SystemLog(SystemLog::create());
    log->log("FFmpeg", level <= AV_LOG_ERROR ? LogLevel::error : LogLevel::info, line);
}

void deliver(int level, const std::string& line) {
    LogSink sink;
    {
        std::lock_guard guard(sinkHolder().lock);
        sink = sinkHolder().sink;
    }
    if (sink) sink(level, line);
    else defaultSink(level, line);
}

// FFmpeg hands a line over in pieces; each thread gathers its own until the line break. A
// damaged stream repeats one complaint per frame: repeats are counted, not passed on.
void forwardLibraryLog(void* context, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_WARNING || level > av_log_get_level()) return;
    thread_local std::string pending;
    thread_local int pendingLevel = AV_LOG_WARNING;
    thread_local int printPrefix = 1;
    thread_local std::string previous;
    thread_local int repeats = 0;
    char piece[1024];
    va_list copy;
    va_copy(copy, arguments);
    av_log_format_line2(context, level, format, copy, piece, sizeof piece, &printPrefix);
    va_end(copy);
    pending += piece;
    pendingLevel = std::min(pendingLevel, level);
    if (pending.empty() || pending.back() != '\n') return;
    pending.pop_back();
    std::string line = std::move(pending);
    int lineLevel = pendingLevel;
    pending.clear();
    pendingLevel = AV_LOG_WARNING;
    if (line.empty()) return;
    if (line == previous) {
        ++repeats;
        return;
    }
    if (repeats > 0) deliver(lineLevel, "Last message repeated " + std::to_string(repeats) + " times");
    repeats = 0;
    previous = line;
    deliver(lineLevel, line);
}

// Installed when the library is loaded, before any FFmpeg call can log to the terminal.
const bool kCallbackInstalled = [] {
    av_log_set_callback(forwardLibraryLog);
    return true;
}();

}  // namespace

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string plainCause(int code) {
    switch (code) {
        case AVERROR(ENOMEM): return "there is not enough memory";
        case AVERROR(ENOSPC): return "the disk is full";
        case AVERROR(EDQUOT): return "the disk quota is used up";
        case AVERROR(EFBIG): return "the file is too large";
        case AVERROR(ENOENT): return "the file does not exist";
        case AVERROR(EACCES):
        case AVERROR(EPERM): return "permission was denied";
        case AVERROR(EROFS): return "the disk is read-only";
        case AVERROR(EIO): return "the disk could not be read or written";
        case AVERROR(EISDIR): return "a folder is in the way";
        case AVERROR(EEXIST): return "the file already exists";
        case AVERROR(EINVAL):
        case AVERROR(ERANGE): return "a value was out of range";
        case AVERROR(ENOSYS):
        case AVERROR_PATCHWELCOME: return "it uses a feature Yux does not support";
        case AVERROR_INVALIDDATA: return "the data is damaged";
        case AVERROR_EOF: return "the file ends early";
        case AVERROR_DECODER_NOT_FOUND:
        case AVERROR_DEMUXER_NOT_FOUND:
        case AVERROR_STREAM_NOT_FOUND: return "its format is not supported";
        case AVERROR_ENCODER_NOT_FOUND:
        case AVERROR_MUXER_NOT_FOUND: return "the output format is not available";
        default: return "the media library reported an error";
    }
}

Error::Error(std::string sentence, int code, const std::string& context)
    : std::runtime_error(std::move(sentence)), code_(code), libraryText_(errorText(code)) {
    logLibraryFailure(context, code);
}

Error::Error(const std::string& operation, int code)
    : Error(operation + " failed: " + plainCause(code) + ".", code, operation) {}

Error Error::inStep(const std::string& step, int code) { return Error(step + ": " + plainCause(code) + ".", code, step); }

int check(int result, const char* operation) {
    if (result < 0) throw Error(operation, result);
    return result;
}

int checkStep(int result, const char* step) {
    if (result < 0) throw Error::inStep(step, result);
    return result;
}

void logLibraryFailure(const std::string& context, int code) { deliver(AV_LOG_ERROR, context + ": " + errorText(code)); }

void setLogSink(LogSink sink) {
    (void)kCallbackInstalled;
    std::lock_guard guard(sinkHolder().lock);
    sinkHolder().sink = std::move(sink);
}

void OutputContextDeleter::operator()(AVFormatContext* context) const {
    if (context == nullptr) return;
    if (context->pb != nullptr && !(context->oformat->flags & AVFMT_NOFILE) &&
        !(context->flags & AVFMT_FLAG_CUSTOM_IO)) {
        avio_closep(&context->pb);
    }
    avformat_free_context(context);
}

Frame makeFrame() {
    Frame frame(av_frame_alloc());
    if (!frame) throw std::bad_alloc();
    return frame;
}

Packet makePacket() {
    Packet packet(av_packet_alloc());
    if (!packet) throw std::bad_alloc();
    return packet;
}

namespace {

bool isQuickTime(const AVFormatContext* movie) {
    return movie->iformat != nullptr && std::string_view(movie->iformat->name).starts_with("mov,");
}

// One stream's samples against the file's size, in the index's (time) order.
struct StreamCut {
    std::int64_t samples = 0;
    std::int64_t firstMissing = -1;  // -1: every sample is whole
    bool inLastFragment = false;     // the missing ones all belong to the last fragment
};

StreamCut cutOf(AVStream* stream, std::int64_t fileSize, const MovieLayout& layout) {
    StreamCut cut;
    cut.samples = avformat_index_get_entries_count(stream);
    for (std::int64_t i = 0; i < cut.samples && fileSize >= 0; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, static_cast<int>(i));
        if (entry != nullptr && entry->pos >= 0 && entry->size >= 0 && entry->pos <= fileSize - entry->size) continue;
        cut.firstMissing = i;
        break;
    }
    if (cut.firstMissing >= 0) {
        auto last = layout.lastFragmentSamples.find(static_cast<std::uint32_t>(stream->id));
        std::int64_t inLast = last == layout.lastFragmentSamples.end() ? 0 : last->second;
        cut.inLastFragment = cut.firstMissing >= cut.samples - inLast;
    }
    return cut;
}

// Where a stream's whole samples end, in its time base on the clock of the index's (decode)
// times: after its last sample, which lasts as long as its fragment states, or, in a take cut
// short, where the first missing sample would begin. None when that is not known.
std::optional<__int128> samplesEnd(AVStream* stream, const StreamCut& cut, const MovieLayout& layout) {
    if (cut.samples == 0 || !layout.fragmented) return std::nullopt;
    if (cut.firstMissing >= 0 && cut.inLastFragment) {
        return avformat_index_get_entry(stream, static_cast<int>(cut.firstMissing))->timestamp;
    }
    auto ticks = layout.lastSampleTicks.find(static_cast<std::uint32_t>(stream->id));
    if (ticks == layout.lastSampleTicks.end()) return std::nullopt;
    return static_cast<__int128>(avformat_index_get_entry(stream, static_cast<int>(cut.samples - 1))->timestamp) +
           ticks->second;
}

// How long a stream's samples last from its first, in its time base, as the library says of an
// honest file; none when that is not known.
std::optional<std::int64_t> samplesLength(AVStream* stream, const StreamCut& cut, const MovieLayout& layout) {
    if (cut.samples == 0) return 0;
    const auto end = samplesEnd(stream, cut, layout);
    if (!end) return std::nullopt;
    const std::int64_t first = avformat_index_get_entry(stream, 0)->timestamp;
    // Damaged times may lie anywhere in the range.
    return static_cast<std::int64_t>(std::clamp<__int128>(*end - first, 0, INT64_MAX));
}

// The last whole sample, ending where samplesLength ends the stream.
std::optional<SampleSpan> lastWholeSample(AVStream* stream, const StreamCut& cut, const MovieLayout& layout) {
    if (cut.firstMissing >= 0 && !cut.inLastFragment) return std::nullopt;
    const std::int64_t whole = cut.firstMissing >= 0 ? cut.firstMissing : cut.samples;
    const auto end = samplesEnd(stream, cut, layout);
    if (!end || whole == 0) return std::nullopt;
    const std::int64_t start = avformat_index_get_entry(stream, static_cast<int>(whole - 1))->timestamp;
    return SampleSpan{start, static_cast<std::int64_t>(std::clamp<__int128>(*end, start, INT64_MAX))};
}

std::int64_t fileSizeOf(AVFormatContext* movie) { return movie->pb != nullptr ? avio_size(movie->pb) : -1; }

// The library gives a fragmented track the larger of its header's claim and its fragments' end
// (counted from 0, not from the track's start), and a cut file's index still lists what the cut
// took: each track lasts as long as its samples do.
void endTracksWithTheirSamples(AVFormatContext* movie, const MovieLayout& layout) {
    if (!isQuickTime(movie)) return;
    const std::int64_t fileSize = fileSizeOf(movie);
    for (unsigned i = 0; i < movie->nb_streams; ++i) {
        AVStream* stream = movie->streams[i];
        auto length = samplesLength(stream, cutOf(stream, fileSize, layout), layout);
        if (length && (stream->duration == AV_NOPTS_VALUE || stream->duration > *length)) stream->duration = *length;
    }
}

}  // namespace

InputContext openMovieHeader(const std::string& path, MovieLayout* layoutOut) {
    constexpr const char* kStep = "The movie cannot be opened";
    MovieLayout layout = MovieLayout::read(path);
    // The library keeps no fragment index when a track lacks a usable track ID, and then walks
    // about a billion empty index slots for every fragment it reads: hours for a long recording.
    if (layout.fragmented && layout.unidentifiedTrack) throw Error::inStep(kStep, AVERROR_INVALIDDATA);
    // The library's "subfile" protocol shows it the file up to a fragment cut short.
    const std::string url = layout.wholeBytes && *layout.wholeBytes > 0
                                ? "subfile,,start,0,end," + std::to_string(*layout.wholeBytes) + ",,:file:" + path
                                : path;
    AVFormatContext* raw = nullptr;
    checkStep(avformat_open_input(&raw, url.c_str(), nullptr, nullptr), kStep);
    InputContext movie(raw);
    endTracksWithTheirSamples(movie.get(), layout);
    if (layoutOut != nullptr) *layoutOut = std::move(layout);
    return movie;
}

void readStreamInfo(AVFormatContext* movie, const MovieLayout& layout) {
    checkStep(avformat_find_stream_info(movie, nullptr), "The movie cannot be read");
    // The library gives a track without samples the whole movie's length.
    endTracksWithTheirSamples(movie, layout);
}

InputContext openMovie(const std::string& path, MovieLayout* layoutOut) {
    MovieLayout layout;
    auto context = openMovieHeader(path, &layout);
    readStreamInfo(context.get(), layout);
    if (layoutOut != nullptr) *layoutOut = std::move(layout);
    return context;
}

WholeMedia wholeMedia(AVFormatContext* movie, const MovieLayout& layout) {
    WholeMedia whole;
    whole.wholeSamples.assign(movie->nb_streams, -1);
    whole.lastSample.assign(movie->nb_streams, std::nullopt);
    if (!isQuickTime(movie)) return whole;
    const std::int64_t fileSize = fileSizeOf(movie);
    for (unsigned i = 0; i < movie->nb_streams; ++i) {
        StreamCut cut = cutOf(movie->streams[i], fileSize, layout);
        whole.wholeSamples[i] = cut.firstMissing;
        whole.lastSample[i] = lastWholeSample(movie->streams[i], cut, layout);
        if (cut.firstMissing >= 0 && !cut.inLastFragment) whole.missingInside = true;
    }
    return whole;
}

}  // namespace yux::platform::ffmpeg

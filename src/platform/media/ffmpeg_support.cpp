#include "platform/media/ffmpeg_support.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <new>
#include <optional>

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

// The movie's boxes as the library reads them: a size of 0 runs to the end of the parent, a size
// of 1 is followed by a 64-bit one, and a box never runs past its parent.
struct Box {
    std::uint64_t offset = 0;  // of the header
    std::uint64_t payload = 0;
    std::uint64_t end = 0;
    char type[4] = {};
    bool is(const char* name) const { return std::equal(type, type + 4, name); }
};

class BoxReader {
public:
    explicit BoxReader(const std::string& path) : file_(path, std::ios::binary) {
        file_.seekg(0, std::ios::end);
        size_ = file_ ? static_cast<std::uint64_t>(file_.tellg()) : 0;
    }
    std::uint64_t size() const { return size_; }

    std::optional<std::uint64_t> number(std::uint64_t at, int bytes) {
        if (at > size_ || size_ - at < static_cast<std::uint64_t>(bytes)) return std::nullopt;
        unsigned char raw[8] = {};
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(at));
        if (!file_.read(reinterpret_cast<char*>(raw), bytes)) return std::nullopt;
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value = (value << 8) | raw[i];
        return value;
    }

    // The box at `at` inside a parent ending at `end`; none where the walk stops.
    std::optional<Box> box(std::uint64_t at, std::uint64_t end) {
        if (at + 8 > end) return std::nullopt;
        auto size = number(at, 4);
        auto type = number(at + 4, 4);
        if (!size || !type) return std::nullopt;
        Box box;
        box.offset = at;
        for (int i = 0; i < 4; ++i) box.type[i] = static_cast<char>((*type >> (8 * (3 - i))) & 0xff);
        std::uint64_t header = 8;
        if (*size == 1 && at + 16 <= end) {
            auto wide = number(at + 8, 8);
            if (!wide) return std::nullopt;
            size = wide;
            header = 16;
        } else if (*size == 0) {
            size = end - at;
        }
        if (*size < header) return std::nullopt;
        box.payload = at + header;
        box.end = at + std::min(*size, end - at);
        return box;
    }

    template <typename Visit>
    void children(std::uint64_t from, std::uint64_t end, Visit visit) {
        for (std::uint64_t at = from; auto child = box(at, end);) {
            if (!visit(*child)) return;
            if (child->end <= at) return;
            at = child->end;
        }
    }

private:
    std::ifstream file_;
    std::uint64_t size_ = 0;
};

// The library's QuickTime reader keeps no fragment index when a track lacks a usable track ID
// (no "tkhd", or an ID past 2^31 - 1), and then walks about a billion empty index slots for every
// fragment it reads: seconds per fragment, hours for a long recording. Such a movie is damaged
// beyond what a player shows; it is refused before the library sees it.
bool fragmentsLackATrackID(const std::string& path) {
    BoxReader reader(path);
    bool unidentified = false;
    bool fragmented = false;
    bool movieSeen = false;
    reader.children(0, reader.size(), [&](const Box& top) {
        if (top.is("moof")) fragmented = true;
        if (top.is("moov") && !movieSeen) {
            movieSeen = true;  // the library skips any later one
            reader.children(top.payload, top.end, [&](const Box& part) {
                if (part.is("mvex") || part.is("moof")) fragmented = true;
                if (!part.is("trak")) return true;
                std::optional<std::uint64_t> trackID;
                reader.children(part.payload, part.end, [&](const Box& header) {
                    if (!header.is("tkhd")) return true;
                    auto version = reader.number(header.payload, 1);
                    // Read as the library does, even past a box too short to hold it.
                    trackID = reader.number(header.payload + (version == 1u ? 20 : 12), 4).value_or(0);
                    return true;
                });
                if (!trackID || *trackID > 0x7fffffffu) unidentified = true;
                return true;
            });
            // A movie whose tracks are all identified needs no further look.
            if (!unidentified) return false;
        }
        return !(unidentified && fragmented);
    });
    return unidentified && fragmented;
}

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

InputContext openMovieHeader(const std::string& path) {
    constexpr const char* kStep = "The movie cannot be opened";
    if (fragmentsLackATrackID(path)) throw Error::inStep(kStep, AVERROR_INVALIDDATA);
    AVFormatContext* raw = nullptr;
    checkStep(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), kStep);
    return InputContext(raw);
}

void readStreamInfo(AVFormatContext* movie) {
    checkStep(avformat_find_stream_info(movie, nullptr), "The movie cannot be read");
}

InputContext openMovie(const std::string& path) {
    auto context = openMovieHeader(path);
    readStreamInfo(context.get());
    return context;
}

}  // namespace yux::platform::ffmpeg

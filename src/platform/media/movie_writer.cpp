#include "platform/media/movie_writer.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include <sched.h>

#include "platform/media/bgra_to_yuv.hpp"
#include "platform/media/exclusive_output_file.hpp"
#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/stacked_alpha_packer.hpp"

namespace yux::platform {

// Measured with bench/scratch_writer_bench on two cores (1080p60 screen, 30 fps camera, two
// audio tracks): "ultrafast" sustains about 60 fps; "superfast" and "veryfast" about 40.
const char* const kScratchVideoPreset = "ultrafast";

namespace {

using namespace ffmpeg;

// Video ticks of 1/90000 s: fine enough to keep host-clock frame times apart, coarse enough
// that a still screen sending no frame for hours fits the container's 32-bit sample durations.
constexpr int kVideoTimeScale = 90000;
// A frame whose sample carries no duration lasts one frame at 60 fps.
constexpr std::int64_t kDefaultFrameTicks = kVideoTimeScale / 60;

constexpr int kAudioSampleRate = 48000;
constexpr int kAudioChannels = 2;
constexpr std::int64_t kAudioBitRate = 192000;
constexpr int kAudioFrameSize = 1024;  // samples per AAC-LC frame

// Frames waiting for a video encoder. Each holds a full picture (often a slot of the capture
// source's small shared-memory pool), and a deeper queue only postpones the moment a frame the
// encoder cannot keep up with is dropped.
constexpr std::size_t kVideoQueueDepth = 4;
// Audio waiting for its encoder, in seconds rather than buffers: a short stall of the machine
// must not fail the recording, and audio is small.
constexpr double kAudioQueueSeconds = 5.0;
// Audio timestamps further than this from where the preceding sound ends are trusted: a gap is
// filled with silence, an overlap is cut. Closer ones are jitter and the sound stays continuous.
constexpr double kAudioResyncSeconds = 0.04;
// A gap in a track's sound is filled with silence only once sound this much newer has arrived:
// until then a buffer that was merely late (a busy machine, a sound server catching up) can
// still take its place, rather than be cut as an overlap of the silence.
constexpr double kLateAudioSeconds = 0.5;
// The scratch movie is written in fragments of about this length, each complete on disk with
// its own index: a full disk or a killed process loses at most the fragment being written.
constexpr double kFragmentSeconds = 1.0;
// One keyframe per this many seconds of nominal frames: most fragments then begin with one, a
// damaged picture spoils at most a second, and a copy export can cut close to any point.
constexpr double kKeyframeIntervalSeconds = 1.0;
// Frame threads of a video encoder: x264's own choice (one and a half per CPU) up to this many.
// Each holds a picture back, so a killed take loses fewer and the repeats that push them out
// stay few; more threads than four were no faster in bench/scratch_writer_bench, even on eight
// CPUs (two CPUs get three).
constexpr int kMaxEncoderThreads = 4;

std::runtime_error platformError(const std::string& sentence) { return std::runtime_error(sentence); }

struct Item {
    SampleBuffer sample;
    MediaTime relative;  // presentation time on the movie's timeline
    bool finish = false;
    MediaTime end;  // finish only: the session's end on the movie's timeline, or invalid
    bool again = false;  // the picture encoded last, once more
};

struct AudioInputKey {
    AudioSampleFormat format = AudioSampleFormat::float32;
    int rate = 0;
    int channels = 0;
    bool operator==(const AudioInputKey&) const = default;
};

// Converted sound placed on the movie's timeline (in samples at kAudioSampleRate).
struct PendingAudio {
    std::int64_t start = 0;
    Frame samples;  // planar, in the encoder's format
    int from = 0;   // first sample of `samples` that is used
    int count = 0;
    std::int64_t end() const { return start + count; }
};

struct Track {
    MovieTrackFormat format;
    int index = 0;
    AVStream* stream = nullptr;
    CodecContext encoder;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Item> items;
    double queuedAudioSeconds = 0;
    bool finished = false;  // markAsFinished seen
    // A picture at or after the session's end came, kept out of the movie: the last picture
    // kept lasts until it, so to the end, whether the end was known before it came or after.
    bool pictureAtEnd = false;
    bool stop = false;
    std::thread thread;
    // Pictures accepted and not yet muxed (or left out at the end); read by any thread.
    std::atomic<int> picturesInside{0};

    // Encoding thread only.
    ScaleContext scaler;
    Frame picture;
    StackedAlphaPacker packer;
    const std::uint8_t* packedInto = nullptr;  // the picture buffer the packer last wrote
    std::map<std::int64_t, std::int64_t> frameTicks;  // pts -> duration of frames inside the encoder
    std::int64_t lastPts = INT64_MIN;
    ResampleContext resampler;
    AudioInputKey resamplerKey;
    AudioFifo fifo;
    std::int64_t fifoPts = 0;  // time of the first sample in the FIFO; its end is where the next sound goes
    bool audioStarted = false;  // a buffer has been placed on the movie's timeline
    std::deque<PendingAudio> pending;  // placed, not yet in the FIFO; sorted by start
    std::int64_t newestEnd = 0;  // where the newest placed sound ends
    // The newest packet waits for the next one: at the end it may still be cut to the session's end.
    std::optional<Packet> held;

    bool isVideo() const { return format.layout != MovieTrackLayout::audio; }
    bool hasRoom() const {
        return isVideo() ? items.size() < kVideoQueueDepth : queuedAudioSeconds < kAudioQueueSeconds;
    }
};

double nominalRate(const MovieTrackFormat& format) {
    return format.frameRate > 0 && std::isfinite(format.frameRate) ? format.frameRate : kDefaultNominalFrameRate;
}

double secondsOf(const SampleBuffer& sample) {
    const auto* audio = sample.audio();
    return audio != nullptr && audio->sampleRate > 0 ? static_cast<double>(audio->frameCount()) / audio->sampleRate : 0;
}

class FfmpegMovieWriter : public std::enable_shared_from_this<FfmpegMovieWriter> {
public:
    FfmpegMovieWriter(std::string path, ExclusiveOutputFile::CommitOperations commit) : path_(std::move(path)) {
        file_ = std::make_unique<ExclusiveOutputFile>(path_, std::string(), std::move(commit));
        AVFormatContext* raw = nullptr;
        int result = avformat_alloc_output_context2(&raw, nullptr, "mov", nullptr);
        if (result < 0 || raw == nullptr) {
            file_.reset();
            throw Error("Preparing the movie", result);
        }
        format_.reset(raw);
    }

    ~FfmpegMovieWriter() {
        stopTracks();
        for (auto& track : tracks_) {
            if (track->thread.joinable()) track->thread.join();
        }
        std::lock_guard lock(lifecycle_);
        if (status_ == MovieWriterStatus::failed) {
            closeAndKeep();
        } else if (status_ != MovieWriterStatus::completed) {
            closeAndRemove();
        }
        format_.reset();
        file_.reset();
    }

    bool addTrack(const MovieTrackFormat& format) {
        std::lock_guard lock(lifecycle_);
        if (status_ != MovieWriterStatus::unknown) return false;
        try {
            auto track = std::make_unique<Track>();
            track->format = format;
            track->index = static_cast<int>(tracks_.size());
            if (track->isVideo()) {
                openVideoEncoder(*track);
            } else {
                openAudioEncoder(*track);
            }
            AVStream* stream = avformat_new_stream(format_.get(), nullptr);
            if (stream == nullptr) return false;
            check(avcodec_parameters_from_context(stream->codecpar, track->encoder.get()), "Describing a track");
            stream->time_base = track->encoder->time_base;
            av_dict_set(&stream->metadata, "handler_name", format.title.c_str(), 0);
            av_dict_set(&stream->metadata, "title", format.title.c_str(), 0);
            track->stream = stream;
            tracks_.push_back(std::move(track));
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    bool setMetadata(const std::string& key, const std::string& value) {
        std::lock_guard lock(lifecycle_);
        if (status_ != MovieWriterStatus::unknown || key.empty()) return false;
        return av_dict_set(&format_->metadata, key.c_str(), value.c_str(), 0) >= 0;
    }

    bool startWriting() {
        std::lock_guard lock(lifecycle_);
        if (status_ != MovieWriterStatus::unknown) return false;
        try {
            if (tracks_.empty()) throw platformError("A movie needs at least one track");
            openIo();
            AVDictionary* options = nullptr;
            // Fragments with the index up front, cut by mux() so that it knows where the last
            // whole one ends; keys of our own (the nominal frame rate) are kept only as metadata
            // tags.
            av_dict_set(&options, "movflags", "frag_custom+empty_moov+default_base_moof+use_metadata_tags", 0);
            int result = avformat_write_header(format_.get(), &options);
            av_dict_free(&options);
            if (result < 0 || file_->io()->error < 0) throw storageError(result, "Writing the movie header");
            avio_flush(file_->io());
            wholeFragmentsEnd_ = avio_tell(file_->io());
        } catch (...) {
            status_ = MovieWriterStatus::failed;
            error_ = std::current_exception();
            closeAndRemove();
            return false;
        }
        status_ = MovieWriterStatus::writing;
        running_ = static_cast<int>(tracks_.size());
        for (auto& track : tracks_) {
            Track* raw = track.get();
            track->thread = std::thread([this, raw] { runTrack(*raw); });
        }
        return true;
    }

    void startSession(MediaTime start) {
        std::lock_guard lock(timeline_);
        start_ = start;
    }
    void endSession(MediaTime end) {
        std::lock_guard lock(timeline_);
        end_ = end;
    }

    // How many more samples the track takes now; 0 when it is busy, finished or not writing. A
    // failed writer takes one: the caller's append is then refused and learns why from error(),
    // rather than mistaking the failure for a busy track.
    int room(int index) {
        if (index < 0 || index >= static_cast<int>(tracks_.size())) return 0;
        const auto current = status();
        if (current == MovieWriterStatus::failed) return 1;
        if (current != MovieWriterStatus::writing) return 0;
        Track& track = *tracks_[index];
        std::lock_guard lock(track.mutex);
        if (track.finished || track.stop || !track.hasRoom()) return 0;
        return track.isVideo() ? static_cast<int>(kVideoQueueDepth - track.items.size()) : 1;
    }

    bool append(int index, const SampleBuffer& sample, bool again) {
        const auto [start, end] = timeline();
        if (!isWriting() || !start.isValid() || index < 0 || index >= static_cast<int>(tracks_.size())) return false;
        Track& track = *tracks_[index];
        const bool fits = track.isVideo() ? sample.picture() != nullptr && sample.picture()->isValid()
                                          : sample.audio() != nullptr && sample.audio()->sampleRate > 0 &&
                                                sample.audio()->channels > 0;
        if (!fits || !sample.presentationTime.isValid()) return false;
        std::lock_guard lock(track.mutex);
        if (track.finished || track.stop || !track.hasRoom()) return false;
        if (end.isValid() && sample.presentationTime >= end) {  // after the movie: accepted, not kept
            if (track.isVideo()) track.pictureAtEnd = true;
            return true;
        }
        track.queuedAudioSeconds += secondsOf(sample);
        if (track.isVideo()) ++track.picturesInside;
        track.items.push_back(Item{sample, sample.presentationTime - start, false, {}, again && track.isVideo()});
        track.wake.notify_one();
        return true;
    }

    void markAsFinished(int index) {
        if (index < 0 || index >= static_cast<int>(tracks_.size())) return;
        Track& track = *tracks_[index];
        std::lock_guard lock(track.mutex);
        if (track.finished) return;
        track.finished = true;
        track.items.push_back(Item{{}, {}, true, relativeEnd()});
        track.wake.notify_one();
    }

    void finishWriting(std::function<void()> completion) {
        for (int i = 0; i < static_cast<int>(tracks_.size()); ++i) markAsFinished(i);
        std::thread([self = shared_from_this(), completion = std::move(completion)] {
            self->waitForTracks();
            {
                std::lock_guard lock(self->lifecycle_);
                if (self->status_ == MovieWriterStatus::writing) {
                    try {
                        self->writeTrailer();
                        self->status_ = MovieWriterStatus::completed;
                    } catch (...) {
                        self->status_ = MovieWriterStatus::failed;
                        self->error_ = std::current_exception();
                    }
                }
                if (self->status_ == MovieWriterStatus::failed) self->closeAndKeep();
                if (self->status_ != MovieWriterStatus::completed && self->status_ != MovieWriterStatus::failed) {
                    self->closeAndRemove();
                }
            }
            if (completion) completion();
        }).detach();
    }

    void cancelWriting() {
        {
            std::lock_guard lock(lifecycle_);
            if (status_ == MovieWriterStatus::completed) return;
            if (status_ == MovieWriterStatus::writing || status_ == MovieWriterStatus::unknown) {
                status_ = MovieWriterStatus::cancelled;
            }
        }
        stopTracks();
        waitForTracks();
        std::lock_guard lock(lifecycle_);
        if (status_ != MovieWriterStatus::completed) closeAndRemove();
    }

    MovieWriterStatus status() {
        std::lock_guard lock(lifecycle_);
        return status_;
    }
    int picturesHeld(int index) {
        if (index < 0 || index >= static_cast<int>(tracks_.size())) return 0;
        return tracks_[index]->picturesInside.load();
    }
    bool keepsPicture() {
        std::lock_guard lock(muxMutex_);
        return pictureKept_;
    }
    std::exception_ptr error() {
        std::lock_guard lock(lifecycle_);
        return error_;
    }

private:
    std::pair<MediaTime, MediaTime> timeline() {
        std::lock_guard lock(timeline_);
        return {start_, end_};
    }
    // The session's end on the movie's timeline, or invalid while it is not known.
    MediaTime relativeEnd() {
        const auto [start, end] = timeline();
        return start.isValid() && end.isValid() ? end - start : MediaTime::invalid();
    }

    bool isWriting() {
        std::lock_guard lock(lifecycle_);
        return status_ == MovieWriterStatus::writing;
    }

    void openVideoEncoder(Track& track) {
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        if (codec == nullptr) throw platformError("The H.264 encoder is not available");
        CodecContext context(avcodec_alloc_context3(codec));
        if (!context) throw std::bad_alloc();
        const bool stacked = track.format.layout == MovieTrackLayout::videoWithStackedAlpha;
        context->width = track.format.width;
        context->height = stacked ? track.format.height * 2 : track.format.height;
        context->pix_fmt = AV_PIX_FMT_YUV420P;
        context->time_base = {1, kVideoTimeScale};
        // The encoder's rate control assumes this rate; frame times themselves come from the samples.
        context->framerate = av_d2q(nominalRate(track.format), 1 << 16);
        // No B-frames: packets stay in presentation order, so cutting at the session's end
        // never removes a frame that an earlier one depends on.
        context->max_b_frames = 0;
        context->colorspace = AVCOL_SPC_SMPTE170M;
        context->color_primaries = AVCOL_PRI_SMPTE170M;
        context->color_trc = AVCOL_TRC_SMPTE170M;
        context->color_range = AVCOL_RANGE_MPEG;
        // Frame threads with x264's own threaded look-ahead, the fastest; their number is capped,
        // so the pictures they hold back stay few on any machine (the recording's repeats push
        // them out when the screen stands still). No look-ahead of rate control, which would
        // hold more.
        context->thread_count = encoderThreads();
        context->thread_type = FF_THREAD_FRAME;
        context->gop_size = std::max(1, static_cast<int>(std::lround(nominalRate(track.format) * kKeyframeIntervalSeconds)));
        if (format_->oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* options = nullptr;
        av_dict_set(&options, "preset", track.format.preset.empty() ? kScratchVideoPreset : track.format.preset.c_str(), 0);
        av_dict_set(&options, "rc-lookahead", "0", 0);
        int result = avcodec_open2(context.get(), codec, &options);
        av_dict_free(&options);
        check(result, "Opening the H.264 encoder");
        track.encoder = std::move(context);
        track.picture = makeFrame();
        track.picture->format = AV_PIX_FMT_YUV420P;
        track.picture->width = track.encoder->width;
        track.picture->height = track.encoder->height;
        check(av_frame_get_buffer(track.picture.get(), 0), "Allocating a picture");
    }

    // The CPUs this process may run on, as x264 counts them.
    static int encoderThreads() {
        cpu_set_t set;
        CPU_ZERO(&set);
        int cpus = sched_getaffinity(0, sizeof(set), &set) == 0 ? CPU_COUNT(&set) : 0;
        if (cpus <= 0) cpus = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        return std::clamp(cpus * 3 / 2, 1, kMaxEncoderThreads);
    }

    void openAudioEncoder(Track& track) {
        const AVCodec* codec = avcodec_find_encoder_by_name("aac");
        if (codec == nullptr) throw platformError("The AAC encoder is not available");
        CodecContext context(avcodec_alloc_context3(codec));
        if (!context) throw std::bad_alloc();
        context->sample_fmt = AV_SAMPLE_FMT_FLTP;
        context->sample_rate = kAudioSampleRate;
        av_channel_layout_default(&context->ch_layout, kAudioChannels);
        context->bit_rate = kAudioBitRate;
        context->profile = FF_PROFILE_AAC_LOW;
        context->time_base = {1, kAudioSampleRate};
        if (format_->oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        check(avcodec_open2(context.get(), codec, nullptr), "Opening the AAC encoder");
        track.encoder = std::move(context);
        track.fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, kAudioChannels, kAudioSampleRate));
        if (!track.fifo) throw std::bad_alloc();
    }

    void openIo() {
        format_->pb = file_->io();
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    }

    // Lifecycle lock held.
    void writeTrailer() {
        std::lock_guard lock(muxMutex_);
        trailerWritten_ = true;
        int result = av_write_trailer(format_.get());
        if (result < 0 || file_->io()->error < 0) throw storageError(result, "Finishing the movie");
        // Whole to its end now, should the commit fail.
        fragmentCompleted();
        try {
            file_->commit();
        } catch (const std::exception& error) {
            const int code = writeErrorNumber(error);
            // The commit's text names the file and the cause already.
            throw storageFailure(code != 0 ? code : EIO, error.what());
        }
    }

    // A failure of the file's writes, or of the muxer, in plain words.
    MovieWriterError storageError(int result, const std::string& step) const {
        // A failed write leaves its system error on the file's I/O context.
        int code = file_ && file_->io()->error < 0 ? AVUNERROR(file_->io()->error) : 0;
        if (code == 0) code = result < 0 ? AVUNERROR(result) : EIO;
        return storageFailure(code, step + " failed: " + errorText(AVERROR(code)));
    }

    // A failure with the system error `code`; `detail` is for the debug log.
    static MovieWriterError storageFailure(int code, const std::string& detail) {
        // A file-size limit stops a recording as a full disk does.
        if (code == ENOSPC || code == EDQUOT || code == EFBIG) {
            return MovieWriterError(MovieWriterError::Cause::diskFull, "The disk is full.", detail);
        }
        std::string cause = std::strerror(code);
        if (!cause.empty()) cause[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(cause[0])));
        return MovieWriterError(MovieWriterError::Cause::storage, "The movie file could not be written (" + cause + ").",
                                detail);
    }

    // Lifecycle lock held; encoding threads have stopped. The file goes unless it was committed.
    void closeAndRemove() {
        format_.reset();
        file_.reset();
    }

    bool hasVideo() const {
        return std::any_of(tracks_.begin(), tracks_.end(), [](const auto& track) { return track->isVideo(); });
    }

    // Mux lock held: the file is whole up to here.
    void fragmentCompleted() {
        wholeFragmentsEnd_ = avio_tell(file_->io());
        if (pictureInFragment_) pictureKept_ = true;
    }

    // Lifecycle lock held; encoding threads have stopped. Keeps every fragment that reached the
    // file, and the one still being gathered when the failure was not the file's own.
    void closeAndKeep() {
        if (!file_) return;
        bool kept = false;
        {
            std::lock_guard lock(muxMutex_);
            // The muxer frees its state in its trailer, whether or not that succeeds: a second
            // one would crash, and what the first one made whole is counted already.
            if (format_ && !trailerWritten_ && file_->io()->error >= 0) {
                trailerWritten_ = true;
                if (av_write_trailer(format_.get()) >= 0) {
                    avio_flush(file_->io());
                    if (file_->io()->error >= 0) fragmentCompleted();
                }
            }
            kept = pictureKept_ || !hasVideo();
        }
        // A movie whose fragments hold no picture is no take: nothing could show it.
        if (!kept) return closeAndRemove();
        // A fragment cut short by the failure would end the movie with a damaged picture.
        file_->keep(wholeFragmentsEnd_);
        format_.reset();
        file_.reset();
    }

    void stopTracks() {
        for (auto& track : tracks_) {
            std::lock_guard lock(track->mutex);
            track->stop = true;
            track->wake.notify_all();
        }
    }

    void waitForTracks() {
        std::unique_lock lock(doneMutex_);
        done_.wait(lock, [this] { return running_ == 0; });
    }

    void fail(std::exception_ptr error) {
        {
            std::lock_guard lock(lifecycle_);
            if (status_ == MovieWriterStatus::writing) {
                status_ = MovieWriterStatus::failed;
                error_ = error;
            }
        }
        stopTracks();
    }

    void runTrack(Track& track) {
        for (;;) {
            Item item;
            {
                std::unique_lock lock(track.mutex);
                track.wake.wait(lock, [&] { return track.stop || !track.items.empty(); });
                if (track.stop) break;
                item = std::move(track.items.front());
                track.items.pop_front();
                track.queuedAudioSeconds -= secondsOf(item.sample);
            }
            try {
                if (item.finish) {
                    flush(track, item.end);
                    break;
                }
                // Samples at or after the end of the movie are never encoded.
                const MediaTime end = relativeEnd();
                if (track.isVideo()) {
                    if (!end.isValid() || item.relative < end) {
                        encodeVideo(track, item);
                    } else {
                        --track.picturesInside;
                        std::lock_guard lock(track.mutex);
                        track.pictureAtEnd = true;
                    }
                } else {
                    encodeAudio(track, item, end);
                }
            } catch (const MovieWriterError&) {
                fail(std::current_exception());
                break;
            } catch (const std::exception& error) {
                fail(std::make_exception_ptr(
                    MovieWriterError(MovieWriterError::Cause::encoding, "The movie could not be encoded.", error.what())));
                break;
            } catch (...) {
                fail(std::make_exception_ptr(
                    MovieWriterError(MovieWriterError::Cause::encoding, "The movie could not be encoded.", "unknown error")));
                break;
            }
        }
        std::lock_guard lock(doneMutex_);
        --running_;
        done_.notify_all();
    }

    void encodeVideo(Track& track, const Item& item) {
        const int width = track.format.width;
        const int height = track.format.height;
        AVFrame* frame = track.picture.get();
        // Where the encoder still holds the frame, a copy of it, pixels included, becomes ours.
        check(av_frame_make_writable(frame), "Preparing a picture");
        // The picture encoded last, once more, is in the frame already.
        if (!item.again || track.lastPts == INT64_MIN) {
            PixelBuffer source = *item.sample.picture();
            if (source.width() != width || source.height() != height) source = resized(track, source, width, height);
            const YuvPlanes planes{frame->data[0],     frame->data[1],     frame->data[2],
                                   frame->linesize[0], frame->linesize[1], frame->linesize[2]};
            if (track.format.layout == MovieTrackLayout::videoWithStackedAlpha) {
                // The buffer is our own again once the encoder let go of it; a new one starts afresh.
                track.packer.pack(source, planes, frame->data[0] != track.packedInto);
                track.packedInto = frame->data[0];
            } else {
                convertBgraToYuv420(source, planes);
            }
        }

        std::int64_t pts = item.relative.convertedTo(kVideoTimeScale).value;
        if (pts <= track.lastPts) pts = track.lastPts + 1;  // rounding must not merge two frames
        track.lastPts = pts;
        auto duration = item.sample.duration.isValid() && item.sample.duration.value > 0
                            ? item.sample.duration.convertedTo(kVideoTimeScale).value
                            : kDefaultFrameTicks;
        track.frameTicks[pts] = std::max<std::int64_t>(duration, 1);
        frame->pts = pts;
        check(avcodec_send_frame(track.encoder.get(), frame), "Encoding video");
        receivePackets(track);
    }

    // A picture of another size than the track's (the screen changed its mode) is scaled to it.
    static PixelBuffer resized(Track& track, const PixelBuffer& source, int width, int height) {
        auto target = PixelBuffer::create(width, height);
        track.scaler.reset(sws_getCachedContext(track.scaler.release(), source.width(), source.height(),
                                                AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr,
                                                nullptr, nullptr));
        if (!track.scaler) throw platformError("Cannot scale the captured pictures");
        const std::uint8_t* sourcePlanes[4] = {source.data(), nullptr, nullptr, nullptr};
        const int sourceStrides[4] = {static_cast<int>(source.stride()), 0, 0, 0};
        std::uint8_t* targetPlanes[4] = {target.data(), nullptr, nullptr, nullptr};
        const int targetStrides[4] = {static_cast<int>(target.stride()), 0, 0, 0};
        sws_scale(track.scaler.get(), sourcePlanes, sourceStrides, 0, source.height(), targetPlanes, targetStrides);
        return target;
    }

    void prepareResampler(Track& track, const AudioBuffer& audio) {
        AudioInputKey key{audio.format, audio.sampleRate, audio.channels};
        if (track.resampler && track.resamplerKey == key) return;
        AVChannelLayout input{};
        av_channel_layout_default(&input, audio.channels);
        SwrContext* raw = nullptr;
        int result = swr_alloc_set_opts2(&raw, &track.encoder->ch_layout, AV_SAMPLE_FMT_FLTP, kAudioSampleRate, &input,
                                         audio.format == AudioSampleFormat::float32 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16,
                                         audio.sampleRate, 0, nullptr);
        av_channel_layout_uninit(&input);
        check(result, "Preparing audio conversion");
        ResampleContext resampler(raw);
        if (audio.channels == 1) {
            // A mono source plays on both sides at its own level rather than 3 dB down.
            const double both[kAudioChannels] = {1.0, 1.0};
            check(swr_set_matrix(resampler.get(), both, 1), "Preparing audio conversion");
        }
        check(swr_init(resampler.get()), "Preparing audio conversion");
        track.resampler = std::move(resampler);
        track.resamplerKey = key;
    }

    // Places the sound on the movie's timeline: sound before the movie's start is cut, sound
    // within kAudioResyncSeconds of where the preceding sound ends continues it seamlessly,
    // and anything else keeps its own time.
    void encodeAudio(Track& track, const Item& item, MediaTime end) {
        const AudioBuffer& audio = *item.sample.audio();
        const auto frames = static_cast<int>(audio.frameCount());
        if (frames <= 0) return;
        prepareResampler(track, audio);
        const int capacity = swr_get_out_samples(track.resampler.get(), frames) + 32;
        auto converted = audioFrame(track, capacity);
        const std::uint8_t* input[1] = {audio.bytes->data()};
        int count = check(swr_convert(track.resampler.get(), converted->data, capacity, input, frames), "Converting audio");

        std::int64_t first = item.relative.convertedTo(kAudioSampleRate).value;
        if (end.isValid()) count = static_cast<int>(std::min<std::int64_t>(count, end.convertedTo(kAudioSampleRate).value - first));
        int from = 0;
        if (first < 0) {
            // Before the movie's start: cut exactly there, whatever came before.
            from = static_cast<int>(std::min<std::int64_t>(-first, std::max(count, 0)));
            first = 0;
        }
        if (from >= count) return;
        auto at = track.pending.end();
        while (at != track.pending.begin() && std::prev(at)->start > first) --at;
        if (track.audioStarted && from == 0) {
            const std::int64_t before = at == track.pending.begin() ? fifoEnd(track) : std::prev(at)->end();
            const auto tolerance = static_cast<std::int64_t>(kAudioResyncSeconds * kAudioSampleRate);
            if (std::llabs(first - before) <= tolerance) first = before;
        }
        track.audioStarted = true;
        track.newestEnd = std::max(track.newestEnd, first + (count - from));
        track.pending.insert(at, PendingAudio{first, std::move(converted), from, count - from});
        commitAudio(track, false);
    }

    static std::int64_t fifoEnd(const Track& track) { return track.fifoPts + av_audio_fifo_size(track.fifo.get()); }

    // Moves placed sound into the encoder's queue in time order. A gap is filled with silence
    // once it is kLateAudioSeconds behind the newest sound (or at the end); sound that overlaps
    // what is already queued loses the overlap.
    void commitAudio(Track& track, bool all) {
        const auto settle = static_cast<std::int64_t>(kLateAudioSeconds * kAudioSampleRate);
        while (!track.pending.empty()) {
            PendingAudio& next = track.pending.front();
            const std::int64_t queuedEnd = fifoEnd(track);
            if (next.start > queuedEnd) {
                if (!all && track.newestEnd - next.start < settle) return;
                writeSilence(track, next.start - queuedEnd);
            }
            const std::int64_t overlap = std::max<std::int64_t>(queuedEnd - next.start, 0);
            if (overlap < next.count) {
                std::uint8_t* planes[kAudioChannels];
                for (int c = 0; c < kAudioChannels; ++c) {
                    planes[c] = next.samples->data[c] + (next.from + overlap) * static_cast<std::int64_t>(sizeof(float));
                }
                check(av_audio_fifo_write(track.fifo.get(), reinterpret_cast<void**>(planes),
                                          next.count - static_cast<int>(overlap)),
                      "Queueing audio");
            }
            track.pending.pop_front();
            encodeFifo(track, false);
        }
    }

    // Room for `samples` samples in the encoder's own format.
    static Frame audioFrame(const Track& track, int samples) {
        auto frame = makeFrame();
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->sample_rate = kAudioSampleRate;
        frame->nb_samples = samples;
        check(av_channel_layout_copy(&frame->ch_layout, &track.encoder->ch_layout), "Preparing audio");
        check(av_frame_get_buffer(frame.get(), 0), "Allocating audio");
        return frame;
    }

    // A gap in the source's sound, written in slices so a long one never needs much memory.
    void writeSilence(Track& track, std::int64_t samples) {
        constexpr int kSlice = 4800;
        std::vector<float> zeros(kSlice, 0.0f);
        void* planes[kAudioChannels];
        for (auto& plane : planes) plane = zeros.data();
        while (samples > 0) {
            const int slice = static_cast<int>(std::min<std::int64_t>(samples, kSlice));
            check(av_audio_fifo_write(track.fifo.get(), planes, slice), "Queueing audio");
            samples -= slice;
            encodeFifo(track, false);
        }
    }

    void encodeFifo(Track& track, bool all) {
        AVAudioFifo* fifo = track.fifo.get();
        while (av_audio_fifo_size(fifo) >= kAudioFrameSize || (all && av_audio_fifo_size(fifo) > 0)) {
            const int samples = std::min(av_audio_fifo_size(fifo), kAudioFrameSize);
            auto frame = audioFrame(track, samples);
            check(av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), samples), "Reading queued audio");
            frame->pts = track.fifoPts;
            track.fifoPts += samples;
            check(avcodec_send_frame(track.encoder.get(), frame.get()), "Encoding audio");
            receivePackets(track);
        }
    }

    void receivePackets(Track& track) {
        for (;;) {
            auto packet = makePacket();
            int result = avcodec_receive_packet(track.encoder.get(), packet.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
            check(result, "Encoding");
            // The AAC encoder's first packet only primes the decoder: it would need an edit list,
            // which fragments cannot carry for our readers, and without one the whole track
            // would sound late by its length. Dropping it leaves every track starting at zero;
            // the price is that the first 21 ms of sound fade in.
            if (!track.isVideo() && packet->pts + packet->duration <= 0) continue;
            if (track.isVideo()) {
                auto found = track.frameTicks.find(packet->pts);
                packet->duration = found != track.frameTicks.end() ? found->second : kDefaultFrameTicks;
                if (found != track.frameTicks.end()) track.frameTicks.erase(track.frameTicks.begin(), std::next(found));
            }
            if (track.held) {
                // A picture lasts until the next one: the muxer places the first picture of a
                // fragment right after the length of the last one before it.
                Packet& previous = *track.held;
                if (track.isVideo() && packet->pts > previous->pts) previous->duration = packet->pts - previous->pts;
                mux(track, *previous);
            }
            track.held = std::move(packet);
        }
    }

    // Drains the encoder and muxes what is left, up to `end`.
    void flush(Track& track, MediaTime end) {
        if (track.isVideo()) {
            check(avcodec_send_frame(track.encoder.get(), nullptr), "Encoding video");
        } else if (track.audioStarted) {
            commitAudio(track, true);
            if (track.resampler) {
                constexpr int kResamplerTail = 4096;  // more than the resampler ever holds back
                auto tail = audioFrame(track, kResamplerTail);
                int count = check(swr_convert(track.resampler.get(), tail->data, kResamplerTail, nullptr, 0),
                                  "Converting audio");
                if (count > 0) {
                    check(av_audio_fifo_write(track.fifo.get(), reinterpret_cast<void**>(tail->data), count),
                          "Queueing audio");
                }
            }
            encodeFifo(track, true);
            check(avcodec_send_frame(track.encoder.get(), nullptr), "Encoding audio");
        } else {
            check(avcodec_send_frame(track.encoder.get(), nullptr), "Encoding audio");
        }
        receivePackets(track);
        if (track.held && track.isVideo() && end.isValid() && followedToEnd(track)) {
            // The last picture lasts until the one that came at the end; mux() cuts it there.
            AVPacket& last = **track.held;
            last.duration = std::max(last.duration, end.convertedTo(track.encoder->time_base.den).value - last.pts);
        }
        if (track.held) mux(track, **track.held, end);
        track.held.reset();
    }

    static bool followedToEnd(Track& track) {
        std::lock_guard lock(track.mutex);
        return track.pictureAtEnd;
    }

    // Writes one packet; with the session's end known, nothing of it lies past that end.
    void mux(Track& track, AVPacket& packet, MediaTime end = MediaTime::invalid()) {
        if (track.isVideo()) --track.picturesInside;
        if (!end.isValid()) end = relativeEnd();
        if (end.isValid()) {
            const std::int64_t endTicks = end.convertedTo(track.encoder->time_base.den).value;
            if (packet.pts >= endTicks) return;
            if (packet.pts + packet.duration > endTicks) packet.duration = endTicks - packet.pts;
        }
        packet.stream_index = track.stream->index;
        av_packet_rescale_ts(&packet, track.encoder->time_base, track.stream->time_base);
        const double seconds = static_cast<double>(packet.pts) * av_q2d(track.stream->time_base);
        std::lock_guard lock(muxMutex_);
        int result = av_write_frame(format_.get(), &packet);
        if (result < 0 || file_->io()->error < 0) throw storageError(result, "Writing the movie");
        if (track.isVideo()) pictureInFragment_ = true;
        if (seconds - fragmentStart_ >= kFragmentSeconds) {
            fragmentStart_ = seconds;
            result = av_write_frame(format_.get(), nullptr);  // completes the fragment
            avio_flush(file_->io());
            if (result < 0 || file_->io()->error < 0) throw storageError(result, "Writing the movie");
            fragmentCompleted();
        }
    }

    std::string path_;
    std::unique_ptr<ExclusiveOutputFile> file_;
    OutputContext format_;
    std::vector<std::unique_ptr<Track>> tracks_;
    std::mutex timeline_;
    MediaTime start_;
    MediaTime end_;

    std::mutex lifecycle_;
    MovieWriterStatus status_ = MovieWriterStatus::unknown;
    std::exception_ptr error_;

    std::mutex muxMutex_;  // guards the muxer and the fields below
    double fragmentStart_ = 0;  // seconds on the movie's timeline
    std::int64_t wholeFragmentsEnd_ = -1;  // bytes of the file that hold whole fragments
    bool pictureInFragment_ = false;  // a picture was muxed
    bool pictureKept_ = false;  // and lies in a whole fragment
    bool trailerWritten_ = false;  // tried, at least: never again
    std::mutex doneMutex_;
    std::condition_variable done_;
    int running_ = 0;
};

// The in-memory writer: scripted readiness and results, no files, no threads.
struct NullMovieWriter {
    MovieWriter::NullScript script;
    std::mutex mutex;
    MovieWriterStatus status = MovieWriterStatus::unknown;
    std::exception_ptr error;
    int tracks = 0;
    MediaTime start;
};

}  // namespace

MovieWriter::MovieWriter(Operations operations) : operations_(std::move(operations)) {}

int MovieWriter::addTrack(const MovieTrackFormat& format) {
    if (!operations_.addTrack(format)) return -1;
    return tracks_++;
}

bool MovieWriter::append(int track, const SampleBuffer& sample) {
    if (!operations_.append(track, sample, false)) return false;
    appends_.record({track, sample.presentationTime, sample.duration});
    return true;
}

bool MovieWriter::appendAgain(int track, const SampleBuffer& sample) {
    if (!operations_.append(track, sample, true)) return false;
    appends_.record({track, sample.presentationTime, sample.duration, true});
    return true;
}

std::shared_ptr<MovieWriter> MovieWriter::create(const std::string& path, ExclusiveOutputFile::CommitOperations commit) {
    auto writer = std::make_shared<FfmpegMovieWriter>(path, std::move(commit));
    Operations operations;
    operations.addTrack = [writer](const MovieTrackFormat& format) { return writer->addTrack(format); };
    operations.setMetadata = [writer](const std::string& key, const std::string& value) {
        return writer->setMetadata(key, value);
    };
    operations.startWriting = [writer] { return writer->startWriting(); };
    operations.startSession = [writer](MediaTime start) { writer->startSession(start); };
    operations.room = [writer](int track) { return writer->room(track); };
    operations.append = [writer](int track, const SampleBuffer& sample, bool again) {
        return writer->append(track, sample, again);
    };
    operations.endSession = [writer](MediaTime end) { writer->endSession(end); };
    operations.markAsFinished = [writer](int track) { writer->markAsFinished(track); };
    operations.finishWriting = [writer](std::function<void()> completion) { writer->finishWriting(std::move(completion)); };
    operations.cancelWriting = [writer] { writer->cancelWriting(); };
    operations.status = [writer] { return writer->status(); };
    operations.error = [writer] { return writer->error(); };
    operations.picturesHeld = [writer](int track) { return writer->picturesHeld(track); };
    operations.keepsPicture = [writer] { return writer->keepsPicture(); };
    return std::make_shared<MovieWriter>(std::move(operations));
}

std::shared_ptr<MovieWriter> MovieWriter::create_null() { return create_null(NullScript{}); }

std::shared_ptr<MovieWriter> MovieWriter::create_null(NullScript script) {
    auto state = std::make_shared<NullMovieWriter>();
    state->script = std::move(script);
    Operations operations;
    operations.addTrack = [state](const MovieTrackFormat& format) {
        std::lock_guard lock(state->mutex);
        if (state->status != MovieWriterStatus::unknown || !state->script.canAdd(format)) return false;
        ++state->tracks;
        return true;
    };
    operations.setMetadata = [state](const std::string&, const std::string&) {
        std::lock_guard lock(state->mutex);
        return state->status == MovieWriterStatus::unknown;
    };
    operations.startWriting = [state] {
        std::lock_guard lock(state->mutex);
        if (state->script.startFails) {
            state->status = MovieWriterStatus::failed;
            return false;
        }
        state->status = MovieWriterStatus::writing;
        return true;
    };
    operations.startSession = [state](MediaTime start) {
        std::lock_guard lock(state->mutex);
        state->start = start;
    };
    operations.room = [state](int track) {
        std::lock_guard lock(state->mutex);
        return state->status == MovieWriterStatus::writing && state->script.ready(track) ? state->script.room(track) : 0;
    };
    operations.append = [state](int track, const SampleBuffer&, bool) {
        std::lock_guard lock(state->mutex);
        if (state->status != MovieWriterStatus::writing || !state->start.isValid() || track >= state->tracks) return false;
        if (state->script.accepts(track)) return true;
        if (state->script.refusalError) {
            state->status = MovieWriterStatus::failed;
            state->error = state->script.refusalError;
        }
        return false;
    };
    operations.endSession = [](MediaTime) {};
    operations.markAsFinished = [](int) {};
    operations.finishWriting = [state](std::function<void()> completion) {
        {
            std::lock_guard lock(state->mutex);
            if (state->status == MovieWriterStatus::writing) {
                state->status = state->script.finishStatus;
                if (state->status != MovieWriterStatus::completed) state->error = state->script.finishError;
            }
        }
        std::thread([completion = std::move(completion)] {
            if (completion) completion();
        }).detach();
    };
    operations.cancelWriting = [state] {
        std::lock_guard lock(state->mutex);
        if (state->status == MovieWriterStatus::writing || state->status == MovieWriterStatus::unknown) {
            state->status = MovieWriterStatus::cancelled;
        }
    };
    operations.status = [state] {
        std::lock_guard lock(state->mutex);
        return state->status;
    };
    operations.error = [state] {
        std::lock_guard lock(state->mutex);
        return state->error;
    };
    operations.picturesHeld = [state](int track) {
        std::lock_guard lock(state->mutex);
        return state->script.held(track);
    };
    operations.keepsPicture = [state] {
        std::lock_guard lock(state->mutex);
        return state->status == MovieWriterStatus::completed || state->script.keepsPicture;
    };
    return std::make_shared<MovieWriter>(std::move(operations));
}

}  // namespace yux::platform

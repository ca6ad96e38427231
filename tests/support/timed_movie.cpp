#include "support/timed_movie.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/media/audio_sample_reader.hpp"
#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/media_asset.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/movie_writer.hpp"
#include "support/synthetic_media.hpp"

namespace yux::testing {

namespace ff = yux::platform::ffmpeg;

namespace {

constexpr int kTicks = 60000;  // video time base
constexpr int kSampleRate = 48000;
constexpr int kSquare = 8;

struct Track {
    MovieEncoder out;
    std::map<std::int64_t, std::int64_t> durations;  // by pts, in encoder ticks
};

Track openVideo(AVFormatContext* output, int width, int height, const char* handler) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) throw std::runtime_error("libx264 missing");
    Track track{{ff::CodecContext(avcodec_alloc_context3(codec)), avformat_new_stream(output, nullptr)}, {}};
    AVCodecContext* c = track.out.context.get();
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, kTicks};
    c->max_b_frames = 0;
    c->gop_size = 30;
    c->thread_count = 1;
    if (output->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* settings = nullptr;
    av_dict_set(&settings, "preset", "ultrafast", 0);
    av_dict_set(&settings, "crf", "12", 0);
    ff::check(avcodec_open2(c, codec, &settings), "open video encoder");
    av_dict_free(&settings);
    ff::check(avcodec_parameters_from_context(track.out.stream->codecpar, c), "video parameters");
    track.out.stream->time_base = {1, kTicks};
    av_dict_set(&track.out.stream->metadata, "handler_name", handler, 0);
    return track;
}

void send(AVFormatContext* output, Track& track, AVFrame* frame) {
    ff::check(avcodec_send_frame(track.out.context.get(), frame), "encode");
    ff::Packet packet = ff::makePacket();
    while (true) {
        int result = avcodec_receive_packet(track.out.context.get(), packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
        ff::check(result, "encode");
        auto duration = track.durations.find(packet->pts);
        if (duration != track.durations.end()) packet->duration = duration->second;
        av_packet_rescale_ts(packet.get(), track.out.context->time_base, track.out.stream->time_base);
        packet->stream_index = track.out.stream->index;
        ff::check(av_interleaved_write_frame(output, packet.get()), "write");
    }
}

ff::Frame pictureFrame(int width, int height) {
    ff::Frame frame = ff::makeFrame();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    ff::check(av_frame_get_buffer(frame.get(), 0), "frame");
    return frame;
}

void fillRect(AVFrame* frame, int x0, int y0, int w, int h, std::uint8_t y, std::uint8_t u, std::uint8_t v) {
    for (int row = y0; row < y0 + h; ++row) std::memset(frame->data[0] + row * frame->linesize[0] + x0, y, w);
    for (int row = y0 / 2; row < (y0 + h) / 2; ++row) {
        std::memset(frame->data[1] + row * frame->linesize[1] + x0 / 2, u, w / 2);
        std::memset(frame->data[2] + row * frame->linesize[2] + x0 / 2, v, w / 2);
    }
}

std::int64_t ticksOf(double seconds) { return std::llround(seconds * kTicks); }

// Pictures at `times` (seconds), each lasting until the next and the last until `end`.
template <typename Fill>
void writePictures(AVFormatContext* output, Track& track, const std::vector<double>& times, double end, Fill fill) {
    ff::Frame frame = pictureFrame(track.out.context->width, track.out.context->height);
    for (std::size_t i = 0; i < times.size(); ++i) {
        std::int64_t pts = ticksOf(times[i]);
        std::int64_t next = i + 1 < times.size() ? ticksOf(times[i + 1]) : ticksOf(end);
        track.durations[pts] = std::max<std::int64_t>(1, next - pts);
        ff::check(av_frame_make_writable(frame.get()), "frame");
        fill(frame.get(), static_cast<int>(i));
        frame->pts = pts;
        send(output, track, frame.get());
    }
    send(output, track, nullptr);
}

double toneAt(const TimedAudioTrack& track, double t) {
    double value = 0;
    for (const auto& tone : track.tones) {
        if (t >= tone.start && t < tone.end) value += tone.amplitude * std::sin(2 * M_PI * tone.hz * (t - tone.start));
    }
    return value;
}

void writeAudio(AVFormatContext* output, Track& track, const TimedAudioTrack& options) {
    std::int64_t first = std::llround(options.start * kSampleRate);
    std::int64_t last = std::llround(options.end * kSampleRate);
    for (std::int64_t at = first; at < last; at += 1024) {
        int count = static_cast<int>(std::min<std::int64_t>(1024, last - at));
        ff::Frame frame = scratchAudioFrame(count);
        for (int ch = 0; ch < 2; ++ch) {
            auto* data = reinterpret_cast<float*>(frame->data[ch]);
            for (int i = 0; i < count; ++i) data[i] = static_cast<float>(toneAt(options, static_cast<double>(at + i) / kSampleRate));
        }
        frame->pts = at;
        send(output, track, frame.get());
    }
    send(output, track, nullptr);
}

}  // namespace

// Squares apart from one another, so no picture's square covers another's centre.
Point2 cameraSquareCenter(int k) { return {12 + 10 * (k % 30), 12 + 10 * (k / 30)}; }

void writeTimedMovie(const std::string& path, const TimedMovieOptions& options) {
    av_log_set_level(AV_LOG_ERROR);
    AVFormatContext* raw = nullptr;
    ff::check(avformat_alloc_output_context2(&raw, nullptr, "mov", path.c_str()), "create movie");
    ff::OutputContext output(raw);
    Track screen = openVideo(output.get(), options.width, options.height, "yux.source.screen");
    Track camera;
    if (!options.camera.empty()) camera = openVideo(output.get(), options.width, options.height * 2, "yux.source.camera");
    std::vector<Track> audio;
    for (const auto& track : options.audio) audio.push_back({openScratchAudio(output.get(), "yux.source." + track.kind), {}});
    if (options.screenFrameRate) {
        av_dict_set(&output->metadata, std::string(platform::kNominalScreenFrameRateKey).c_str(), options.screenFrameRate->c_str(), 0);
    }
    ff::check(avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), "open file");
    AVDictionary* muxing = nullptr;
    av_dict_set(&muxing, "movflags", "use_metadata_tags", 0);
    int written = avformat_write_header(output.get(), &muxing);
    av_dict_free(&muxing);
    ff::check(written, "header");

    // Tracks go one after another; the muxer's interleaving does not matter to a reader.
    std::vector<double> screenTimes;
    for (const auto& picture : options.screen) screenTimes.push_back(picture.seconds);
    writePictures(output.get(), screen, screenTimes, options.durationSeconds, [&](AVFrame* frame, int i) {
        std::uint8_t y, u, v;
        const auto& picture = options.screen[static_cast<std::size_t>(i)];
        toYuv(picture.color, y, u, v);
        fillRect(frame, 0, 0, frame->width, frame->height, y, u, v);
        if (picture.rightHalf) {
            toYuv(*picture.rightHalf, y, u, v);
            fillRect(frame, frame->width / 2, 0, frame->width / 2, frame->height, y, u, v);
        }
    });
    if (!options.camera.empty()) {
        writePictures(output.get(), camera, options.camera, options.durationSeconds, [&](AVFrame* frame, int k) {
            int h = options.height;
            fillRect(frame, 0, 0, frame->width, frame->height, 16, 128, 128);  // black picture, alpha 0 below
            std::uint8_t y, u, v;
            toYuv(kCameraSquareColor, y, u, v);
            Point2 centre = cameraSquareCenter(k);
            fillRect(frame, centre.x - kSquare / 2, centre.y - kSquare / 2, kSquare, kSquare, y, u, v);
            for (int row = 0; row < kSquare; ++row) {
                std::memset(frame->data[0] + (h + centre.y - kSquare / 2 + row) * frame->linesize[0] + centre.x - kSquare / 2, 255,
                            kSquare);
            }
        });
    }
    for (std::size_t i = 0; i < audio.size(); ++i) writeAudio(output.get(), audio[i], options.audio[i]);
    ff::check(av_write_trailer(output.get()), "trailer");
    avio_closep(&output->pb);
}

void writeScratchTake(const std::string& path, const std::vector<TimedPicture>& screen, double seconds,
                      const std::string& frameRate) {
    auto writer = platform::MovieWriter::create(path, platform::ExclusiveOutputFile::CommitOperations::unsynced());
    if (!writer->setMetadata(std::string(platform::kNominalScreenFrameRateKey), frameRate)) throw std::runtime_error("metadata");
    int track = writer->addTrack(platform::MovieTrackFormat::video("yux.source.screen", 320, 180));
    int sound = writer->addTrack(platform::MovieTrackFormat::audio("yux.source.systemAudio"));
    if (!writer->startWriting()) throw std::runtime_error("the writer did not start");
    writer->startSession(hostTime(0));
    auto append = [&](int to, const platform::SampleBuffer& sample) {
        while (!writer->isReadyForMoreMediaData(to)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!writer->append(to, sample)) throw std::runtime_error("the writer refused a sample");
    };
    for (const auto& picture : screen) {
        auto pixels = platform::PixelBuffer::create(320, 180);
        pixels.fill(picture.color.b, picture.color.g, picture.color.r, 255);
        auto sample = videoSample(hostTime(picture.seconds), pixels);
        sample.frameStatus = platform::FrameStatus::complete;
        append(track, sample);
    }
    constexpr int kBuffer = 480;
    for (int at = 0; at < seconds * kSampleRate; at += kBuffer) {
        append(sound, audioSample(hostTime(at / static_cast<double>(kSampleRate)),
                                  sineTone(440, kBuffer, kSampleRate, 2, platform::AudioSampleFormat::float32, at)));
    }
    writer->endSession(hostTime(seconds));
    writer->markAsFinished(track);
    writer->markAsFinished(sound);
    finishWritingAndWait(*writer);
    if (writer->status() != platform::MovieWriterStatus::completed) throw std::runtime_error("the take did not complete");
}

namespace {

void visitPictures(const std::string& path, const std::function<void(const platform::SampleBuffer&)>& visit) {
    platform::MovieTrackReader reader(path);
    for (const auto& track : reader.tracks()) {
        if (track.type != platform::MediaTrackType::video) continue;
        reader.readVideo(track, [&](const platform::SampleBuffer& sample) {
            visit(sample);
            return true;
        });
        return;
    }
    throw std::runtime_error("no video");
}

Rgb colorOf(const platform::PixelBuffer& picture, int x, int y) {
    const std::uint8_t* pixel = picture.row(y) + 4 * x;
    return {pixel[2], pixel[1], pixel[0]};
}

}  // namespace

std::vector<int> cameraPicturesShown(const std::string& path, int count) {
    std::vector<int> shown;
    visitPictures(path, [&](const platform::SampleBuffer& sample) {
        const platform::PixelBuffer& picture = *sample.picture();
        int found = -1;
        for (int k = 0; k < count && found < 0; ++k) {
            Point2 c = cameraSquareCenter(k);
            if (c.x >= picture.width() || c.y >= picture.height()) continue;
            if (near(colorOf(picture, c.x, c.y), kCameraSquareColor, 40)) found = k;
        }
        shown.push_back(found);
    });
    return shown;
}

std::vector<ShownPicture> picturesAt(const std::string& path, int x, int y) {
    std::vector<ShownPicture> pictures;
    visitPictures(path, [&](const platform::SampleBuffer& sample) {
        pictures.push_back({sample.presentationTime.seconds(), colorOf(*sample.picture(), x, y)});
    });
    return pictures;
}

double firstPictureShowing(const std::string& path, Rgb color, int x, int y) {
    for (const auto& picture : picturesAt(path, x, y)) {
        if (near(picture.color, color, 30)) return picture.seconds;
    }
    return -1;
}

std::vector<StoredPicture> storedPictures(const std::string& path) {
    // Opened as Yux opens a take, so a killed one shows its whole samples.
    platform::MovieLayout layout;
    ff::InputContext input = ff::openMovie(path, &layout);
    int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) throw std::runtime_error("no video");
    AVRational base = input->streams[index]->time_base;
    const std::int64_t whole = ff::wholeMedia(input.get(), layout).wholeSamples[static_cast<std::size_t>(index)];
    std::vector<StoredPicture> pictures;
    ff::Packet packet = ff::makePacket();
    while ((whole < 0 || static_cast<std::int64_t>(pictures.size()) < whole) &&
           av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == index && packet->pts != AV_NOPTS_VALUE) {
            pictures.push_back({static_cast<double>(packet->pts) * av_q2d(base), packet->size});
        }
        av_packet_unref(packet.get());
    }
    std::sort(pictures.begin(), pictures.end(), [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
    return pictures;
}

std::vector<double> pictureTimes(const std::string& path) {
    std::vector<double> times;
    for (const auto& picture : storedPictures(path)) times.push_back(picture.seconds);
    return times;
}

double firstSoundAt(const std::string& path, double threshold) {
    auto asset = platform::MediaAsset::open(path);
    auto audios = asset.tracksOf(platform::MediaTrackType::audio);
    if (audios.empty()) return -1;
    platform::AudioSampleReader reader(path, audios.front());
    reader.seek(platform::MediaTime::zero());
    std::vector<float> buffer(4096 * 2);
    std::int64_t position = 0;
    while (int got = reader.read(buffer.data(), 4096)) {
        for (int i = 0; i < got; ++i) {
            if (std::abs(buffer[static_cast<std::size_t>(i) * 2]) > threshold) {
                return static_cast<double>(position + i) / platform::AudioSampleReader::kSampleRate;
            }
        }
        position += got;
    }
    return -1;
}

}  // namespace yux::testing

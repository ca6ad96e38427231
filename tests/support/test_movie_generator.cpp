#include "support/test_movie_generator.hpp"
#include "support/synthetic_media.hpp"

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/media/audio_sample_reader.hpp"
#include "platform/media/movie_writer.hpp"
#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/media_asset.hpp"
#include "platform/media/video_frame_reader.hpp"

namespace yux::testing {

namespace ff = yux::platform::ffmpeg;

namespace {

constexpr std::array<Rgb, 6> kScreenColors{{{230, 30, 30}, {30, 200, 40}, {30, 60, 230},
                                            {230, 220, 40}, {40, 210, 220}, {240, 240, 240}}};
constexpr int kSampleRate = 48000;
// Roughly what the scratch writer spends on a busy 1080p60 screen.
constexpr std::int64_t kBenchBitsPerSecond = 12'000'000;

std::uint8_t noise(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<std::uint8_t>(16 + state % 220);
}

using Encoder = MovieEncoder;

Encoder openVideo(AVFormatContext* output, const TestMovieOptions& options, int height, const char* handler) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) throw std::runtime_error("libx264 missing");
    Encoder encoder{ff::CodecContext(avcodec_alloc_context3(codec)), avformat_new_stream(output, nullptr)};
    AVCodecContext* c = encoder.context.get();
    c->width = options.width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, options.frameRate};
    c->framerate = {options.frameRate, 1};
    c->gop_size = options.frameRate;
    c->max_b_frames = 0;
    c->thread_count = 2;
    if (output->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* settings = nullptr;
    av_dict_set(&settings, "preset", "ultrafast", 0);
    if (options.benchContent) {
        c->bit_rate = kBenchBitsPerSecond;
    } else {
        av_dict_set(&settings, "crf", "16", 0);
    }
    ff::check(avcodec_open2(c, codec, &settings), "open video encoder");
    av_dict_free(&settings);
    ff::check(avcodec_parameters_from_context(encoder.stream->codecpar, c), "video parameters");
    encoder.stream->time_base = {1, options.frameRate * 1000};
    av_dict_set(&encoder.stream->metadata, "handler_name", handler, 0);
    return encoder;
}

}  // namespace

MovieEncoder openScratchAudio(AVFormatContext* output, const std::string& handler) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    Encoder encoder{ff::CodecContext(avcodec_alloc_context3(codec)), avformat_new_stream(output, nullptr)};
    AVCodecContext* c = encoder.context.get();
    c->sample_rate = kSampleRate;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&c->ch_layout, 2);
    c->bit_rate = 192000;
    c->time_base = {1, kSampleRate};
    if (output->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ff::check(avcodec_open2(c, codec, nullptr), "open audio encoder");
    ff::check(avcodec_parameters_from_context(encoder.stream->codecpar, c), "audio parameters");
    encoder.stream->time_base = {1, kSampleRate};
    av_dict_set(&encoder.stream->metadata, "handler_name", handler.c_str(), 0);
    return encoder;
}

namespace {

void drain(AVFormatContext* output, Encoder& encoder, AVFrame* frame) {
    ff::check(avcodec_send_frame(encoder.context.get(), frame), "encode");
    ff::Packet packet = ff::makePacket();
    while (true) {
        int result = avcodec_receive_packet(encoder.context.get(), packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
        ff::check(result, "encode");
        av_packet_rescale_ts(packet.get(), encoder.context->time_base, encoder.stream->time_base);
        packet->stream_index = encoder.stream->index;
        ff::check(av_interleaved_write_frame(output, packet.get()), "write");
    }
}

}  // namespace

ff::Frame scratchAudioFrame(int count) {
    ff::Frame frame = ff::makeFrame();
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = kSampleRate;
    frame->nb_samples = count;
    av_channel_layout_default(&frame->ch_layout, 2);
    ff::check(av_frame_get_buffer(frame.get(), 0), "audio frame");
    return frame;
}

void toYuv(Rgb c, std::uint8_t& y, std::uint8_t& u, std::uint8_t& v) {
    y = static_cast<std::uint8_t>(std::lround(16 + (65.481 * c.r + 128.553 * c.g + 24.966 * c.b) / 255));
    u = static_cast<std::uint8_t>(std::lround(128 + (-37.797 * c.r - 74.203 * c.g + 112.0 * c.b) / 255));
    v = static_cast<std::uint8_t>(std::lround(128 + (112.0 * c.r - 93.786 * c.g - 18.214 * c.b) / 255));
}

namespace {

void fillScreen(AVFrame* frame, const TestMovieOptions& options, int index) {
    int second = index / options.frameRate;
    std::uint8_t y, u, v;
    toYuv(screenColorAt(second), y, u, v);
    for (int row = 0; row < frame->height; ++row) std::memset(frame->data[0] + row * frame->linesize[0], y, frame->width);
    for (int row = 0; row < frame->height / 2; ++row) {
        std::memset(frame->data[1] + row * frame->linesize[1], u, frame->width / 2);
        std::memset(frame->data[2] + row * frame->linesize[2], v, frame->width / 2);
    }
    // A moving bar in the top eighth, so consecutive pictures differ.
    int band = std::max(2, frame->height / 8) & ~1;
    int barWidth = std::max(2, frame->width / 16) & ~1;
    int x = (index * 4) % std::max(2, frame->width - barWidth) & ~1;
    for (int row = 0; row < band; ++row) std::memset(frame->data[0] + row * frame->linesize[0] + x, 16, barWidth);
    if (!options.benchContent) return;
    static std::vector<std::uint8_t> texture;
    static std::uint32_t state = 2463534242u;
    int w = frame->width;
    if (texture.size() != static_cast<std::size_t>(w) * frame->height) {
        texture.resize(static_cast<std::size_t>(w) * frame->height);
        for (auto& value : texture) value = noise(state);
    }
    int shift = (index * 8) % w;
    for (int row = frame->height / 2; row < frame->height; ++row) {
        const std::uint8_t* source = texture.data() + static_cast<std::size_t>(row) * w;
        std::uint8_t* target = frame->data[0] + row * frame->linesize[0];
        std::memcpy(target, source + shift, static_cast<std::size_t>(w - shift));
        std::memcpy(target + (w - shift), source, static_cast<std::size_t>(shift));
    }
    for (int row = band; row < band + frame->height / 4; ++row) {
        std::uint8_t* target = frame->data[0] + row * frame->linesize[0] + w / 2;
        for (int col = 0; col < w / 4; ++col) target[col] = noise(state);
    }
}

void fillCamera(AVFrame* frame, const TestMovieOptions& options) {
    Circle bubble = bubbleCircle(options.width, options.height);
    std::uint8_t y, u, v;
    toYuv(kCameraColor, y, u, v);
    int h = options.height;
    for (int row = 0; row < h; ++row) {
        for (int col = 0; col < frame->width; ++col) {
            double dx = col + 0.5 - bubble.centerX, dy = row + 0.5 - bubble.centerY;
            bool inside = dx * dx + dy * dy <= bubble.radius * bubble.radius;
            frame->data[0][row * frame->linesize[0] + col] = inside ? y : 16;
            frame->data[0][(row + h) * frame->linesize[0] + col] = inside ? 255 : 0;
        }
    }
    for (int row = 0; row < frame->height / 2; ++row) {
        bool picture = row < h / 2;
        for (int col = 0; col < frame->width / 2; ++col) {
            double dx = col * 2 + 1 - bubble.centerX, dy = row * 2 + 1 - bubble.centerY;
            bool inside = picture && dx * dx + dy * dy <= bubble.radius * bubble.radius;
            frame->data[1][row * frame->linesize[1] + col] = inside ? u : 128;
            frame->data[2][row * frame->linesize[2] + col] = inside ? v : 128;
        }
    }
}

}  // namespace

Rgb screenColorAt(int second) { return kScreenColors[static_cast<std::size_t>(second) % kScreenColors.size()]; }

Circle bubbleCircle(int width, int height) {
    return {width * 0.75, height * 0.7, height * 0.25};
}

namespace {

platform::MediaTime captureTime(double seconds) {
    // Host-clock stamps as a capture gives them, well after boot.
    return platform::MediaTime::fromSeconds(1000.0 + seconds);
}

platform::PixelBuffer screenPicture(const TestMovieOptions& options, int index) {
    auto picture = platform::PixelBuffer::create(options.width, options.height);
    Rgb color = screenColorAt(index / options.frameRate);
    picture.fill(color.b, color.g, color.r, 255);
    int band = std::max(2, options.height / 8);
    int barWidth = std::max(2, options.width / 16);
    int x = (index * 4) % std::max(2, options.width - barWidth);
    for (int row = 0; row < band; ++row) {
        std::uint8_t* pixel = picture.row(row) + 4 * x;
        for (int col = 0; col < barWidth; ++col, pixel += 4) pixel[0] = pixel[1] = pixel[2] = 0;
    }
    return picture;
}

platform::PixelBuffer cameraPicture(const TestMovieOptions& options) {
    auto picture = platform::PixelBuffer::create(options.width, options.height);
    picture.fill(0, 0, 0, 0);
    Circle bubble = bubbleCircle(options.width, options.height);
    for (int row = 0; row < options.height; ++row) {
        std::uint8_t* pixel = picture.row(row);
        for (int col = 0; col < options.width; ++col, pixel += 4) {
            double dx = col + 0.5 - bubble.centerX, dy = row + 0.5 - bubble.centerY;
            if (dx * dx + dy * dy > bubble.radius * bubble.radius) continue;
            pixel[0] = kCameraColor.b;
            pixel[1] = kCameraColor.g;
            pixel[2] = kCameraColor.r;
            pixel[3] = 255;
        }
    }
    return picture;
}

void appendWhenReady(platform::MovieWriter& writer, int track, const platform::SampleBuffer& sample) {
    while (!writer.isReadyForMoreMediaData(track)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!writer.append(track, sample)) throw std::runtime_error("the movie writer refused a sample");
}

void writeWithMovieWriter(const std::string& path, const TestMovieOptions& options) {
    // A scratch movie, committed as the recorder commits one.
    auto writer = platform::MovieWriter::create(path, platform::ExclusiveOutputFile::CommitOperations::unsynced());
    int screen = options.screen ? writer->addTrack(platform::MovieTrackFormat::video("yux.source.screen", options.width, options.height))
                                : -1;
    int camera = options.camera
                     ? writer->addTrack(platform::MovieTrackFormat::videoWithStackedAlpha("yux.source.camera", options.width, options.height))
                     : -1;
    int system = options.systemAudio ? writer->addTrack(platform::MovieTrackFormat::audio("yux.source.systemAudio")) : -1;
    int microphone = options.microphone ? writer->addTrack(platform::MovieTrackFormat::audio("yux.source.microphone")) : -1;
    if (!writer->startWriting()) std::rethrow_exception(writer->error());
    writer->startSession(captureTime(0));

    constexpr int kBufferFrames = 480;  // 10 ms, as the sound server delivers
    const int frames = static_cast<int>(std::lround(options.durationSeconds * options.frameRate));
    const std::int64_t samples = std::llround(options.durationSeconds * kSampleRate);
    const auto bubble = options.camera ? cameraPicture(options) : platform::PixelBuffer();
    const platform::MediaTime frameDuration(1, options.frameRate);
    std::int64_t audioWritten = 0;
    auto tone = [&](double hz, double amplitude) {
        std::vector<float> interleaved(static_cast<std::size_t>(kBufferFrames) * 2);
        for (int i = 0; i < kBufferFrames; ++i) {
            double t = static_cast<double>(audioWritten + i) / kSampleRate;
            float value = static_cast<float>(amplitude * std::sin(2 * M_PI * hz * t));
            interleaved[static_cast<std::size_t>(i) * 2] = interleaved[static_cast<std::size_t>(i) * 2 + 1] = value;
        }
        platform::SampleBuffer sample;
        sample.presentationTime = captureTime(static_cast<double>(audioWritten) / kSampleRate);
        sample.duration = platform::MediaTime(kBufferFrames, kSampleRate);
        sample.payload = platform::AudioBuffer::fromFloat(interleaved, kSampleRate, 2);
        return sample;
    };
    auto audioUpTo = [&](std::int64_t until) {
        while (audioWritten < until && audioWritten < samples) {
            if (system >= 0) appendWhenReady(*writer, system, tone(options.systemToneHz, options.systemAmplitude));
            if (microphone >= 0) appendWhenReady(*writer, microphone, tone(options.microphoneToneHz, options.microphoneAmplitude));
            audioWritten += kBufferFrames;
        }
    };
    for (int i = 0; i < frames; ++i) {
        audioUpTo(static_cast<std::int64_t>(i) * kSampleRate / options.frameRate);
        platform::SampleBuffer picture;
        picture.presentationTime = captureTime(static_cast<double>(i) / options.frameRate);
        picture.duration = frameDuration;
        picture.frameStatus = platform::FrameStatus::complete;
        picture.payload = screenPicture(options, i);
        if (screen >= 0) appendWhenReady(*writer, screen, picture);
        if (camera >= 0) {
            picture.payload = bubble;
            picture.frameStatus.reset();
            appendWhenReady(*writer, camera, picture);
        }
    }
    audioUpTo(samples + kBufferFrames);
    writer->endSession(captureTime(options.durationSeconds));
    for (int track : {screen, camera, system, microphone}) {
        if (track >= 0) writer->markAsFinished(track);
    }
    yux::testing::finishWritingAndWait(*writer);
    if (writer->status() != platform::MovieWriterStatus::completed) {
        if (auto error = writer->error()) std::rethrow_exception(error);
        throw std::runtime_error("the movie writer did not complete");
    }
}

}  // namespace

void writeTestMovie(const std::string& path, const TestMovieOptions& options) {
    av_log_set_level(AV_LOG_ERROR);
    if (options.container == "mov" && !options.benchContent) {
        writeWithMovieWriter(path, options);
        return;
    }
    AVFormatContext* raw = nullptr;
    ff::check(avformat_alloc_output_context2(&raw, nullptr, options.container.c_str(), path.c_str()), "create movie");
    ff::OutputContext output(raw);
    Encoder screen = openVideo(output.get(), options, options.height, "yux.source.screen");
    Encoder camera;
    if (options.camera) camera = openVideo(output.get(), options, options.height * 2, "yux.source.camera");
    Encoder system, microphone;
    if (options.systemAudio) system = openScratchAudio(output.get(), "yux.source.systemAudio");
    if (options.microphone) microphone = openScratchAudio(output.get(), "yux.source.microphone");
    ff::check(avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), "open file");
    ff::check(avformat_write_header(output.get(), nullptr), "header");

    int frames = static_cast<int>(std::lround(options.durationSeconds * options.frameRate));
    std::int64_t samples = std::llround(options.durationSeconds * kSampleRate);
    std::int64_t audioWritten = 0;
    ff::Frame picture = ff::makeFrame();
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = options.width;
    picture->height = options.height;
    ff::check(av_frame_get_buffer(picture.get(), 0), "frame");
    ff::Frame cameraPicture = ff::makeFrame();
    if (options.camera) {
        cameraPicture->format = AV_PIX_FMT_YUV420P;
        cameraPicture->width = options.width;
        cameraPicture->height = options.height * 2;
        ff::check(av_frame_get_buffer(cameraPicture.get(), 0), "frame");
        fillCamera(cameraPicture.get(), options);
    }

    auto writeAudioUpTo = [&](std::int64_t until) {
        while (audioWritten < until && audioWritten < samples) {
            int count = static_cast<int>(std::min<std::int64_t>(1024, samples - audioWritten));
            for (Encoder* encoder : {&system, &microphone}) {
                if (!encoder->context) continue;
                bool isSystem = encoder == &system;
                double hz = isSystem ? options.systemToneHz : options.microphoneToneHz;
                double amplitude = isSystem ? options.systemAmplitude : options.microphoneAmplitude;
                ff::Frame frame = scratchAudioFrame(count);
                for (int ch = 0; ch < 2; ++ch) {
                    auto* data = reinterpret_cast<float*>(frame->data[ch]);
                    for (int i = 0; i < count; ++i) {
                        double t = static_cast<double>(audioWritten + i) / kSampleRate;
                        data[i] = static_cast<float>(amplitude * std::sin(2 * M_PI * hz * t));
                    }
                }
                frame->pts = audioWritten;
                drain(output.get(), *encoder, frame.get());
            }
            audioWritten += count;
        }
    };

    for (int i = 0; i < frames; ++i) {
        writeAudioUpTo(static_cast<std::int64_t>(i) * kSampleRate / options.frameRate);
        ff::check(av_frame_make_writable(picture.get()), "frame");
        fillScreen(picture.get(), options, i);
        picture->pts = i;
        drain(output.get(), screen, picture.get());
        if (options.camera) {
            cameraPicture->pts = i;
            drain(output.get(), camera, cameraPicture.get());
        }
    }
    writeAudioUpTo(samples);
    for (Encoder* encoder : {&screen, &camera, &system, &microphone}) {
        if (encoder->context) drain(output.get(), *encoder, nullptr);
    }
    ff::check(av_write_trailer(output.get()), "trailer");
}

Rgb pixelAt(const std::string& path, double seconds, int x, int y) {
    auto asset = platform::MediaAsset::open(path);
    auto videos = asset.tracksOf(platform::MediaTrackType::video);
    if (videos.empty()) throw std::runtime_error("no video");
    platform::VideoFrameReader reader(path, videos.front());
    const AVFrame* frame = reader.frameAt(platform::MediaTime::fromSeconds(seconds, 60000));
    if (frame == nullptr) throw std::runtime_error("no picture");
    SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                                     frame->height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr);
    // The scaler's vector code may write a little past the last row's end.
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(frame->width) * frame->height * 3 + 64);
    std::uint8_t* out[4] = {rgb.data(), nullptr, nullptr, nullptr};
    int stride[4] = {frame->width * 3, 0, 0, 0};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, out, stride);
    sws_freeContext(sws);
    const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * frame->width + x) * 3];
    return {p[0], p[1], p[2]};
}

AudioSummary readAudio(const std::string& path) {
    auto asset = platform::MediaAsset::open(path);
    auto audios = asset.tracksOf(platform::MediaTrackType::audio);
    AudioSummary summary;
    if (audios.empty()) return summary;
    platform::AudioSampleReader reader(path, audios.front());
    reader.seek(platform::MediaTime::zero());
    std::vector<float> buffer(4096 * 2);
    double sum = 0;
    while (int got = reader.read(buffer.data(), 4096)) {
        for (int i = 0; i < got * 2; ++i) {
            sum += static_cast<double>(buffer[i]) * buffer[i];
            summary.peak = std::max(summary.peak, std::abs(static_cast<double>(buffer[i])));
        }
        summary.frames += got;
    }
    summary.rms = summary.frames > 0 ? std::sqrt(sum / (summary.frames * 2.0)) : 0;
    return summary;
}

bool near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

}  // namespace yux::testing

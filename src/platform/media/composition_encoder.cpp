#include "platform/media/composition_encoder.hpp"

#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "platform/media/composition_audio_mixer.hpp"
#include "platform/media/exclusive_output_file.hpp"
#include "platform/media/media_failure.hpp"

namespace yux::platform {

namespace {

// x264 and x265 presets: the fastest settings that still spend the bit rate well on screen
// content; the slower presets gain little on flat desktop pictures and cost several times the
// time on two cores.
constexpr const char* kH264Preset = "veryfast";
constexpr const char* kHevcPreset = "superfast";
constexpr int kAudioFrameSamples = 1024;  // AAC frame

// What users read when a step fails; the library's own words go to the debug log as the cause.
constexpr const char* kVideoUnreadable = "The source movie's video cannot be decoded.";
constexpr const char* kAudioUnreadable = "The source movie's audio cannot be decoded.";
constexpr const char* kCouldNotStart = "Encoder could not start";
constexpr const char* kEncoderFailed = "Encoder failed";
constexpr const char* kDidNotFinalize = "Encoder did not finalize";

// A step that writes to `file`: told as `sentence` (a fixed text), or as the failed write when the
// file saw one, whichever step noticed it.
template <typename Step>
auto writing(const char* sentence, const ExclusiveOutputFile& file, Step&& step) -> decltype(step()) {
    try {
        return toldAs(sentence, true, step);
    } catch (const MediaFailure& failure) {
        if (file.writeError() == 0) throw;
        throw MediaFailure(outputWriteSentence(file.writeError()), failure.cause());
    }
}

struct Output {
    ffmpeg::CodecContext encoder;
    AVStream* stream = nullptr;
    // Video: how long each picture shows, by its presentation time, so the last one ends exactly
    // where the export does rather than a whole frame interval later.
    std::map<std::int64_t, std::int64_t> durations;
};

void writePackets(AVFormatContext* output, Output& target) {
    ffmpeg::Packet packet = ffmpeg::makePacket();
    while (true) {
        int result = avcodec_receive_packet(target.encoder.get(), packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
        ffmpeg::check(result, "Encoding");
        if (auto duration = target.durations.find(packet->pts); duration != target.durations.end()) {
            packet->duration = duration->second;
            target.durations.erase(duration);
        }
        av_packet_rescale_ts(packet.get(), target.encoder->time_base, target.stream->time_base);
        packet->stream_index = target.stream->index;
        ffmpeg::check(av_interleaved_write_frame(output, packet.get()), "Writing the movie");
    }
}

Output openVideo(AVFormatContext* output, const CompositionEncodeSettings& settings) {
    bool hevc = settings.codec == VideoCodec::hevc;
    const AVCodec* codec = avcodec_find_encoder_by_name(hevc ? "libx265" : "libx264");
    if (codec == nullptr) throw MediaFailure("Video encoder unavailable", hevc ? "no libx265" : "no libx264", true);
    Output video{ffmpeg::CodecContext(avcodec_alloc_context3(codec)), avformat_new_stream(output, nullptr), {}};
    if (!video.encoder || video.stream == nullptr) throw std::bad_alloc();
    AVCodecContext* c = video.encoder.get();
    c->width = settings.geometry.cropWidth;
    c->height = settings.geometry.cropHeight;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, EditComposition::kTimescale};
    c->framerate = av_d2q(settings.frameRate, 100000);
    c->bit_rate = settings.videoBitsPerSecond;
    c->gop_size = std::max(1, static_cast<int>(std::lround(settings.frameRate * CompositionEncoder::kKeyframeIntervalSeconds)));
    c->thread_count = 0;
    if (output->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", hevc ? kHevcPreset : kH264Preset, 0);
    if (hevc) av_dict_set(&options, "x265-params", "log-level=error", 0);
    int opened = avcodec_open2(c, codec, &options);
    av_dict_free(&options);
    ffmpeg::check(opened, "Opening the video encoder");
    ffmpeg::check(avcodec_parameters_from_context(video.stream->codecpar, c), "Preparing the video track");
    video.stream->codecpar->codec_tag = MKTAG('a', 'v', 'c', '1');
    if (hevc) video.stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    video.stream->time_base = c->time_base;
    video.stream->avg_frame_rate = c->framerate;
    return video;
}

Output openAudio(AVFormatContext* output) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr) throw MediaFailure("Audio encoder unavailable", "no AAC encoder", true);
    Output audio{ffmpeg::CodecContext(avcodec_alloc_context3(codec)), avformat_new_stream(output, nullptr), {}};
    if (!audio.encoder || audio.stream == nullptr) throw std::bad_alloc();
    AVCodecContext* c = audio.encoder.get();
    c->sample_rate = CompositionAudioMixer::kSampleRate;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&c->ch_layout, CompositionAudioMixer::kChannels);
    c->bit_rate = CompositionEncoder::kAudioBitsPerSecond;
    c->time_base = {1, CompositionAudioMixer::kSampleRate};
    if (output->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ffmpeg::check(avcodec_open2(c, codec, nullptr), "Opening the audio encoder");
    ffmpeg::check(avcodec_parameters_from_context(audio.stream->codecpar, c), "Preparing the audio track");
    audio.stream->time_base = c->time_base;
    return audio;
}

}  // namespace

bool CompositionEncoder::canEncode(VideoCodec codec) {
    return avcodec_find_encoder_by_name(codec == VideoCodec::hevc ? "libx265" : "libx264") != nullptr;
}

bool CompositionEncoder::canEncodeAudio() { return avcodec_find_encoder(AV_CODEC_ID_AAC) != nullptr; }

void CompositionEncoder::encode(const std::string& sourcePath, const std::string& destinationPath,
                                const EditComposition& composition, const CompositionEncodeSettings& settings,
                                const Progress& progress, const CancelToken& cancel, const std::string& temporaryPath) {
    if (!(settings.frameRate > 0) || settings.geometry.cropWidth < 2 || settings.geometry.cropHeight < 2) {
        throw std::invalid_argument("The export needs a frame rate and a picture size.");
    }
    auto renderer = toldAs(kVideoUnreadable, false, [&] {
        return std::make_unique<CompositionVideoRenderer>(sourcePath, composition, settings.geometry);
    });
    CompositionAudioMixer mixer(sourcePath, composition, settings.volumes);
    if (mixer.hasAudio() && !canEncodeAudio()) throw MediaFailure("Audio encoder unavailable", "no AAC encoder", true);

    // Written under the temporary's name, when there is one, until whole, and on disk before
    // the caller goes on to delete its take.
    ExclusiveOutputFile file(temporaryPath.empty() ? destinationPath : temporaryPath,
                             temporaryPath.empty() ? std::string() : destinationPath);
    ffmpeg::OutputContext output;
    Output video;
    Output audio;
    writing(kCouldNotStart, file, [&] {
        AVFormatContext* raw = nullptr;
        ffmpeg::check(avformat_alloc_output_context2(&raw, nullptr, "mov", destinationPath.c_str()), "Creating the movie");
        output.reset(raw);
        output->pb = file.io();
        output->flags |= AVFMT_FLAG_CUSTOM_IO;
        video = openVideo(output.get(), settings);
        if (mixer.hasAudio()) audio = openAudio(output.get());
        ffmpeg::check(avformat_write_header(output.get(), nullptr), "Writing the movie header");
    });

    // Pictures at n / F for every n with n / F before the end; the end is where the media ends
    // when that comes before the composition's length.
    const std::int64_t endTicks = composition.mediaEnd().convertedTo(EditComposition::kTimescale).value;
    auto pictureTicks = [&](std::int64_t n) {
        return static_cast<std::int64_t>(std::llround(static_cast<double>(n) * EditComposition::kTimescale / settings.frameRate));
    };
    ffmpeg::Frame picture = ffmpeg::makeFrame();
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = settings.geometry.cropWidth;
    picture->height = settings.geometry.cropHeight;
    toldAs(kCouldNotStart, true, [&] { ffmpeg::check(av_frame_get_buffer(picture.get(), 0), "Preparing a picture"); });

    ffmpeg::Frame sound = ffmpeg::makeFrame();
    std::vector<float> mixed(static_cast<std::size_t>(kAudioFrameSamples) * CompositionAudioMixer::kChannels);
    std::int64_t picturesWritten = 0;
    bool videoDone = endTicks <= 0;
    bool audioDone = !mixer.hasAudio();
    auto encodeVideo = [&](AVFrame* frame) {
        writing(kEncoderFailed, file, [&] {
            ffmpeg::check(avcodec_send_frame(video.encoder.get(), frame), "Encoding video");
            writePackets(output.get(), video);
        });
    };
    auto encodeAudio = [&](AVFrame* frame) {
        writing(kEncoderFailed, file, [&] {
            ffmpeg::check(avcodec_send_frame(audio.encoder.get(), frame), "Encoding audio");
            writePackets(output.get(), audio);
        });
    };

    while (!videoDone || !audioDone) {
        cancel.throwIfCancelled();
        std::int64_t videoTicks = pictureTicks(picturesWritten);
        if (!videoDone && videoTicks >= endTicks) {
            videoDone = true;
            encodeVideo(nullptr);
            continue;
        }
        // Whichever stream is behind goes next, so the muxer interleaves with little buffering.
        double audioSeconds = static_cast<double>(mixer.position()) / CompositionAudioMixer::kSampleRate;
        bool videoNext = !videoDone && (audioDone || static_cast<double>(videoTicks) / EditComposition::kTimescale <= audioSeconds);
        if (videoNext) {
            AVFrame* rendered = toldAs(kVideoUnreadable, false, [&] {
                ffmpeg::check(av_frame_make_writable(picture.get()), "Preparing a picture");
                return renderer->render(MediaTime(videoTicks, EditComposition::kTimescale), picture.get());
            });
            rendered->pts = videoTicks;
            rendered->pict_type = AV_PICTURE_TYPE_NONE;  // the encoder picks its own keyframes
            video.durations[videoTicks] = std::min(pictureTicks(picturesWritten + 1), endTicks) - videoTicks;
            encodeVideo(rendered);
            ++picturesWritten;
            if (progress) progress(static_cast<double>(videoTicks) / EditComposition::kTimescale);
            continue;
        }
        std::int64_t start = mixer.position();
        int count = toldAs(kAudioUnreadable, false, [&] { return mixer.mix(mixed.data(), kAudioFrameSamples); });
        if (count > 0) {
            toldAs(kEncoderFailed, true, [&] {
                av_frame_unref(sound.get());
                sound->format = AV_SAMPLE_FMT_FLTP;
                sound->sample_rate = CompositionAudioMixer::kSampleRate;
                av_channel_layout_default(&sound->ch_layout, CompositionAudioMixer::kChannels);
                sound->nb_samples = count;
                ffmpeg::check(av_frame_get_buffer(sound.get(), 0), "Preparing audio");
            });
            auto* left = reinterpret_cast<float*>(sound->data[0]);
            auto* right = reinterpret_cast<float*>(sound->data[1]);
            for (int i = 0; i < count; ++i) {
                left[i] = mixed[static_cast<std::size_t>(i) * 2];
                right[i] = mixed[static_cast<std::size_t>(i) * 2 + 1];
            }
            sound->pts = start;
            encodeAudio(sound.get());
        }
        if (count < kAudioFrameSamples) {
            audioDone = true;
            encodeAudio(nullptr);
        }
    }
    cancel.throwIfCancelled();
    writing(kDidNotFinalize, file, [&] { ffmpeg::check(av_write_trailer(output.get()), "Finishing the movie"); });
    try {
        file.commit();
    } catch (const OutputFileWriteError& error) {
        throw MediaFailure(outputWriteSentence(error.errorNumber()), error.what());
    }
}

}  // namespace yux::platform

#include "platform/media/movie_track_reader.hpp"

#include <cstring>
#include <stdexcept>

#include "platform/media/ffmpeg_support.hpp"

extern "C" {
#include <libavutil/opt.h>
}

namespace yux::platform {

namespace {

using namespace ffmpeg;

InputContext openInput(const std::string& path) {
    AVFormatContext* raw = nullptr;
    int result = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (result < 0) throw std::runtime_error("Cannot open movie " + path + ": " + errorText(result));
    InputContext context(raw);
    result = avformat_find_stream_info(context.get(), nullptr);
    if (result < 0) throw std::runtime_error("Cannot read movie " + path + ": " + errorText(result));
    return context;
}

MediaTime timeIn(std::int64_t ticks, AVRational base) {
    if (ticks == AV_NOPTS_VALUE || base.den <= 0) return MediaTime::invalid();
    return {ticks * base.num, base.den};
}

std::string metadataText(AVDictionary* metadata, const char* key) {
    auto* entry = av_dict_get(metadata, key, nullptr, 0);
    return entry != nullptr && entry->value != nullptr ? entry->value : "";
}

CodecContext openDecoder(const AVStream* stream) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) throw std::runtime_error("No decoder for this movie's track");
    CodecContext context(avcodec_alloc_context3(codec));
    if (!context) throw std::bad_alloc();
    check(avcodec_parameters_to_context(context.get(), stream->codecpar), "Reading track parameters");
    context->pkt_timebase = stream->time_base;
    context->thread_count = 0;
    check(avcodec_open2(context.get(), codec, nullptr), "Opening decoder");
    return context;
}

// Feeds every packet of one stream to its decoder and hands each decoded frame to `onFrame`
// (which returns false to stop), then drains the decoder.
void decodeStream(AVFormatContext* format, int streamIndex, AVCodecContext* decoder,
                  const std::function<bool(AVFrame*)>& onFrame) {
    auto packet = makePacket();
    auto frame = makeFrame();
    auto drain = [&]() -> bool {
        for (;;) {
            int result = avcodec_receive_frame(decoder, frame.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
            check(result, "Decoding");
            bool more = onFrame(frame.get());
            av_frame_unref(frame.get());
            if (!more) return false;
        }
    };
    for (;;) {
        int result = av_read_frame(format, packet.get());
        if (result == AVERROR_EOF) break;
        check(result, "Reading movie");
        if (packet->stream_index == streamIndex) {
            int sent = avcodec_send_packet(decoder, packet.get());
            av_packet_unref(packet.get());
            if (sent < 0 && sent != AVERROR(EAGAIN)) check(sent, "Decoding");
            if (!drain()) return;
        } else {
            av_packet_unref(packet.get());
        }
    }
    avcodec_send_packet(decoder, nullptr);
    drain();
}

}  // namespace

MovieTrackReader::MovieTrackReader(std::string path) : path_(std::move(path)) {
    auto format = openInput(path_);
    duration_ = format->duration == AV_NOPTS_VALUE ? MediaTime::invalid() : MediaTime(format->duration, AV_TIME_BASE);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        MediaTrack track;
        track.path = path_;
        track.streamIndex = static_cast<int>(i);
        track.trackID = stream->id > 0 ? stream->id : static_cast<int>(i) + 1;
        track.type = parameters->codec_type == AVMEDIA_TYPE_VIDEO   ? MediaTrackType::video
                     : parameters->codec_type == AVMEDIA_TYPE_AUDIO ? MediaTrackType::audio
                                                                     : MediaTrackType::other;
        track.title = metadataText(stream->metadata, "handler_name");
        if (!track.title.starts_with("yux.")) {
            auto title = metadataText(stream->metadata, "title");
            if (!title.empty()) track.title = title;
        }
        track.codec = avcodec_get_name(parameters->codec_id);
        track.width = parameters->width;
        track.height = parameters->height;
        track.stackedAlpha = track.type == MediaTrackType::video && track.title == kStackedAlphaTrackTitle;
        if (track.stackedAlpha) track.height /= 2;
        track.timeBase = MediaTime(stream->time_base.num, stream->time_base.den);
        track.start = timeIn(stream->start_time, stream->time_base);
        track.duration = timeIn(stream->duration, stream->time_base);
        track.frameCount = stream->nb_frames;
        track.sampleRate = parameters->sample_rate;
        track.channels = parameters->ch_layout.nb_channels;
        track.bitRate = parameters->bit_rate;
        tracks_.push_back(std::move(track));
    }
}

const MediaTrack* MovieTrackReader::trackTitled(std::string_view title) const {
    for (const auto& track : tracks_) {
        if (track.title == title) return &track;
    }
    return nullptr;
}

void MovieTrackReader::readVideo(const MediaTrack& track, const std::function<bool(const SampleBuffer&)>& visit) const {
    if (track.type != MediaTrackType::video) throw std::invalid_argument("Not a video track");
    auto format = openInput(path_);
    const AVStream* stream = format->streams[track.streamIndex];
    auto decoder = openDecoder(stream);
    ScaleContext scaler;
    decodeStream(format.get(), track.streamIndex, decoder.get(), [&](AVFrame* frame) {
        const int width = frame->width;
        const int height = track.stackedAlpha ? frame->height / 2 : frame->height;
        auto picture = PixelBuffer::create(width, height);
        scaler.reset(sws_getCachedContext(scaler.release(), width, height, static_cast<AVPixelFormat>(frame->format),
                                          width, height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!scaler) throw std::runtime_error("Cannot convert the movie's pictures");
        std::uint8_t* destination[4] = {picture.data(), nullptr, nullptr, nullptr};
        int destinationStride[4] = {static_cast<int>(picture.stride()), 0, 0, 0};
        sws_scale(scaler.get(), frame->data, frame->linesize, 0, height, destination, destinationStride);
        if (track.stackedAlpha) {
            for (int y = 0; y < height; ++y) {
                const std::uint8_t* alpha = frame->data[0] + static_cast<std::ptrdiff_t>(height + y) * frame->linesize[0];
                std::uint8_t* row = picture.row(y);
                for (int x = 0; x < width; ++x) row[4 * x + 3] = alpha[x];
            }
        }
        SampleBuffer sample;
        sample.presentationTime = timeIn(frame->best_effort_timestamp, stream->time_base);
        sample.duration = timeIn(frame->pkt_duration, stream->time_base);
        sample.payload = std::move(picture);
        return visit(sample);
    });
}

std::vector<SampleBuffer> MovieTrackReader::videoFrames(const MediaTrack& track, std::size_t limit) const {
    std::vector<SampleBuffer> frames;
    if (limit == 0) return frames;
    readVideo(track, [&](const SampleBuffer& sample) {
        frames.push_back(sample);
        return frames.size() < limit;
    });
    return frames;
}

DecodedAudio MovieTrackReader::readAudio(const MediaTrack& track) const {
    if (track.type != MediaTrackType::audio) throw std::invalid_argument("Not an audio track");
    auto format = openInput(path_);
    const AVStream* stream = format->streams[track.streamIndex];
    auto decoder = openDecoder(stream);
    const int channels = decoder->ch_layout.nb_channels;
    auto samples = std::make_shared<std::vector<std::uint8_t>>();
    ResampleContext converter;
    MediaTime start;
    decodeStream(format.get(), track.streamIndex, decoder.get(), [&](AVFrame* frame) {
        if (!converter) {
            SwrContext* raw = nullptr;
            check(swr_alloc_set_opts2(&raw, &frame->ch_layout, AV_SAMPLE_FMT_FLT, frame->sample_rate, &frame->ch_layout,
                                      static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr),
                  "Preparing audio conversion");
            converter.reset(raw);
            check(swr_init(converter.get()), "Preparing audio conversion");
            start = timeIn(frame->best_effort_timestamp, stream->time_base);
        }
        const std::size_t offset = samples->size();
        samples->resize(offset + static_cast<std::size_t>(frame->nb_samples) * channels * sizeof(float));
        std::uint8_t* out[1] = {samples->data() + offset};
        int converted = check(swr_convert(converter.get(), out, frame->nb_samples,
                                          const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples),
                              "Converting audio");
        samples->resize(offset + static_cast<std::size_t>(converted) * channels * sizeof(float));
        return true;
    });
    DecodedAudio decoded;
    decoded.audio = AudioBuffer{AudioSampleFormat::float32, decoder->sample_rate, channels, samples};
    decoded.start = start;
    return decoded;
}

}  // namespace yux::platform

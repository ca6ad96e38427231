#include "platform/media/movie_track_reader.hpp"

#include <cstring>
#include <stdexcept>

#include "platform/media/audio_converter.hpp"
#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/track_decoder.hpp"

namespace yux::platform {

namespace {

using namespace ffmpeg;

MediaTime timeIn(std::int64_t ticks, AVRational base) {
    if (ticks == AV_NOPTS_VALUE || base.den <= 0 || base.num <= 0) return MediaTime::invalid();
    if (base.num == 1) return {ticks, base.den};
    return {av_rescale_q(ticks, base, AVRational{1, MediaTime::kNanosecondScale}), MediaTime::kNanosecondScale};
}

std::string metadataText(AVDictionary* metadata, const char* key) {
    auto* entry = av_dict_get(metadata, key, nullptr, 0);
    return entry != nullptr && entry->value != nullptr ? entry->value : "";
}

// The end of the last sample of any picture or sound track on the movie's timeline (which starts
// at 0), from the tracks' own sample tables.
MediaTime mediaEnd(const std::vector<MediaTrack>& tracks) {
    MediaTime end = MediaTime::invalid();
    for (const auto& track : tracks) {
        if (track.type == MediaTrackType::other || !track.duration.isValid()) continue;
        MediaTime start = track.start.isValid() ? track.start : MediaTime::zero();
        MediaTime trackEnd = start + track.duration;
        if (trackEnd > end) end = trackEnd;
    }
    return end;
}

// A camera track carries its alpha below the picture only in our own layout: beside a screen
// track of the same width and half its coded height. Elsewhere the title is only a title.
bool hasStackedAlpha(const MediaTrack& candidate, const std::vector<MediaTrack>& tracks) {
    if (candidate.type != MediaTrackType::video || candidate.title != kStackedAlphaTrackTitle) return false;
    if (candidate.height <= 0 || candidate.height % 2 != 0) return false;
    for (const auto& other : tracks) {
        if (&other == &candidate || other.type != MediaTrackType::video || other.title == kStackedAlphaTrackTitle) continue;
        if (other.width == candidate.width && other.height * 2 == candidate.height) return true;
    }
    return false;
}

}  // namespace

// The opened movie lives until the delegated constructor is done with it.
MovieTrackReader::MovieTrackReader(std::string path) : MovieTrackReader(path, openMovie(path).get()) {}

MovieTrackReader::MovieTrackReader(std::string path, AVFormatContext* format) : path_(std::move(path)) {
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
        track.timeBase = MediaTime(stream->time_base.num, stream->time_base.den);
        track.start = timeIn(stream->start_time, stream->time_base);
        track.duration = timeIn(stream->duration, stream->time_base);
        track.frameCount = stream->nb_frames;
        track.sampleRate = parameters->sample_rate;
        track.channels = parameters->ch_layout.nb_channels;
        track.bitRate = parameters->bit_rate;
        tracks_.push_back(std::move(track));
    }
    std::vector<bool> stacked;
    for (const auto& track : tracks_) stacked.push_back(hasStackedAlpha(track, tracks_));
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        tracks_[i].stackedAlpha = stacked[i];
        if (stacked[i]) tracks_[i].height /= 2;
    }

    // The tracks' own sample tables decide: a header can lie (a damaged one claimed 49 days over
    // 6 s), and a fragmented movie's header states nothing. The header serves only movies whose
    // tracks state no length (raw streams).
    MediaTime media = mediaEnd(tracks_);
    MediaTime header = format->duration == AV_NOPTS_VALUE ? MediaTime::invalid() : MediaTime(format->duration, AV_TIME_BASE);
    duration_ = media.isValid() ? media : header;
}

const MediaTrack* MovieTrackReader::trackTitled(std::string_view title) const {
    for (const auto& track : tracks_) {
        if (track.title == title) return &track;
    }
    return nullptr;
}

void MovieTrackReader::readVideo(const MediaTrack& track, const std::function<bool(const SampleBuffer&)>& visit) const {
    if (track.type != MediaTrackType::video) throw std::invalid_argument("Not a video track");
    TrackDecoder source(path_, track, true);
    const AVStream* stream = source.stream();
    ScaleContext scaler;
    auto frame = makeFrame();
    while (source.next(frame.get())) {
        const int width = frame->width;
        const int height = track.stackedAlpha ? frame->height / 2 : frame->height;
        auto picture = PixelBuffer::create(width, height);
        scaler.reset(sws_getCachedContext(scaler.release(), width, height, static_cast<AVPixelFormat>(frame->format),
                                          width, height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!scaler) throw std::runtime_error("The source movie's pictures cannot be converted.");
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
        av_frame_unref(frame.get());
        if (!visit(sample)) return;
    }
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
    TrackDecoder source(path_, track, false);
    const AVStream* stream = source.stream();
    std::vector<float> samples;
    std::unique_ptr<AudioConverter> converter;
    MediaTime start;
    auto frame = makeFrame();
    while (source.next(frame.get())) {
        // The first frame fixes the rate and channel count; later frames are converted to them.
        if (!converter) {
            if (frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0) {
                av_frame_unref(frame.get());
                continue;
            }
            converter = std::make_unique<AudioConverter>(frame->sample_rate, frame->ch_layout.nb_channels);
            start = timeIn(frame->best_effort_timestamp, stream->time_base);
        }
        converter->convert(frame.get(), samples);
        av_frame_unref(frame.get());
    }
    if (converter) converter->flush(samples);
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(samples.size() * sizeof(float));
    if (!samples.empty()) std::memcpy(bytes->data(), samples.data(), bytes->size());
    DecodedAudio decoded;
    decoded.audio = AudioBuffer{AudioSampleFormat::float32, converter ? converter->sampleRate() : track.sampleRate,
                                converter ? converter->channels() : std::max(track.channels, 1), bytes};
    decoded.start = start;
    return decoded;
}

}  // namespace yux::platform

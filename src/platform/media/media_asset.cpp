#include "platform/media/media_asset.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/media/ffmpeg_support.hpp"

namespace yux::platform {

namespace {

MediaTime streamTime(std::int64_t value, AVRational base) {
    if (value == AV_NOPTS_VALUE || base.den <= 0) return MediaTime::invalid();
    if (base.num == 1 && base.den <= std::numeric_limits<std::int32_t>::max()) {
        return {value, static_cast<std::int32_t>(base.den)};
    }
    return {av_rescale_q(value, base, AVRational{1, MediaTime::kNanosecondScale}), MediaTime::kNanosecondScale};
}

std::string tagText(std::uint32_t tag) {
    if (tag == 0) return {};
    std::string text;
    for (int i = 0; i < 4; ++i) text.push_back(static_cast<char>((tag >> (8 * i)) & 0xff));
    return text;
}

std::string metadataValue(AVDictionary* metadata, const char* key) {
    AVDictionaryEntry* entry = av_dict_get(metadata, key, nullptr, 0);
    return entry != nullptr && entry->value != nullptr ? entry->value : std::string();
}

// Smallest positive gap between consecutive presentation times in the index.
MediaTime smallestFrameInterval(AVStream* stream) {
    int count = avformat_index_get_entries_count(stream);
    std::vector<std::int64_t> times;
    times.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (entry != nullptr && entry->timestamp != AV_NOPTS_VALUE) times.push_back(entry->timestamp);
    }
    std::sort(times.begin(), times.end());
    std::int64_t best = 0;
    for (std::size_t i = 1; i < times.size(); ++i) {
        std::int64_t gap = times[i] - times[i - 1];
        if (gap > 0 && (best == 0 || gap < best)) best = gap;
    }
    return best > 0 ? streamTime(best, stream->time_base) : MediaTime::invalid();
}

}  // namespace

MediaAsset MediaAsset::open(const std::string& path) {
    AVFormatContext* raw = nullptr;
    ffmpeg::check(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "Opening the movie");
    ffmpeg::InputContext input(raw);
    ffmpeg::check(avformat_find_stream_info(input.get(), nullptr), "Reading the movie's streams");

    MediaAsset asset;
    asset.path = path;
    if (input->duration != AV_NOPTS_VALUE && input->duration >= 0) {
        asset.duration = MediaTime(input->duration, AV_TIME_BASE);
        asset.durationSeconds = static_cast<double>(input->duration) / AV_TIME_BASE;
    } else {
        asset.durationSeconds = std::numeric_limits<double>::quiet_NaN();
    }
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* stream = input->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        MediaTrack track;
        track.id = stream->id > 0 ? stream->id : static_cast<std::int32_t>(i + 1);
        track.streamIndex = static_cast<int>(i);
        switch (parameters->codec_type) {
            case AVMEDIA_TYPE_VIDEO: track.mediaType = MediaType::video; break;
            case AVMEDIA_TYPE_AUDIO: track.mediaType = MediaType::audio; break;
            default: track.mediaType = MediaType::other; break;
        }
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) track.mediaType = MediaType::other;
        track.title = metadataValue(stream->metadata, "title");
        if (track.title.empty()) track.title = metadataValue(stream->metadata, "handler_name");
        track.codecName = avcodec_get_name(parameters->codec_id);
        track.codecTag = tagText(parameters->codec_tag);
        track.width = parameters->width;
        track.height = parameters->height;
        track.sampleRate = parameters->sample_rate;
        track.channels = parameters->ch_layout.nb_channels;
        track.start = streamTime(stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time, stream->time_base);
        track.duration = stream->duration != AV_NOPTS_VALUE ? streamTime(stream->duration, stream->time_base)
                                                           : asset.duration;
        if (track.mediaType == MediaType::video) track.minFrameDuration = smallestFrameInterval(stream);
        asset.tracks.push_back(std::move(track));
    }
    return asset;
}

std::vector<MediaTrack> MediaAsset::tracksOf(MediaType type) const {
    std::vector<MediaTrack> result;
    for (const auto& track : tracks) {
        if (track.mediaType == type) result.push_back(track);
    }
    return result;
}

}  // namespace yux::platform

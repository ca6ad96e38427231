#include "platform/media/media_asset.hpp"

#include <algorithm>
#include <limits>

#include "platform/media/ffmpeg_support.hpp"

namespace yux::platform {

namespace {

MediaTime streamTime(std::int64_t value, AVRational base) {
    if (value == AV_NOPTS_VALUE || base.den <= 0) return MediaTime::invalid();
    return {av_rescale_q(value, base, AVRational{1, MediaTime::kNanosecondScale}), MediaTime::kNanosecondScale};
}

std::string tagText(std::uint32_t tag) {
    if (tag == 0) return {};
    std::string text;
    for (int i = 0; i < 4; ++i) text.push_back(static_cast<char>((tag >> (8 * i)) & 0xff));
    return text;
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
    if (best <= 0) return MediaTime::invalid();
    if (stream->time_base.num == 1) return {best, stream->time_base.den};
    return streamTime(best, stream->time_base);
}

}  // namespace

MediaAsset MediaAsset::open(const std::string& path) {
    MovieTrackReader reader(path);
    MediaAsset asset;
    asset.path = path;
    asset.duration = reader.duration();
    asset.durationSeconds = asset.duration.isValid() ? asset.duration.seconds() : std::numeric_limits<double>::quiet_NaN();
    asset.tracks = reader.tracks();

    // The reader lists tracks; the stored tags and index intervals need the demuxer itself.
    AVFormatContext* raw = nullptr;
    ffmpeg::checkStep(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "The movie cannot be opened");
    ffmpeg::InputContext input(raw);
    for (const auto& track : asset.tracks) {
        if (track.streamIndex < 0 || track.streamIndex >= static_cast<int>(input->nb_streams)) continue;
        AVStream* stream = input->streams[track.streamIndex];
        asset.codecTags_[track.streamIndex] = tagText(stream->codecpar->codec_tag);
        if (track.type == MediaTrackType::video) asset.minFrameDurations_[track.streamIndex] = smallestFrameInterval(stream);
    }
    return asset;
}

std::vector<MediaTrack> MediaAsset::tracksOf(MediaTrackType type) const {
    std::vector<MediaTrack> result;
    for (const auto& track : tracks) {
        if (track.type == type) result.push_back(track);
    }
    return result;
}

std::string MediaAsset::codecTag(const MediaTrack& track) const {
    auto found = codecTags_.find(track.streamIndex);
    return found == codecTags_.end() ? std::string() : found->second;
}

MediaTime MediaAsset::minFrameDuration(const MediaTrack& track) const {
    auto found = minFrameDurations_.find(track.streamIndex);
    return found == minFrameDurations_.end() ? MediaTime::invalid() : found->second;
}

}  // namespace yux::platform

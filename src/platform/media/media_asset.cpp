#include "platform/media/media_asset.hpp"

#include <algorithm>
#include <limits>
#include <map>
#include <stdexcept>

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
    // One open serves both: the stored tags and index intervals come from the header as stored,
    // before reading the stream information brings in more of a fragmented movie's index.
    MovieLayout layout;
    auto input = ffmpeg::openMovieHeader(path, &layout);
    std::map<int, std::string> tags;
    std::map<int, MediaTime> intervals;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* stream = input->streams[i];
        tags[static_cast<int>(i)] = tagText(stream->codecpar->codec_tag);
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) intervals[static_cast<int>(i)] = smallestFrameInterval(stream);
    }
    ffmpeg::readStreamInfo(input.get(), layout);
    MovieTrackReader reader(path, input.get());

    MediaAsset asset;
    asset.path = path;
    asset.duration = reader.duration();
    asset.durationSeconds = asset.duration.isValid() ? asset.duration.seconds() : std::numeric_limits<double>::quiet_NaN();
    asset.tracks = reader.tracks();
    asset.missingInside = ffmpeg::wholeMedia(input.get(), layout).missingInside;
    for (const auto& track : asset.tracks) {
        auto tag = tags.find(track.streamIndex);
        if (tag == tags.end()) continue;
        asset.codecTags_[track.streamIndex] = tag->second;
        auto interval = intervals.find(track.streamIndex);
        if (track.type == MediaTrackType::video && interval != intervals.end()) {
            asset.minFrameDurations_[track.streamIndex] = interval->second;
        }
    }
    return asset;
}

bool MediaAsset::holdsNoSample(const std::string& path) {
    MovieLayout layout;
    auto input = ffmpeg::openMovie(path, &layout);
    // The library opens a header cut short as a movie with fewer tracks, or none.
    if (!layout.movieBoxWhole) throw std::runtime_error("The movie cannot be read: the file ends early.");
    ffmpeg::Packet packet = ffmpeg::makePacket();
    const int result = av_read_frame(input.get(), packet.get());
    if (result == AVERROR_EOF) return true;
    ffmpeg::checkStep(result, "The movie cannot be read");
    return false;
}

void MediaAsset::requireWholeMedia() const {
    if (missingInside) throw ffmpeg::Error::inStep("The movie cannot be read", AVERROR_EOF);
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

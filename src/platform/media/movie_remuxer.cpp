#include "platform/media/movie_remuxer.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/media/exclusive_output_file.hpp"
#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/movie_track_reader.hpp"

namespace yux::platform {

namespace {

// How far a copied track may end before what its index promised, and the copy's duration may
// differ from the source's: less than one picture or sound packet of a recording.
constexpr double kCompletenessToleranceSeconds = 0.05;

constexpr const char* kWriteStep = "The copy cannot be written";

// The end (start + duration) the source's index promises for a stream, in seconds; NaN when unknown.
double promisedEnd(const AVStream* stream) {
    if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0) return std::nan("");
    double start = stream->start_time == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(stream->start_time);
    return (start + static_cast<double>(stream->duration)) * av_q2d(stream->time_base);
}

}  // namespace

MovieRemuxer::IncompleteCopyError::IncompleteCopyError() : std::runtime_error(kIncompleteText) {}

void MovieRemuxer::endAtTrackEnd(const AVStream* stream, AVPacket* last) {
    if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0 || last->dts == AV_NOPTS_VALUE) return;
    std::int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    std::int64_t remaining = start + stream->duration - last->dts;
    const auto tolerance = static_cast<std::int64_t>(kCompletenessToleranceSeconds / av_q2d(stream->time_base));
    if (remaining > 0 && remaining <= std::max<std::int64_t>(last->duration, 0) + tolerance) {
        last->duration = remaining;
    }
}

void MovieRemuxer::copy(const std::string& sourcePath, const std::string& destinationPath,
                        const Progress& progress, const CancelToken& cancel, const std::string& temporaryPath) {
    MovieLayout layout;
    ffmpeg::InputContext input = ffmpeg::openMovie(sourcePath, &layout);
    // Data missing before the end is a hole; a take cut inside its last fragment is copied up to
    // each track's last whole sample, as its length already says.
    const ffmpeg::WholeMedia whole = ffmpeg::wholeMedia(input.get(), layout);
    if (whole.missingInside) throw IncompleteCopyError();
    const MediaTime sourceDuration = MovieTrackReader(sourcePath).duration();
    std::int64_t sourceSize = input->pb != nullptr ? avio_size(input->pb) : -1;

    // Written under the temporary's name, when there is one, until whole, and on disk before
    // the caller goes on to delete its take.
    ExclusiveOutputFile file(temporaryPath.empty() ? destinationPath : temporaryPath,
                             temporaryPath.empty() ? std::string() : destinationPath);
    AVFormatContext* outRaw = nullptr;
    ffmpeg::checkStep(avformat_alloc_output_context2(&outRaw, nullptr, "mov", destinationPath.c_str()), kWriteStep);
    ffmpeg::OutputContext output(outRaw);
    output->pb = file.io();
    output->flags |= AVFMT_FLAG_CUSTOM_IO;

    // Source stream index -> output stream index (-1: not copied, e.g. a data stream mov cannot hold).
    std::vector<int> mapping(input->nb_streams, -1);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* in = input->streams[i];
        AVMediaType type = in->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_SUBTITLE) continue;
        AVStream* out = avformat_new_stream(output.get(), nullptr);
        if (out == nullptr) throw std::bad_alloc();
        ffmpeg::checkStep(avcodec_parameters_copy(out->codecpar, in->codecpar), kWriteStep);
        // Keep the stored tag (avc1, hvc1) unless mov cannot write it for this codec.
        if (avformat_query_codec(output->oformat, in->codecpar->codec_id, 1) != 1) {
            out->codecpar->codec_tag = 0;
        }
        out->time_base = in->time_base;
        out->id = in->id;
        out->disposition = in->disposition;
        av_dict_copy(&out->metadata, in->metadata, 0);
        for (int s = 0; s < in->nb_side_data; ++s) {
            const AVPacketSideData& side = in->side_data[s];
            std::uint8_t* data = av_stream_new_side_data(out, side.type, side.size);
            if (data == nullptr) throw std::bad_alloc();
            std::memcpy(data, side.data, side.size);
        }
        mapping[i] = out->index;
    }
    // The demuxer reads nothing more of a discarded stream, so neither an uncopied stream nor the
    // missing end of a cut one can stop the copy; what it read ahead for the stream information
    // still comes, and is left out. -1: the whole stream.
    std::vector<std::int64_t> toRead = whole.wholeSamples;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (mapping[i] < 0 || toRead[i] == 0) input->streams[i]->discard = AVDISCARD_ALL;
    }
    av_dict_copy(&output->metadata, input->metadata, 0);

    AVDictionary* options = nullptr;
    av_dict_set(&options, "use_stream_ids_as_track_ids", "1", 0);
    int opened = avformat_write_header(output.get(), &options);
    av_dict_free(&options);
    ffmpeg::checkStep(opened, kWriteStep);

    using Clock = std::chrono::steady_clock;
    auto lastReport = Clock::now();
    auto report = [&] {
        if (!progress) return;
        double fraction = 0;
        if (sourceSize > 0) fraction = static_cast<double>(avio_tell(input->pb)) / static_cast<double>(sourceSize);
        progress(std::clamp(fraction, 0.0, 1.0));
    };
    report();

    // Per source stream: the end of the last packet copied, in seconds.
    std::vector<double> copiedEnd(input->nb_streams, -INFINITY);
    // Each stream's last packet waits here until the track's end is known (endAtTrackEnd).
    std::vector<ffmpeg::Packet> last(input->nb_streams);
    auto write = [&](ffmpeg::Packet& held, unsigned sourceIndex) {
        AVStream* in = input->streams[sourceIndex];
        AVStream* out = output->streams[mapping[sourceIndex]];
        av_packet_rescale_ts(held.get(), in->time_base, out->time_base);
        held->stream_index = mapping[sourceIndex];
        held->pos = -1;
        ffmpeg::checkStep(av_interleaved_write_frame(output.get(), held.get()), kWriteStep);
        held.reset();
    };
    while (true) {
        cancel.throwIfCancelled();
        ffmpeg::Packet packet = ffmpeg::makePacket();
        int result = av_read_frame(input.get(), packet.get());
        if (result == AVERROR_EOF) break;
        if (result < 0) {
            // Missing or unreadable data before the end: a shorter copy is no copy.
            ffmpeg::logLibraryFailure("Reading the movie to copy", result);
            throw IncompleteCopyError();
        }
        const unsigned index = static_cast<unsigned>(packet->stream_index);
        if (index >= mapping.size() || mapping[index] < 0) continue;
        AVStream* in = input->streams[index];
        if (toRead[index] == 0) continue;
        if (toRead[index] > 0 && --toRead[index] == 0) in->discard = AVDISCARD_ALL;
        // The library gives the last sample of a fragment no length: it lasts as long as the track
        // says, as the readers of the source take it.
        if (const auto& lastSample = whole.lastSample[index]; lastSample && packet->dts == lastSample->start) {
            packet->duration = lastSample->end - lastSample->start;
        }
        std::int64_t at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (at != AV_NOPTS_VALUE) {
            double end = (static_cast<double>(at) + static_cast<double>(std::max<std::int64_t>(packet->duration, 0))) *
                         av_q2d(in->time_base);
            copiedEnd[index] = std::max(copiedEnd[index], end);
        }
        if (last[index]) write(last[index], index);
        last[index] = std::move(packet);
        auto now = Clock::now();
        if (std::chrono::duration<double>(now - lastReport).count() >= kProgressIntervalSeconds) {
            lastReport = now;
            report();
        }
    }
    cancel.throwIfCancelled();
    // The demuxer reports a file cut short as its end: every track must reach what its index
    // promised. A stream cut in the last fragment was promised only its whole samples.
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        double promised = promisedEnd(input->streams[i]);
        if (mapping[i] >= 0 && whole.wholeSamples[i] < 0 && std::isfinite(promised) &&
            copiedEnd[i] < promised - kCompletenessToleranceSeconds) {
            throw IncompleteCopyError();
        }
    }
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (!last[i]) continue;
        endAtTrackEnd(input->streams[i], last[i].get());
        write(last[i], i);
    }
    ffmpeg::checkStep(av_write_trailer(output.get()), kWriteStep);
    avio_flush(file.io());
    // What was written must read back as long as the source.
    MediaTime copied = MovieTrackReader(file.path()).duration();
    if (sourceDuration.isValid() &&
        !(copied.isValid() && std::abs(copied.seconds() - sourceDuration.seconds()) <= kCompletenessToleranceSeconds)) {
        throw IncompleteCopyError();
    }
    file.commit();
}

}  // namespace yux::platform

#include "platform/media/movie_remuxer.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/media/exclusive_output_file.hpp"
#include "platform/media/ffmpeg_support.hpp"

namespace yux::platform {

void MovieRemuxer::copy(const std::string& sourcePath, const std::string& destinationPath,
                        const Progress& progress, const CancelToken& cancel) {
    AVFormatContext* raw = nullptr;
    ffmpeg::check(avformat_open_input(&raw, sourcePath.c_str(), nullptr, nullptr), "Opening the movie");
    ffmpeg::InputContext input(raw);
    ffmpeg::check(avformat_find_stream_info(input.get(), nullptr), "Reading the movie's streams");
    std::int64_t sourceSize = input->pb != nullptr ? avio_size(input->pb) : -1;

    ExclusiveOutputFile file(destinationPath);
    AVFormatContext* outRaw = nullptr;
    ffmpeg::check(avformat_alloc_output_context2(&outRaw, nullptr, "mov", destinationPath.c_str()),
                  "Creating the movie");
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
        ffmpeg::check(avcodec_parameters_copy(out->codecpar, in->codecpar), "Copying stream parameters");
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
    av_dict_copy(&output->metadata, input->metadata, 0);

    AVDictionary* options = nullptr;
    av_dict_set(&options, "use_stream_ids_as_track_ids", "1", 0);
    int opened = avformat_write_header(output.get(), &options);
    av_dict_free(&options);
    ffmpeg::check(opened, "Writing the movie header");

    using Clock = std::chrono::steady_clock;
    auto lastReport = Clock::now();
    auto report = [&] {
        if (!progress) return;
        double fraction = 0;
        if (sourceSize > 0) fraction = static_cast<double>(avio_tell(input->pb)) / static_cast<double>(sourceSize);
        progress(std::clamp(fraction, 0.0, 1.0));
    };
    report();

    ffmpeg::Packet packet = ffmpeg::makePacket();
    while (true) {
        cancel.throwIfCancelled();
        int result = av_read_frame(input.get(), packet.get());
        if (result == AVERROR_EOF) break;
        ffmpeg::check(result, "Reading the movie");
        int target = packet->stream_index < static_cast<int>(mapping.size()) ? mapping[packet->stream_index] : -1;
        if (target < 0) {
            av_packet_unref(packet.get());
            continue;
        }
        AVStream* in = input->streams[packet->stream_index];
        AVStream* out = output->streams[target];
        av_packet_rescale_ts(packet.get(), in->time_base, out->time_base);
        packet->stream_index = target;
        packet->pos = -1;
        ffmpeg::check(av_interleaved_write_frame(output.get(), packet.get()), "Writing the movie");
        auto now = Clock::now();
        if (std::chrono::duration<double>(now - lastReport).count() >= kProgressIntervalSeconds) {
            lastReport = now;
            report();
        }
    }
    cancel.throwIfCancelled();
    ffmpeg::check(av_write_trailer(output.get()), "Finishing the movie");
    file.commit();
}

}  // namespace yux::platform

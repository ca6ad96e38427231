#include "support/hostile_movies.hpp"

#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/movie_remuxer.hpp"
#include "support/temporary_directory.hpp"

namespace yux::testing {

namespace ff = yux::platform::ffmpeg;

namespace {

std::uint32_t readBig32(const std::string& bytes, std::size_t at) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

void writeBig(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>((value >> (8 * (width - 1 - i))) & 0xff);
}

struct Encoder {
    ff::CodecContext context;
    AVStream* stream = nullptr;
};

void encodeAndWrite(AVFormatContext* output, AVCodecContext* encoder, AVStream* stream, AVFrame* frame) {
    ff::check(avcodec_send_frame(encoder, frame), "encode");
    ff::Packet packet = ff::makePacket();
    while (true) {
        int result = avcodec_receive_packet(encoder, packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
        ff::check(result, "encode");
        av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        ff::check(av_interleaved_write_frame(output, packet.get()), "write");
    }
}

ff::Frame toneFrame(AVCodecContext* encoder, std::int64_t first, int count, double hz) {
    ff::Frame frame = ff::makeFrame();
    frame->format = encoder->sample_fmt;
    frame->sample_rate = encoder->sample_rate;
    frame->nb_samples = count;
    ff::check(av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout), "layout");
    ff::check(av_frame_get_buffer(frame.get(), 0), "audio frame");
    const bool planar = av_sample_fmt_is_planar(encoder->sample_fmt) != 0;
    const int channels = encoder->ch_layout.nb_channels;
    for (int i = 0; i < count; ++i) {
        double t = static_cast<double>(first + i) / encoder->sample_rate;
        float value = static_cast<float>(0.5 * std::sin(2 * M_PI * hz * t));
        for (int c = 0; c < channels; ++c) {
            if (encoder->sample_fmt == AV_SAMPLE_FMT_FLTP || encoder->sample_fmt == AV_SAMPLE_FMT_FLT) {
                auto* data = reinterpret_cast<float*>(frame->data[planar ? c : 0]);
                data[planar ? i : i * channels + c] = value;
            } else if (encoder->sample_fmt == AV_SAMPLE_FMT_S16P || encoder->sample_fmt == AV_SAMPLE_FMT_S16) {
                auto* data = reinterpret_cast<std::int16_t*>(frame->data[planar ? c : 0]);
                data[planar ? i : i * channels + c] = static_cast<std::int16_t>(value * 32767);
            } else if (encoder->sample_fmt == AV_SAMPLE_FMT_S32P || encoder->sample_fmt == AV_SAMPLE_FMT_S32) {
                auto* data = reinterpret_cast<std::int32_t*>(frame->data[planar ? c : 0]);
                data[planar ? i : i * channels + c] = static_cast<std::int32_t>(value * 2147483647.0);
            } else {
                throw std::runtime_error("unexpected sample format");
            }
        }
    }
    return frame;
}

ff::CodecContext openAudioEncoder(const char* name, AVCodecID id, int rate, int channels, AVFormatContext* output) {
    const AVCodec* codec = name != nullptr ? avcodec_find_encoder_by_name(name) : avcodec_find_encoder(id);
    if (codec == nullptr) throw std::runtime_error("audio encoder missing");
    ff::CodecContext context(avcodec_alloc_context3(codec));
    context->sample_rate = rate;
    context->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&context->ch_layout, channels);
    context->bit_rate = 128000;
    context->time_base = {1, rate};
    if (output->oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ff::check(avcodec_open2(context.get(), codec, nullptr), "open audio encoder");
    return context;
}

void encodeTone(AVFormatContext* output, AVCodecContext* encoder, AVStream* stream, std::int64_t first, std::int64_t count,
                double hz) {
    const int chunk = encoder->frame_size > 0 ? encoder->frame_size : 1024;
    for (std::int64_t done = 0; done < count; done += chunk) {
        int n = static_cast<int>(std::min<std::int64_t>(chunk, count - done));
        if (encoder->frame_size > 0 && n < encoder->frame_size &&
            !(encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) {
            break;  // the last partial frame is left out rather than padded
        }
        auto frame = toneFrame(encoder, first + done, n, hz);
        frame->pts = first + done;
        encodeAndWrite(output, encoder, stream, frame.get());
    }
    encodeAndWrite(output, encoder, stream, nullptr);
}

ff::OutputContext createOutput(const std::string& path, const char* format) {
    AVFormatContext* raw = nullptr;
    ff::check(avformat_alloc_output_context2(&raw, nullptr, format, path.c_str()), "create movie");
    ff::OutputContext output(raw);
    ff::check(avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), "open file");
    return output;
}

}  // namespace

void remuxMovie(const std::string& source, const std::string& destination, const RemuxOptions& options) {
    ff::InputContext input = ff::openMovie(source);
    AVFormatContext* raw = nullptr;
    ff::check(avformat_alloc_output_context2(&raw, nullptr, "mov", destination.c_str()), "create movie");
    ff::OutputContext output(raw);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* in = input->streams[i];
        AVStream* out = avformat_new_stream(output.get(), nullptr);
        ff::check(avcodec_parameters_copy(out->codecpar, in->codecpar), "parameters");
        out->time_base = in->time_base;
        auto id = options.trackIDs.find(static_cast<int>(i));
        out->id = id != options.trackIDs.end() ? id->second : static_cast<int>(i) + 1;
        av_dict_copy(&out->metadata, in->metadata, 0);
        auto title = options.titles.find(static_cast<int>(i));
        if (title != options.titles.end()) av_dict_set(&out->metadata, "handler_name", title->second.c_str(), 0);
    }
    ff::check(avio_open(&output->pb, destination.c_str(), AVIO_FLAG_WRITE), "open file");
    AVDictionary* settings = nullptr;
    av_dict_set(&settings, "use_stream_ids_as_track_ids", "1", 0);
    if (!options.movflags.empty()) av_dict_set(&settings, "movflags", options.movflags.c_str(), 0);
    if (options.editList) av_dict_set(&settings, "use_editlist", "1", 0);
    int opened = avformat_write_header(output.get(), &settings);
    av_dict_free(&settings);
    ff::check(opened, "header");
    // Each stream's last packet is held back to be given the track's own end.
    std::vector<ff::Packet> last(input->nb_streams);
    auto write = [&](ff::Packet& packet) {
        av_packet_rescale_ts(packet.get(), input->streams[packet->stream_index]->time_base,
                             output->streams[packet->stream_index]->time_base);
        packet->pos = -1;
        ff::check(av_interleaved_write_frame(output.get(), packet.get()), "write");
        packet.reset();
    };
    while (true) {
        ff::Packet packet = ff::makePacket();
        if (av_read_frame(input.get(), packet.get()) < 0) break;
        auto& held = last[packet->stream_index];
        if (held) write(held);
        held = std::move(packet);
    }
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (!last[i]) continue;
        platform::MovieRemuxer::endAtTrackEnd(input->streams[i], last[i].get());
        write(last[i]);
    }
    ff::check(av_write_trailer(output.get()), "trailer");
}

std::vector<ByteRange> topLevelBoxes(const std::string& bytes, const char* type) {
    std::vector<ByteRange> found;
    std::size_t at = 0;
    while (at + 8 <= bytes.size()) {
        std::uint64_t size = readBig32(bytes, at);
        std::size_t header = 8;
        if (size == 1 && at + 16 <= bytes.size()) {
            size = (static_cast<std::uint64_t>(readBig32(bytes, at + 8)) << 32) | readBig32(bytes, at + 12);
            header = 16;
        } else if (size == 0) {
            size = bytes.size() - at;
        }
        if (size < header) break;
        if (bytes.compare(at + 4, 4, type) == 0) {
            std::size_t end = std::min<std::size_t>(bytes.size(), at + size);
            found.push_back({at + header, end - (at + header)});
        }
        at += size;
    }
    return found;
}

void flipMediaBytes(const std::string& path, std::uint32_t seed, int count) {
    std::string bytes = readWholeFile(path);
    auto media = topLevelBoxes(bytes, "mdat");
    std::size_t total = 0;
    for (const auto& range : media) total += range.size;
    if (total == 0) throw std::runtime_error("no media data");
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> pick(0, total - 1);
    for (int i = 0; i < count; ++i) {
        std::size_t n = pick(random);
        for (const auto& range : media) {
            if (n < range.size) {
                bytes[range.offset + n] = static_cast<char>(~bytes[range.offset + n]);
                break;
            }
            n -= range.size;
        }
    }
    writeWholeFile(path, bytes);
}

void setHeaderDuration(const std::string& path, double seconds) {
    std::string bytes = readWholeFile(path);
    auto movie = topLevelBoxes(bytes, "moov");
    if (movie.empty()) throw std::runtime_error("no movie box");
    std::size_t at = bytes.find("mvhd", movie.front().offset);
    if (at == std::string::npos) throw std::runtime_error("no movie header");
    bool wide = bytes[at + 4] == 1;
    std::uint32_t timescale = readBig32(bytes, at + (wide ? 24 : 16));
    auto units = static_cast<std::uint64_t>(seconds * timescale);
    if (wide) writeBig(bytes, at + 28, units, 8);
    else writeBig(bytes, at + 20, std::min<std::uint64_t>(units, 0xfffffffe), 4);
    writeWholeFile(path, bytes);
}

void setTrackHeaderDuration(const std::string& path, std::uint64_t ticks, int track) {
    std::string bytes = readWholeFile(path);
    auto movie = topLevelBoxes(bytes, "moov");
    if (movie.empty()) throw std::runtime_error("no movie box");
    const std::size_t end = movie.front().offset + movie.front().size;
    int index = 0;
    for (std::size_t at = bytes.find("mdhd", movie.front().offset); at != std::string::npos && at < end;
         at = bytes.find("mdhd", at + 4), ++index) {
        if (track >= 0 && index != track) continue;
        if (bytes[at + 4] == 1) writeBig(bytes, at + 28, ticks, 8);
        else writeBig(bytes, at + 20, std::min<std::uint64_t>(ticks, 0xffffffff), 4);
    }
    if (track >= index) throw std::runtime_error("no such track");
    writeWholeFile(path, bytes);
}

void delayFragments(const std::string& path, std::uint32_t trackID, std::uint64_t ticks) {
    std::string bytes = readWholeFile(path);
    for (const auto& fragment : topLevelBoxes(bytes, "moof")) {
        std::size_t end = fragment.offset + fragment.size;
        for (std::size_t traf = fragment.offset; traf + 8 <= end; traf += readBig32(bytes, traf)) {
            if (readBig32(bytes, traf) < 8) break;
            if (bytes.compare(traf + 4, 4, "traf") != 0) continue;
            std::size_t trafEnd = traf + readBig32(bytes, traf);
            std::uint32_t id = 0;
            for (std::size_t box = traf + 8; box + 8 <= trafEnd; box += readBig32(bytes, box)) {
                if (readBig32(bytes, box) < 8) break;
                if (bytes.compare(box + 4, 4, "tfhd") == 0) id = readBig32(bytes, box + 12);
                if (bytes.compare(box + 4, 4, "tfdt") != 0 || id != trackID) continue;
                if (bytes[box + 8] != 1) throw std::runtime_error("a 32-bit decode time");
                std::uint64_t time = (static_cast<std::uint64_t>(readBig32(bytes, box + 12)) << 32) + readBig32(bytes, box + 16);
                writeBig(bytes, box + 12, time + ticks, 8);
            }
        }
    }
    writeWholeFile(path, bytes);
}

void cutLastFragment(const std::string& path, FragmentCut where) {
    std::string bytes = readWholeFile(path);
    auto fragments = topLevelBoxes(bytes, where == FragmentCut::index ? "moof" : "mdat");
    if (fragments.empty()) throw std::runtime_error("no fragment");
    const ByteRange& last = fragments.back();
    bytes.resize(last.offset + last.size / 2);
    writeWholeFile(path, bytes);
}

void cutInsideSample(const std::string& path, int stream, double seconds) {
    std::int64_t end = -1;
    {
        ff::InputContext input = ff::openMovieHeader(path);
        if (stream >= static_cast<int>(input->nb_streams)) throw std::runtime_error("no such stream");
        AVStream* found = input->streams[stream];
        // Half a millisecond early: stamps are rounded to the track's ticks.
        const auto at = static_cast<std::int64_t>((seconds - 0.0005) / av_q2d(found->time_base));
        for (int i = 0; i < avformat_index_get_entries_count(found) && end < 0; ++i) {
            const AVIndexEntry* entry = avformat_index_get_entry(found, i);
            if (entry->timestamp >= at) end = entry->pos + entry->size / 2;
        }
    }
    if (end < 0) throw std::runtime_error("no sample that late");
    std::string bytes = readWholeFile(path);
    bytes.resize(static_cast<std::size_t>(end));
    writeWholeFile(path, bytes);
}

void moveFragmentDataPastEnd(const std::string& path, int fragment) {
    std::string bytes = readWholeFile(path);
    auto fragments = topLevelBoxes(bytes, "moof");
    if (fragment >= static_cast<int>(fragments.size())) throw std::runtime_error("no such fragment");
    const ByteRange& moof = fragments[static_cast<std::size_t>(fragment)];
    int runs = 0;
    for (std::size_t at = bytes.find("trun", moof.offset); at != std::string::npos && at < moof.offset + moof.size;
         at = bytes.find("trun", at + 4)) {
        if (!(readBig32(bytes, at + 4) & 0x1)) throw std::runtime_error("a run without a data offset");
        writeBig(bytes, at + 12, 0x7fffffff, 4);
        ++runs;
    }
    if (runs == 0) throw std::runtime_error("a fragment without runs");
    writeWholeFile(path, bytes);
}

void cutMediaData(const std::string& path, double share) {
    std::string bytes = readWholeFile(path);
    auto media = topLevelBoxes(bytes, "mdat");
    if (media.size() != 1) throw std::runtime_error("not one media data box");
    bytes.resize(media.front().offset + static_cast<std::size_t>(static_cast<double>(media.front().size) * share));
    writeWholeFile(path, bytes);
}

void writeChannelChangeMovie(const std::string& path, double stereoSeconds, double monoSeconds) {
    constexpr int kRate = 44100;
    auto output = createOutput(path, "mp3");
    auto stereo = openAudioEncoder("libmp3lame", AV_CODEC_ID_MP3, kRate, 2, output.get());
    auto mono = openAudioEncoder("libmp3lame", AV_CODEC_ID_MP3, kRate, 1, output.get());
    AVStream* stream = avformat_new_stream(output.get(), nullptr);
    ff::check(avcodec_parameters_from_context(stream->codecpar, stereo.get()), "parameters");
    stream->time_base = {1, kRate};
    ff::check(avformat_write_header(output.get(), nullptr), "header");
    auto stereoSamples = static_cast<std::int64_t>(stereoSeconds * kRate);
    encodeTone(output.get(), stereo.get(), stream, 0, stereoSamples, 440);
    // The mono stretch goes on the same stream, after the stereo one.
    mono->time_base = {1, kRate};
    encodeTone(output.get(), mono.get(), stream, stereoSamples + 2 * 1152, static_cast<std::int64_t>(monoSeconds * kRate), 660);
    ff::check(av_write_trailer(output.get()), "trailer");
}

void writeLateToneMovie(const std::string& path) {
    constexpr int kRate = 48000;
    constexpr int kFrameRate = 30;
    auto output = createOutput(path, "mov");
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr) throw std::runtime_error("libx264 missing");
    ff::CodecContext video(avcodec_alloc_context3(h264));
    video->width = 64;
    video->height = 64;
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->time_base = {1, kFrameRate};
    video->framerate = {kFrameRate, 1};
    video->max_b_frames = 0;
    if (output->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* settings = nullptr;
    av_dict_set(&settings, "preset", "ultrafast", 0);
    int opened = avcodec_open2(video.get(), h264, &settings);
    av_dict_free(&settings);
    ff::check(opened, "open video encoder");
    AVStream* picture = avformat_new_stream(output.get(), nullptr);
    ff::check(avcodec_parameters_from_context(picture->codecpar, video.get()), "parameters");
    picture->time_base = {1, kFrameRate * 1000};
    auto audio = openAudioEncoder(nullptr, AV_CODEC_ID_AAC, kRate, 2, output.get());
    AVStream* sound = avformat_new_stream(output.get(), nullptr);
    ff::check(avcodec_parameters_from_context(sound->codecpar, audio.get()), "parameters");
    sound->time_base = {1, kRate};
    ff::check(avformat_write_header(output.get(), nullptr), "header");

    ff::Frame frame = ff::makeFrame();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = 64;
    frame->height = 64;
    ff::check(av_frame_get_buffer(frame.get(), 0), "frame");
    for (int i = 0; i < 3 * kFrameRate; ++i) {
        ff::check(av_frame_make_writable(frame.get()), "frame");
        for (int plane = 0; plane < 3; ++plane) {
            int rows = plane == 0 ? 64 : 32;
            for (int row = 0; row < rows; ++row) std::memset(frame->data[plane] + row * frame->linesize[plane], 100 + i % 50, rows);
        }
        frame->pts = i;
        encodeAndWrite(output.get(), video.get(), picture, frame.get());
    }
    encodeAndWrite(output.get(), video.get(), picture, nullptr);
    encodeTone(output.get(), audio.get(), sound, kRate, kRate, 440);
    ff::check(av_write_trailer(output.get()), "trailer");
}

}  // namespace yux::testing

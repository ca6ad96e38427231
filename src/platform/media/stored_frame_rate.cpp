#include "platform/media/stored_frame_rate.hpp"

#include <charconv>
#include <cmath>

#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/movie_writer.hpp"

namespace yux::platform {

std::optional<double> storedScreenFrameRate(const std::string& path) {
    ffmpeg::InputContext input;
    try {
        input = ffmpeg::openMovieHeader(path);
    } catch (const ffmpeg::Error&) {
        return std::nullopt;
    }
    const AVDictionaryEntry* entry = av_dict_get(input->metadata, std::string(kNominalScreenFrameRateKey).c_str(), nullptr, 0);
    if (entry == nullptr || entry->value == nullptr) return std::nullopt;
    std::string_view text(entry->value);
    double rate = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rate);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(rate) || !(rate > 0)) return std::nullopt;
    return rate;
}

}  // namespace yux::platform

#include "platform/media/sample_buffer.hpp"

#include <cstring>

namespace yux::platform {

namespace {
template <class T>
std::shared_ptr<const std::vector<std::uint8_t>> bytesOf(const std::vector<T>& samples) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(samples.size() * sizeof(T));
    if (!samples.empty()) std::memcpy(bytes->data(), samples.data(), bytes->size());
    return bytes;
}
}  // namespace

AudioBuffer AudioBuffer::fromFloat(const std::vector<float>& interleaved, int sampleRate, int channels) {
    return AudioBuffer{AudioSampleFormat::float32, sampleRate, channels, bytesOf(interleaved)};
}

AudioBuffer AudioBuffer::fromInt16(const std::vector<std::int16_t>& interleaved, int sampleRate, int channels) {
    return AudioBuffer{AudioSampleFormat::int16, sampleRate, channels, bytesOf(interleaved)};
}

}  // namespace yux::platform

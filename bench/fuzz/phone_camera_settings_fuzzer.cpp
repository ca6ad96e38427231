// The phone camera's lens and orientation as the companion app sends them: a damaged value
// must fail only with the std::invalid_argument the decoders promise.
#include <cstdint>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "capture/phonelink/phone_camera_settings.hpp"

namespace {

template <class T>
void decode(const nlohmann::json& json) {
    try {
        T value = json.get<T>();
        // What decodes encodes back to the same text.
        if (nlohmann::json(value) != json) std::abort();
    } catch (const std::invalid_argument&) {
    }
}

void decodeEverywhere(const nlohmann::json& json) {
    decode<yux::PhoneLens>(json);
    decode<yux::PhoneOrientation>(json);
    if (json.is_structured()) {
        for (const auto& element : json) {
            decode<yux::PhoneLens>(element);
            decode<yux::PhoneOrientation>(element);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto json = nlohmann::json::parse(data, data + size, nullptr, false);
    if (!json.is_discarded()) decodeEverywhere(json);
    return 0;
}

// A payload from a phone or for it: the first byte picks the decoder. Decoders fail only with
// the link's own error or a JSON error, and what decodes survives a re-encode.
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "capture/phonelink/phone_link_messages.hpp"
#include "phone_fuzz_seeds.hpp"

using namespace yux;

namespace {

CameraWire::Bytes payloadOf(const CameraWire::Bytes& frame) {
    return CameraWire::Bytes(frame.begin() + CameraWire::headerSize, frame.end());
}

template <class T>
void roundTrip(std::span<const std::uint8_t> payload) {
    std::optional<T> value;
    try {
        value = T::decode(payload);
    } catch (const CameraWire::Failure&) {
        return;
    } catch (const nlohmann::json::exception&) {
        return;
    }
    CameraWire::Bytes frame;
    try {
        frame = value->encoded();
    } catch (const nlohmann::json::exception&) {
        // Texts that are not UTF-8 pass the decoder but cannot be written back as JSON.
        return;
    }
    if (!(T::decode(payloadOf(frame)) == *value)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const auto seed = [](std::uint8_t selector, const CameraWire::Bytes& frame) {
        CameraWire::Bytes bytes = {selector};
        bytes.insert(bytes.end(), frame.begin() + CameraWire::headerSize, frame.end());
        return bytes;
    };
    fuzz::writeSeedsIfAsked({
        seed(0, CameraCommand{false, true, "Desk", 1, true, 3}.encoded()),
        seed(1, MicrophoneStatus{1, "Phone", true, "Denied"}.encoded()),
        seed(2, MicrophonePacket(1, 960, 12.5, CameraWire::Bytes(64, 1)).encoded()),
        seed(3, MicrophoneClock{4.25, 1.5}.encoded()),
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > CameraWire::textPayloadLimit + 1) {
        return 0;
    }
    const std::span<const std::uint8_t> payload(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
        roundTrip<CameraCommand>(payload);
        break;
    case 1:
        roundTrip<MicrophoneStatus>(payload);
        break;
    case 2:
        roundTrip<MicrophonePacket>(payload);
        break;
    default:
        roundTrip<MicrophoneClock>(payload);
    }
    return 0;
}

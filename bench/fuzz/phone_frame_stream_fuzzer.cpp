// A byte stream from a phone: the frame decoder must fail only with its own error, keep no
// more than one frame, and every frame it completes must encode back to the bytes it came from.
#include <cstdlib>

#include "capture/phonelink/camera_wire.hpp"
#include "phone_fuzz_seeds.hpp"

using namespace yux;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::vector<std::vector<std::uint8_t>> seeds;
    std::vector<std::uint8_t> stream = {7};
    for (auto kind : {CameraWire::Kind::hello, CameraWire::Kind::microphoneStatus, CameraWire::Kind::frame,
                      CameraWire::Kind::clock, CameraWire::Kind::microphone}) {
        const auto frame = CameraWire::encode(kind, fuzz::bytesOf("{\"sent\":1,\"phone\":0}"));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    seeds.push_back(stream);
    seeds.push_back({3, 'Y', 'u', 'x', 1, 3, 0, 0, 0, 4, 0xFF, 0xD8, 0xFF, 0xD9});
    fuzz::writeSeedsIfAsked(seeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the chunk size the stream arrives in.
    const std::size_t chunk = std::size_t{data[0]} + 1;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);
    CameraWire::Decoder decoder;
    std::size_t consumed = 0;
    std::vector<std::uint8_t> reencoded;
    try {
        for (std::size_t start = 0; start < stream.size(); start += chunk) {
            const auto piece = stream.subspan(start, std::min(chunk, stream.size() - start));
            for (const auto& message : decoder.append(piece)) {
                const auto frame = CameraWire::encode(message.kind, message.payload);
                reencoded.insert(reencoded.end(), frame.begin(), frame.end());
            }
            consumed = start + piece.size();
            if (decoder.pendingSize() > CameraWire::headerSize + CameraWire::maximumPayload) {
                std::abort();
            }
        }
    } catch (const CameraWire::Failure&) {
        return 0;
    }
    // What was completed is exactly the stream's beginning; the rest waits in the decoder.
    if (reencoded.size() + decoder.pendingSize() != consumed ||
        !std::equal(reencoded.begin(), reencoded.end(), stream.begin())) {
        std::abort();
    }
    return 0;
}

// The last capture target ("yux.capture_preference").
#include "model/capture_target.hpp"
#include "json_fuzzing.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    yux::fuzzing::fuzzDocument<yux::CapturePreference>(data, size);
    return 0;
}

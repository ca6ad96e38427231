// The chosen camera, microphone and system audio ("yux.settings.captureInputs").
#include "model/capture_input_preferences.hpp"
#include "json_fuzzing.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    yux::fuzzing::fuzzDocument<yux::CaptureInputPreferences>(data, size);
    return 0;
}

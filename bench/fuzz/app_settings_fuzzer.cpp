// The save folder and recording shortcut ("yux.settings").
#include "model/app_settings.hpp"
#include "json_fuzzing.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    yux::fuzzing::fuzzDocument<yux::AppSettings>(data, size);
    return 0;
}

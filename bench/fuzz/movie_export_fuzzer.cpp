// Exporting a damaged recording as the trim window does after probing it: the fast copy of the
// whole take, and re-encodes of its first stretch as it stands and cut with a faster second part.
// Inputs damage the same seed movie as the opening program's (see movie_fuzzing.hpp); the length
// the probe reads is the opening program's concern, so the re-encodes stay short. A copy or an
// encode that does not end is reported as a timeout.
#include <algorithm>
#include <filesystem>
#include <memory>

#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "model/recording_preset.hpp"
#include "movie_fuzzing.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/movie_remuxer.hpp"

namespace {

// The re-encodes cover at most this much of the take, so a run stays short however long the
// media really is.
constexpr double kEncodedSeconds = 1.0;

class NullDebugLog : public yux::DebugLogBoundary {
public:
    QCoro::Task<void> append(std::string) override { co_return; }
};

// Half size: a re-encode, at a quarter of the pixels.
yux::RecordingPreset halfSize() {
    yux::RecordingPreset preset;
    preset.sharpness = 1.0;
    preset.motionDetail = 1.0;
    preset.resolutionScale = 0.5;
    preset.codec = yux::RecordingVideoCodec::h264;
    return preset;
}

void exportAsTheTrimWindowDoes(const std::string& path) {
    using namespace yux;
    FfmpegRecordingTrimBoundary boundary(std::make_shared<NullDebugLog>());
    const auto destination = fuzzing::scratchFile("export");
    double seconds = 0;
    try {
        auto probing = boundary.loadDurationSeconds(path);
        seconds = platform::waitForTask(probing);
    } catch (const std::exception&) {
        return;  // the trim window does not open such a take
    }
    try {
        platform::MovieRemuxer::copy(path, destination.string(), {}, platform::CancelToken());
    } catch (const std::exception&) {
    }
    std::filesystem::remove(destination);

    const double end = std::min(seconds, kEncodedSeconds);
    const TrimSelection selections[] = {
        TrimSelection(0, end),
        TrimSelection({{0, end / 2, 1, true}, {end / 2, end, 2, true}}, {}, {}),
    };
    for (const auto& selection : selections) {
        try {
            auto exporting = boundary.exportTrimmedSegment(path, destination.string(), selection, halfSize(), {});
            platform::waitForTask(exporting);
        } catch (const std::exception&) {
        }
        std::filesystem::remove(destination);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    yux::fuzzing::startMovieProgram(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return yux::fuzzing::runOnDamagedMovie(data, size, exportAsTheTrimWindowDoes);
}

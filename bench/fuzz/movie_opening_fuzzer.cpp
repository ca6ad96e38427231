// Opening a damaged recording as the trim window does: the duration probe, the track list, every
// track decoded, the thumbnails and the waveform. Each input is a list of byte changes applied to
// a small scratch-layout movie written once at start-up (see movie_fuzzing.hpp), so even an empty
// corpus starts from a movie that opens.
#include <filesystem>

#include "editor/recording_sources.hpp"
#include "editor/recording_waveform.hpp"
#include "movie_fuzzing.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/media_asset.hpp"
#include "platform/media/movie_track_reader.hpp"

namespace {

// As many bins as the trim window's audio lane draws, about.
constexpr int kWaveformBins = 200;

void openAsTheTrimWindowDoes(const std::string& path) {
    using namespace yux;
    platform::MediaAsset asset;
    try {
        asset = platform::MediaAsset::open(path);
    } catch (const std::exception&) {
        return;  // "cannot be opened" is the right answer for many damaged files
    }
    try {
        platform::MovieTrackReader reader(path);
        for (const auto& track : reader.tracks()) {
            if (track.type == platform::MediaTrackType::audio) {
                (void)reader.readAudio(track);
            } else if (track.type == platform::MediaTrackType::video) {
                (void)reader.videoFrames(track, 2);
            }
        }
    } catch (const std::exception&) {
    }
    try {
        auto loading = RecordingSources::load(path);
        for (const auto& source : platform::waitForTask(loading)) {
            if (!source.track || source.track->type != platform::MediaTrackType::video) continue;
            try {
                auto pictures = RecordingSources::thumbnails(source, asset.durationSeconds);
                (void)platform::waitForTask(pictures);
            } catch (const std::exception&) {
            }
        }
    } catch (const std::exception&) {
    }
    try {
        auto peaks = RecordingWaveform::peaks(path, std::nullopt, kWaveformBins);
        (void)platform::waitForTask(peaks);
    } catch (const std::exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    yux::fuzzing::startMovieProgram(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return yux::fuzzing::runOnDamagedMovie(data, size, openAsTheTrimWindowDoes);
}

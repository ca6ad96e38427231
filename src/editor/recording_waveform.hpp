#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QCoroTask>

#include "platform/async/cancel_token.hpp"
#include "platform/media/movie_track_reader.hpp"

namespace yux {

// The peak envelope an audio lane draws: for each of `bins` equal stretches of the recording the
// loudest absolute sample, scaled so the loudest bin is 1.
struct RecordingWaveform {
    // One track's peaks, or every audio track mixed when `trackID` is absent; empty when no audio
    // track matches. Samples are read at the source's own rate and placed by their own times (a
    // sample before 0 or past the duration lands in the first or last bin). Decodes on a worker
    // thread; cancelling stops at the next block of samples.
    static QCoro::Task<std::vector<float>> peaks(std::string moviePath, std::optional<std::int32_t> trackID, int bins,
                                                 platform::CancelToken cancel = {});

    // The bin of a sample at `time`, limited to 0 ... bins − 1 in floating point first (a
    // damaged time can be far outside any integer); none for a time that is not a number.
    static std::optional<int> binIndex(double time, double duration, int bins);
    struct SampleFormat {
        int rate = 0;
        int channels = 0;
    };
    // The rate and channel count the tracks are read at together (the largest of each); a track
    // without channels or without a rate fails with "Invalid audio waveform format".
    static SampleFormat sampleFormat(const std::vector<platform::MediaTrack>& tracks);
    // Every peak divided by the largest, at most 1; all zeros stay zeros.
    static void normalise(std::vector<float>& peaks);
};

}  // namespace yux

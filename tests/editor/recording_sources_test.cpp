#include "editor/recording_sources.hpp"
#include "editor/recording_waveform.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/app_error_expectations.hpp"

using namespace yux;
using platform::MediaTrack;
using platform::MediaTrackType;

namespace {

MediaTrack track(int id, MediaTrackType type, std::string title, double start = 0, double duration = 10) {
    MediaTrack t;
    t.trackID = id;
    t.type = type;
    t.title = std::move(title);
    t.start = platform::MediaTime::fromSeconds(start, 600);
    t.duration = platform::MediaTime::fromSeconds(duration, 600);
    return t;
}

std::vector<std::pair<int, RecordingSourceKind>> summary(const std::vector<RecordingSource>& sources) {
    std::vector<std::pair<int, RecordingSourceKind>> result;
    for (const auto& s : sources) result.emplace_back(s.id, s.kind);
    return result;
}

using K = RecordingSourceKind;

}  // namespace

TEST(RecordingSources, ListsTracksInLaneOrderByTheirTitles) {
    auto sources = RecordingSources::sources({
        track(1, MediaTrackType::video, "yux.source.screen"),
        track(2, MediaTrackType::video, "yux.source.camera"),
        track(3, MediaTrackType::audio, "yux.source.microphone"),  // stored before system audio
        track(4, MediaTrackType::audio, "yux.source.systemAudio"),
        track(5, MediaTrackType::other, "yux.source.screen"),
    });
    EXPECT_EQ(summary(sources),
              (std::vector<std::pair<int, K>>{{1, K::screen}, {2, K::camera}, {4, K::systemAudio}, {3, K::microphone}}));
    ASSERT_TRUE(sources[0].track);
    EXPECT_EQ(sources[0].track->trackID, 1);
}

TEST(RecordingSources, UntitledOrUnknownTracksFallBackByMediaType) {
    auto sources = RecordingSources::sources({
        track(1, MediaTrackType::audio, ""),
        track(2, MediaTrackType::audio, "yux.source.wind"),
        track(3, MediaTrackType::video, "camera"),
        track(4, MediaTrackType::audio, "yux.source.systemAudio"),
    });
    EXPECT_EQ(summary(sources), (std::vector<std::pair<int, K>>{{3, K::screen}, {4, K::systemAudio}, {1, K::audio}, {2, K::audio}}));
    EXPECT_TRUE(RecordingSources::sources({}).empty());
}

TEST(RecordingSources, AudioMixTakesEachLevelAsItIs) {
    std::vector<MediaTrack> tracks{track(3, MediaTrackType::audio, ""), track(4, MediaTrackType::audio, ""),
                                   track(5, MediaTrackType::audio, "")};
    std::map<std::int32_t, RecordingAudioLevel> levels{{3, {1.5f, true}}, {5, {2.0f, false}}};
    EXPECT_EQ(RecordingSources::audioMix(tracks, levels), (AudioMix{{3, 0.0f}, {4, 1.0f}, {5, 2.0f}}));
    EXPECT_TRUE(RecordingSources::audioMix({}, levels).empty());
}

TEST(RecordingSources, ThumbnailTimesSpreadOverTheRecordingInsideTheTrack) {
    auto whole = RecordingSources::thumbnailTimes(track(1, MediaTrackType::video, "", 0, 10), 10);
    EXPECT_EQ(whole, (std::vector<double>{0, 1.25, 2.5, 3.75, 5, 6.25, 7.5, 8.75}));
    for (double t : RecordingSources::thumbnailTimes(track(1, MediaTrackType::video, "", 0.5, 10), 0)) EXPECT_EQ(t, 0.5);
    // A track shorter than the recording repeats its last moment.
    auto shorter = RecordingSources::thumbnailTimes(track(1, MediaTrackType::video, "", 0, 4), 10);
    EXPECT_DOUBLE_EQ(shorter.back(), 3.999);
    EXPECT_DOUBLE_EQ(shorter[3], 3.75);
}

TEST(RecordingWaveform, BinsAreLimitedBeforeConversionAndDamagedTimesSkipped) {
    EXPECT_EQ(RecordingWaveform::binIndex(10, 10, 100), 99);  // the very end: last bin
    EXPECT_EQ(RecordingWaveform::binIndex(-0.5, 10, 100), 0);
    EXPECT_EQ(RecordingWaveform::binIndex(5.05, 10, 100), 50);
    EXPECT_EQ(RecordingWaveform::binIndex(1e300, 10, 100), 99);
    EXPECT_EQ(RecordingWaveform::binIndex(-1e300, 10, 100), 0);
    EXPECT_FALSE(RecordingWaveform::binIndex(std::numeric_limits<double>::quiet_NaN(), 10, 100).has_value());
    EXPECT_FALSE(RecordingWaveform::binIndex(std::numeric_limits<double>::infinity(), 10, 100).has_value());
}

TEST(RecordingWaveform, NormalisesToTheLoudestBin) {
    std::vector<float> peaks{0.5f, 0.25f, 0.0f};
    RecordingWaveform::normalise(peaks);
    EXPECT_EQ(peaks, (std::vector<float>{1.0f, 0.5f, 0.0f}));
    std::vector<float> silence(4, 0.0f);
    RecordingWaveform::normalise(silence);
    EXPECT_EQ(silence, std::vector<float>(4, 0.0f));
}

TEST(RecordingWaveform, ReadsTracksTogetherAtTheLargestRateAndChannelCount) {
    auto audio = [](int rate, int channels) {
        MediaTrack t = track(1, MediaTrackType::audio, "");
        t.sampleRate = rate;
        t.channels = channels;
        return t;
    };
    auto format = RecordingWaveform::sampleFormat({audio(44100, 1), audio(48000, 2)});
    EXPECT_EQ(format.rate, 48000);
    EXPECT_EQ(format.channels, 2);
    for (auto bad : {audio(0, 2), audio(48000, 0), audio(-1, 2)}) {
        yux::testing::expectAppError([&] { RecordingWaveform::sampleFormat({audio(48000, 2), bad}); },
                       AppError::outputFinalizationFailed("Invalid audio waveform format"));
    }
}

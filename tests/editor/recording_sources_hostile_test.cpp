// Waveforms and thumbnails of movies the recorder did not write itself, or that were damaged.
#include "editor/recording_sources.hpp"
#include "editor/recording_waveform.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/async/wait_for.hpp"
#include "platform/media/audio_sample_reader.hpp"
#include "platform/media/media_asset.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/movie_remuxer.hpp"
#include "support/hostile_movies.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"

using namespace yux;
using platform::waitForTask;
namespace support = yux::testing;

namespace {

class HostileSourcesTest : public ::testing::Test {
protected:
    std::string scratchMovie(bool camera = false) {
        std::string path = folder.file("scratch.mov");
        support::TestMovieOptions options;
        options.camera = camera;
        support::writeTestMovie(path, options);
        return path;
    }
    support::TemporaryDirectory folder;
};

float loudest(const std::vector<float>& peaks, std::size_t from, std::size_t to) {
    return *std::max_element(peaks.begin() + static_cast<std::ptrdiff_t>(from), peaks.begin() + static_cast<std::ptrdiff_t>(to));
}

}  // namespace

TEST_F(HostileSourcesTest, AWaveformPlacesALateTrackAtItsOwnTime) {
    std::string movie = folder.file("late.mov");
    support::writeLateToneMovie(movie);
    // 30 bins over 3 s: the tone fills bins 10 to 19.
    auto peaks = waitForTask(RecordingWaveform::peaks(movie, std::nullopt, 30));
    ASSERT_EQ(peaks.size(), 30u);
    EXPECT_LT(loudest(peaks, 0, 9), 0.01f);
    EXPECT_GT(loudest(peaks, 11, 19), 0.8f);
    EXPECT_LT(loudest(peaks, 21, 30), 0.01f);
}

TEST_F(HostileSourcesTest, AWaveformSurvivesAChannelCountChange) {
    std::string movie = folder.file("joined.mp3");
    support::writeChannelChangeMovie(movie, 1.0, 1.0);
    auto peaks = waitForTask(RecordingWaveform::peaks(movie, std::nullopt, 20));
    ASSERT_EQ(peaks.size(), 20u);
    // Both the stereo and the mono half are heard (mono spread on two channels at -3 dB).
    EXPECT_GT(loudest(peaks, 1, 9), 0.8f);
    EXPECT_GT(loudest(peaks, 11, 19), 0.5f);
}

TEST_F(HostileSourcesTest, AWaveformOfALyingHeaderCoversTheMediaOnly) {
    std::string movie = folder.file("liar.mov");
    platform::MovieRemuxer::copy(scratchMovie(), movie, {}, platform::CancelToken());
    support::setHeaderDuration(movie, 49.0 * 24 * 3600);
    auto peaks = waitForTask(RecordingWaveform::peaks(movie, std::nullopt, 30));
    ASSERT_EQ(peaks.size(), 30u);
    // A steady tone over the whole recording: every bin is full, the last one too.
    EXPECT_GT(*std::min_element(peaks.begin(), peaks.end() - 1), 0.9f);
}

TEST_F(HostileSourcesTest, FragmentedMoviesGiveThumbnailsAndWaveforms) {
    std::string movie = folder.file("fragmented.mov");
    support::remuxMovie(scratchMovie(true), movie,
                        {.movflags = "frag_keyframe+empty_moov+default_base_moof+delay_moov", .editList = true});
    auto sources = waitForTask(RecordingSources::load(movie));
    ASSERT_EQ(sources.size(), 3u);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(waitForTask(RecordingSources::thumbnails(sources[i], 3.0)).size(), 8u);
    auto peaks = waitForTask(RecordingWaveform::peaks(movie, sources[2].id, 30));
    EXPECT_GT(*std::min_element(peaks.begin(), peaks.end()), 0.9f);
}

TEST_F(HostileSourcesTest, DamagedMoviesStillGiveEightThumbnailsAndAWaveform) {
    std::string source = scratchMovie(true);
    for (std::uint32_t seed = 11; seed <= 14; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::string damaged = folder.file("damaged" + std::to_string(seed) + ".mov");
        std::filesystem::copy_file(source, damaged);
        support::flipMediaBytes(damaged, seed, 80);
        auto sources = waitForTask(RecordingSources::load(damaged));
        ASSERT_EQ(sources.size(), 3u);
        for (std::size_t i = 0; i < 2; ++i) {
            std::vector<platform::PixelBuffer> strip;
            EXPECT_NO_THROW(strip = waitForTask(RecordingSources::thumbnails(sources[i], 3.0)));
            EXPECT_EQ(strip.size(), 8u);
        }
        EXPECT_NO_THROW(waitForTask(RecordingWaveform::peaks(damaged, std::nullopt, 30)));
    }
}

TEST_F(HostileSourcesTest, ACameraTitledPictureAloneShowsWhole) {
    std::string movie = folder.file("camera-only.mov");
    auto source = scratchMovie();
    support::remuxMovie(source, movie, {.titles = {{0, "yux.source.camera"}}});
    auto sources = waitForTask(RecordingSources::load(movie));
    ASSERT_EQ(sources[0].kind, RecordingSourceKind::camera);
    auto strip = waitForTask(RecordingSources::thumbnails(sources[0], 3.0));
    ASSERT_EQ(strip.size(), 8u);
    // 320 × 180 fits as 160 × 90, opaque to its bottom row: no alpha plane was taken from it.
    EXPECT_EQ(strip[0].height(), 90);
    EXPECT_EQ(strip[0].row(89)[4 * 80 + 3], 255);
}

// A damaged fragment index can put a track's sound a million seconds in; the waveform steps over
// the silence before it instead of reading 48 billion silent samples.
TEST_F(HostileSourcesTest, AWaveformStepsOverTheSilenceBeforeAFarLateTrack) {
    std::string movie = scratchMovie();
    auto sources = waitForTask(RecordingSources::load(movie));
    ASSERT_EQ(sources.size(), 2u);
    ASSERT_EQ(sources[1].track->type, platform::MediaTrackType::audio);
    constexpr double kDelaySeconds = 1e6;
    support::delayFragments(movie, static_cast<std::uint32_t>(sources[1].id), static_cast<std::uint64_t>(kDelaySeconds * 48000));

    platform::AudioSampleReader reader(movie, *platform::MovieTrackReader(movie).trackTitled(sources[1].track->title));
    reader.seek(platform::MediaTime::zero());
    auto ahead = reader.silenceAhead();
    ASSERT_TRUE(ahead.has_value());
    EXPECT_NEAR(static_cast<double>(*ahead) / 48000, kDelaySeconds, 0.1);

    // The sound where its time falls among the bins, silence before it.
    auto peaks = waitForTask(RecordingWaveform::peaks(movie, std::nullopt, 30));
    ASSERT_EQ(peaks.size(), 30u);
    auto first = static_cast<std::size_t>(kDelaySeconds / platform::MediaAsset::open(movie).durationSeconds * 30);
    ASSERT_LT(first, 30u);
    EXPECT_EQ(loudest(peaks, 0, first), 0.0f);
    EXPECT_EQ(loudest(peaks, first, std::min<std::size_t>(first + 2, 30)), 1.0f);
}

#include "editor/recording_sources.hpp"
#include "editor/recording_waveform.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "model/app_error.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/wait_for.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"

using namespace yux;
using platform::waitForTask;
namespace support = yux::testing;

namespace {

class SourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        support::TestMovieOptions options;
        options.durationSeconds = 2;
        options.camera = true;
        options.microphone = true;
        options.microphoneAmplitude = 0;  // a silent microphone
        movie = folder.file("four.mov");
        support::writeTestMovie(movie, options);
    }
    support::TemporaryDirectory folder;
    std::string movie;
};

}  // namespace

TEST_F(SourcesTest, LoadsTheScratchTracksInOrderWithTheirIds) {
    auto sources = waitForTask(RecordingSources::load(movie));
    ASSERT_EQ(sources.size(), 4u);
    using K = RecordingSourceKind;
    std::vector<K> kinds;
    for (const auto& s : sources) kinds.push_back(s.kind);
    EXPECT_EQ(kinds, (std::vector<K>{K::screen, K::camera, K::systemAudio, K::microphone}));
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(sources[i].id, static_cast<int>(i + 1));
}

TEST_F(SourcesTest, ThumbnailsFitTheStripAndTheCameraKeepsItsAlpha) {
    auto sources = waitForTask(RecordingSources::load(movie));
    for (std::size_t i = 0; i < 2; ++i) {
        auto pictures = waitForTask(RecordingSources::thumbnails(sources[i], 2.0));
        ASSERT_EQ(pictures.size(), 8u);
        for (const auto& picture : pictures) {
            EXPECT_LE(picture.width(), 160);
            EXPECT_LE(picture.height(), 90);
            EXPECT_EQ(picture.width(), 160);  // 320 × 180 scaled to fit
        }
        const auto& first = pictures.front();
        std::uint8_t cornerAlpha = first.row(2)[4 * 2 + 3];
        auto bubble = support::bubbleCircle(160, 90);
        std::uint8_t bubbleAlpha = first.row(static_cast<int>(bubble.centerY))[4 * static_cast<int>(bubble.centerX) + 3];
        if (sources[i].kind == RecordingSourceKind::camera) {
            EXPECT_LT(cornerAlpha, 10);
            EXPECT_GT(bubbleAlpha, 245);
        } else {
            EXPECT_EQ(cornerAlpha, 255);
        }
    }
    EXPECT_THROW(waitForTask(RecordingSources::thumbnails(sources[2], 2.0)), AppError);
    platform::CancelToken cancelled;
    cancelled.cancel();
    EXPECT_THROW(waitForTask(RecordingSources::thumbnails(sources[0], 2.0, cancelled)), platform::CancelledError);
}

TEST_F(SourcesTest, WaveformPeaksAreNormalisedAndSilenceIsZero) {
    auto mixed = waitForTask(RecordingWaveform::peaks(movie, std::nullopt, 50));
    ASSERT_EQ(mixed.size(), 50u);
    EXPECT_EQ(*std::max_element(mixed.begin(), mixed.end()), 1.0f);
    // A steady tone: every full bin is near the loudest.
    EXPECT_GT(mixed[25], 0.9f);

    auto silent = waitForTask(RecordingWaveform::peaks(movie, 4, 50));
    EXPECT_EQ(silent, std::vector<float>(50, 0.0f));
    EXPECT_TRUE(waitForTask(RecordingWaveform::peaks(movie, 99, 50)).empty());
    try {
        waitForTask(RecordingWaveform::peaks(movie, 3, 0));
        ADD_FAILURE() << "no error";
    } catch (const AppError& error) {
        EXPECT_EQ(error.detail(), "Invalid waveform duration");
    }
}

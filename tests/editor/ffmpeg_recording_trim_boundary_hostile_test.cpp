// Exports of takes whose headers lie or whose files were cut: they export what the media holds,
// or fail in plain words, never a padded movie reported as done.
#include "editor/ffmpeg_recording_trim_boundary.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "editor/export_presets.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/media_asset.hpp"
#include "support/hostile_movies.hpp"
#include "support/recording_debug_log.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"

using namespace yux;
using platform::waitForTask;
namespace support = yux::testing;
using support::untouchedPreset;

namespace {

// Half size forces a re-encode and nothing else; the untouched preset copies.
RecordingPreset halfSize() {
    auto preset = untouchedPreset();
    preset.resolutionScale = 0.5;
    return preset;
}

struct Path {
    const char* mode;
    RecordingPreset preset;
};
const Path kPaths[] = {{"copy", untouchedPreset()}, {"encode", halfSize()}};

class TrimExportHostileTest : public ::testing::Test {
protected:
    // A take in the scratch layout, fragmented as the recorder writes it.
    std::string take(const std::string& name, double seconds = 3) {
        std::string path = folder.file(name);
        support::TestMovieOptions options;
        options.durationSeconds = seconds;
        support::writeTestMovie(path, options);
        return path;
    }
    std::string copyOf(const std::string& source, const std::string& name) {
        std::string path = folder.file(name);
        std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
        return path;
    }
    // Exports the whole take as the trim window would after probing it; the destination's path.
    std::string exportWhole(const std::string& source, const Path& path) {
        double seconds = waitForTask(boundary.loadDurationSeconds(source));
        std::string destination = folder.file(std::string("out-") + path.mode + ".mov");
        std::filesystem::remove(destination);
        waitForTask(boundary.exportTrimmedSegment(source, destination, TrimSelection(0, seconds), path.preset, {}));
        auto line = debugLog->lines().back();
        EXPECT_EQ(line.substr(line.rfind(" mode=") + 6), path.mode);
        return destination;
    }

    support::TemporaryDirectory folder;
    std::shared_ptr<support::RecordingDebugLog> debugLog = std::make_shared<support::RecordingDebugLog>();
    FfmpegRecordingTrimBoundary boundary{debugLog};
};

}  // namespace

// A 3 s take whose track headers claim a day (or its sound alone an hour) was read as that long:
// the encode ran for the whole claim as a frozen picture and silence, and reported success.
TEST_F(TrimExportHostileTest, ATakeWhoseTrackHeadersLieExportsItsMediaOnly) {
    const std::string source = take("take.mov");
    const double honest = platform::MediaAsset::open(source).durationSeconds;
    struct Claim {
        int track;
        std::uint64_t ticks;
    };
    for (Claim claim : {Claim{-1, 0x7fffffff}, Claim{1, 3600ull * 48000}}) {
        SCOPED_TRACE(claim.track);
        std::string movie = copyOf(source, "liar.mov");
        support::setTrackHeaderDuration(movie, claim.ticks, claim.track);
        EXPECT_EQ(waitForTask(boundary.loadDurationSeconds(movie)), honest);
        for (const auto& path : kPaths) {
            SCOPED_TRACE(path.mode);
            EXPECT_NEAR(platform::MediaAsset::open(exportWhole(movie, path)).durationSeconds, honest, 0.05);
        }
    }
}

// Cut to a tenth with its index intact, or with a fragment's data missing before the last one:
// both exports fail in the same plain words and leave nothing behind.
TEST_F(TrimExportHostileTest, ATakeWithDataMissingInsideFailsEitherExport) {
    std::string indexFirst = folder.file("index-first.mov");
    support::remuxMovie(take("take.mov"), indexFirst, {.movflags = "faststart"});
    support::cutMediaData(indexFirst, 0.1);
    std::string fragmented = take("fragmented.mov");
    support::moveFragmentDataPastEnd(fragmented, 0);

    for (const auto& movie : {indexFirst, fragmented}) {
        for (const auto& path : kPaths) {
            SCOPED_TRACE(movie + " " + path.mode);
            std::string destination = folder.file("out.mov");
            double seconds = waitForTask(boundary.loadDurationSeconds(movie));
            try {
                waitForTask(boundary.exportTrimmedSegment(movie, destination, TrimSelection(0, seconds), path.preset, {}));
                ADD_FAILURE() << "exported";
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "The movie cannot be read: the file ends early.");
            }
            EXPECT_FALSE(std::filesystem::exists(destination));
            EXPECT_EQ(debugLog->lines().back(), "trim_export_failed source=" + movie +
                                                    " detail=The movie cannot be read: the file ends early.");
        }
    }
}

// A killed take ends inside its last fragment: both exports keep everything up to each track's
// last whole sample, and the picture at the end is the take's own.
TEST_F(TrimExportHostileTest, ATakeCutInsideItsLastFragmentExportsToItsLastWholeSample) {
    const std::string source = take("take.mov");
    for (auto where : {support::FragmentCut::index, support::FragmentCut::media}) {
        SCOPED_TRACE(where == support::FragmentCut::index ? "index" : "media");
        std::string movie = copyOf(source, "killed.mov");
        support::cutLastFragment(movie, where);
        double seconds = waitForTask(boundary.loadDurationSeconds(movie));
        ASSERT_GT(seconds, 0.5);
        for (const auto& path : kPaths) {
            SCOPED_TRACE(path.mode);
            auto out = exportWhole(movie, path);
            EXPECT_NEAR(platform::MediaAsset::open(out).durationSeconds, seconds, 0.05);
            double last = seconds - 0.1;
            EXPECT_TRUE(support::near(support::pixelAt(out, last, 40, 40),
                                      support::screenColorAt(static_cast<int>(last))));
        }
    }
}

#include "shell/pending_recording_markers.hpp"

#include <fstream>

#include <gtest/gtest.h>

#include "support/temporary_directory.hpp"

namespace yux {
namespace {

PendingRecordingArtifact artifactAt(const std::filesystem::path& movie, double createdAt) {
    return PendingRecordingArtifact(movie.string(), Date{createdAt}, 2.0, 1000,
                                    RecordingCaptureDiagnostics{RecordingCaptureConfig::fullFidelity(), 0.0},
                                    RecordingPresetCatalog::builtIn(), RecordingPresetCatalog::highID);
}

void touch(const std::filesystem::path& path, const std::string& text = "movie") { std::ofstream(path) << text; }

TEST(PendingRecordingMarkersTest, NewestWithItsMovieWinsAndDeadMarkersGo) {
    testing::TemporaryDirectory folder;
    const auto dir = folder.path();
    const PendingRecordingMarkers markers;
    EXPECT_EQ(PendingRecordingMarkers::markerPath((dir / "AB.mov").string()), (dir / "AB.pending.json").string());

    touch(dir / "old.mov");
    touch(dir / "new.mov");
    markers.write(artifactAt(dir / "old.mov", 100));
    markers.write(artifactAt(dir / "new.mov", 200));
    markers.write(artifactAt(dir / "gone.mov", 300));  // its movie was deleted meanwhile
    touch(dir / "broken.pending.json", "{not json");
    // A marker pointing at a movie elsewhere is never followed.
    touch(dir / "elsewhere.mov");
    touch(dir / "stray.pending.json", json::encodeText(artifactAt(dir / "elsewhere.mov", 400)));

    const auto found = markers.newest(dir.string());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->scratchPath(), (dir / "new.mov").string());
    EXPECT_EQ(found->durationSeconds(), 2.0);
    EXPECT_FALSE(std::filesystem::exists(dir / "gone.pending.json"));
    EXPECT_FALSE(std::filesystem::exists(dir / "broken.pending.json"));
    EXPECT_FALSE(std::filesystem::exists(dir / "stray.pending.json"));
    EXPECT_TRUE(std::filesystem::exists(dir / "old.pending.json"));

    markers.remove(found->scratchPath());
    markers.remove(found->scratchPath());  // twice is fine
    EXPECT_EQ(markers.newest(dir.string())->scratchPath(), (dir / "old.mov").string());
    EXPECT_FALSE(markers.newest((dir / "missing").string()));
}

}  // namespace
}  // namespace yux

// A take kept while it was recording, as a crash or SIGKILL leaves its movie: cut at any byte.
#include <filesystem>

#include <gtest/gtest.h>

#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "model/temporary_directory_scratch_storage.hpp"
#include "platform/async/wait_for.hpp"
#include "session/recording_export_session.hpp"
#include "shell/kept_takes_offer.hpp"
#include "support/hostile_movies.hpp"
#include "support/recording_debug_log.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"

namespace yux {
namespace {

namespace fs = std::filesystem;
using platform::waitForTask;

TEST(KeptTakesMediaTest, ATakeCutAnywhereIsOfferedWithWhatIsWholeOrRemovedWhenEmptyOrSetAside) {
    testing::TemporaryDirectory source;
    const std::string whole = source.file("whole.mov");
    testing::writeTestMovie(whole, {});
    const std::string bytes = testing::readWholeFile(whole);
    const auto fragments = testing::topLevelBoxes(bytes, "mdat");
    ASSERT_GE(fragments.size(), 2u);
    const std::size_t mediaStart = testing::topLevelBoxes(bytes, "moof").front().offset;
    const std::size_t firstFragmentEnd = fragments.front().offset + fragments.front().size;
    const auto header = testing::topLevelBoxes(bytes, "moov").front();
    const std::size_t headerEnd = header.offset + header.size;

    // Around the start, middle and end of every box, and a few bytes either side.
    std::vector<std::size_t> cuts{0, bytes.size()};
    for (const char* type : {"ftyp", "moov", "moof", "mdat", "mfra"}) {
        for (const auto& box : testing::topLevelBoxes(bytes, type)) {
            for (const std::size_t at : {box.offset - 8, box.offset - 1, box.offset, box.offset + 1, box.offset + box.size / 2,
                                         box.offset + box.size - 1, box.offset + box.size}) {
                cuts.push_back(at);
            }
        }
    }
    auto log = std::make_shared<testing::RecordingDebugLog>();
    RecordingExportSession::Collaborators media;
    media.trimBoundary = std::make_shared<FfmpegRecordingTrimBoundary>(log);
    media.scratchFileSizeReader = std::make_shared<LocalRecordingScratchFileSizeReader>();
    for (const std::size_t cut : cuts) {
        SCOPED_TRACE("cut at byte " + std::to_string(cut) + " of " + std::to_string(bytes.size()));
        testing::TemporaryDirectory folder;
        const std::string movie = folder.file("8A1F2C3D-0000-4000-8000-000000000001.mov");
        testing::writeWholeFile(movie, bytes.substr(0, cut));
        PendingRecordingMarkers markers(log);
        waitForTask(markers.keep(movie, Date{100}));

        std::optional<double> offered;
        const KeptTakesOffer offer{
            .markers = markers,
            .debugLog = log,
            // What the session's adoption does with the movie: measure it for the trim window.
            .adopt = [&](KeptTakesOffer::Marker take) -> QCoro::Task<bool> {
                auto session = co_await RecordingExportSession::open(take.scratchPath, take.createdAt, media);
                offered = session->artifact().durationSeconds();
                co_return true;
            },
            .holdsNothing = &KeptTakesOffer::movieHoldsNothing,
            .present = []() -> QCoro::Task<RecordingSessionState> { co_return RecordingSessionState::idle(); },
            .quitting = {},
        };
        waitForTask(offer.run(PendingRecordingMarkers::presentIn(folder.path().string())));

        // Only a movie that reads and holds nothing goes, with its marker; any other stays whole.
        const bool removed = !fs::exists(movie);
        if (removed) {
            EXPECT_GE(cut, headerEnd) << "a movie that cannot be read is kept";
        } else {
            EXPECT_EQ(fs::file_size(movie), cut);
        }
        if (cut == headerEnd) {
            EXPECT_TRUE(removed) << "a header alone holds nothing";
        }
        if (offered) {
            EXPECT_GT(*offered, 0.0);
            EXPECT_LE(*offered, 3.0 + 1e-6);
            EXPECT_TRUE(fs::exists(PendingRecordingMarkers::markerPath(movie)));
        } else {
            // Not offered again at every start.
            EXPECT_FALSE(fs::exists(PendingRecordingMarkers::markerPath(movie)));
            EXPECT_LT(cut, firstFragmentEnd) << "a take with a whole fragment is offered";
        }
        if (cut <= mediaStart) {
            EXPECT_FALSE(offered) << "nothing to show";
        }
    }
}

}  // namespace
}  // namespace yux

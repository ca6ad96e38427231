// The scratch movie as the delegate opens it, with every sync of this program recorded.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "capture/recording_output_delegate.hpp"
#include "platform/async/wait_for.hpp"
#include "support/sync_recorder.hpp"
#include "support/synthetic_media.hpp"
#include "support/temporary_directory.hpp"

using namespace yux;
using yux::testing::hostTime;
using yux::testing::SyncCall;
using yux::testing::takeSyncCalls;
namespace media = yux::testing;

// Nothing deletes a take on the strength of its commit, so a stop does not wait for the disk:
// the scratch movie is finished without a sync of its data or its folder.
TEST(RecordingOutputDelegateMovie, TheScratchMovieIsFinishedWithoutSyncs) {
    media::TemporaryDirectory folder;
    const std::string probe = folder.file("probe");
    media::writeWholeFile(probe, "x");
    takeSyncCalls();
    const int descriptor = ::open(probe.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    ::fdatasync(descriptor);
    ::close(descriptor);
    ASSERT_EQ(takeSyncCalls(),
              (std::vector<SyncCall>{{"fdatasync", std::filesystem::canonical(folder.path()).string() + "/probe"}}))
        << "the program's syncs are not recorded";

    const std::string path = folder.file("scratch.mov");
    auto clock = RecordingOutputDelegate::Clock::live();
    clock.hostNow = [] { return hostTime(0.1); };  // the stop
    auto delegate = RecordingOutputDelegate::open(path, 320, 240, false, false, clock);
    delegate->queue().sync([&] {
        delegate->receive(media::videoSample(hostTime(0), media::movingPattern(320, 240, 0)),
                          RecordingSourceKind::screen);
        delegate->receive(media::audioSample(hostTime(0), media::sineTone(440, 4800)), RecordingSourceKind::systemAudio);
    });
    platform::waitForTask(delegate->waitForStart());
    platform::waitForTask(delegate->finish());
    ASSERT_EQ(delegate->writer().status(), platform::MovieWriterStatus::completed);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(takeSyncCalls(), std::vector<SyncCall>{});
}

// A take whose movie can no longer be written (a full disk, an encoder failure) ends at once as
// a stop that failed: the session over its doubles, the real engine over its null streams and
// in-memory writers.
#include <gtest/gtest.h>

#include <unistd.h>


#include "capture/x11_video_capture.hpp"
#include "session/session_world.hpp"
#include "support/event_loop.hpp"
#include "support/synthetic_media.hpp"

namespace yux::testing {
namespace {

using platform::MovieWriterError;
using platform::StreamOutputType;

platform::ShareableContent oneDisplay() {
    platform::ShareableDisplay display;
    display.displayID = 1;
    display.width = 1920;
    display.height = 1080;
    display.frame = {0, 0, 1920, 1080};
    display.pixelBounds = {0, 0, 1920, 1080};
    platform::ShareableContent content;
    content.displays = {display};
    content.mainDisplayID = 1;
    content.applications = {{getpid(), "yux", "Yux"}};
    content.scale = 1;
    return content;
}

// Samples stand at 1 s and on; the stop comes at 100 s on the samples' clock.
RecordingOutputDelegate::Clock sampleClock() {
    RecordingOutputDelegate::Clock clock = RecordingOutputDelegate::Clock::live();
    clock.hostNow = [] { return hostTime(100); };
    return clock;
}

struct EngineWorld {
    SessionWorld world{/*withInputs=*/true};
    std::shared_ptr<X11VideoCapture::NullControl> control = std::make_shared<X11VideoCapture::NullControl>();
    std::shared_ptr<bool> writerRefuses = std::make_shared<bool>(false);
    std::shared_ptr<X11VideoCapture> engine;
    std::shared_ptr<RecordingSessionOrchestrator> session;

    explicit EngineWorld(std::exception_ptr writerError) {
        control->writerScript.accepts = [refuses = writerRefuses](int) { return !*refuses; };
        control->writerScript.refusalError = std::move(writerError);
        auto permission = std::make_shared<X11ScreenRecordingPermission>(X11ScreenRecordingPermission::create_null(true, false));
        auto noInputs = []() -> QCoro::Task<CaptureInputsController::RecordingInputs> { co_return {}; };
        engine = X11VideoCapture::create_null(permission, world.log, oneDisplay(), noInputs, control, sampleClock());
        session = std::make_shared<RecordingSessionOrchestrator>(RecordingSessionOrchestrator::Collaborators{
            world.selection, world.displays, world.settings, world.exports, world.scratch, engine, world.inputs,
            world.handler, world.clock, world.log, world.keeper});
    }

    platform::CaptureStream& stream() const { return *control->streams().back(); }
    void deliver(double seconds) const {
        stream().simulate_sample(StreamOutputType::audio, audioSample(hostTime(seconds), sineTone(440, 480)));
        stream().simulate_sample(StreamOutputType::screen, videoSample(hostTime(seconds), platform::PixelBuffer::create(4, 4),
                                                                       platform::MediaTime(1, 60)));
    }
    void record() {
        auto starting = session->start();
        ASSERT_TRUE(processEventsUntil(
            [&] { return !control->streams().empty() && stream().frameInterval().isValid(); }, kHangMilliseconds));
        deliver(1.0);
        platform::waitForTask(std::move(starting));
        ASSERT_NE(session->storedState().recordingInfo(), nullptr) << session->storedState().diagnosticText();
        // The in-memory writer's movie, on the scratch double's disk.
        world.scratch->files.insert(session->storedState().recordingInfo()->scratchFilePath);
    }
    bool logged(const std::string& start) const {
        const auto lines = world.lines();
        return std::ranges::any_of(lines, [&](const std::string& line) { return line.starts_with(start); });
    }
};

TEST(RecordingSessionCaptureFailure, AMovieThatFailsMidTakeEndsTheTakeAtOnceAndKeepsIt) {
    const struct {
        MovieWriterError::Cause cause;
        const char* sentence;
    } cases[] = {
        {MovieWriterError::Cause::diskFull, "The disk is full."},
        {MovieWriterError::Cause::encoding, "The screen could not be encoded."},
    };
    for (const auto& failure : cases) {
        SCOPED_TRACE(failure.sentence);
        EngineWorld f(std::make_exception_ptr(MovieWriterError(failure.cause, failure.sentence, "library detail")));
        ASSERT_NO_FATAL_FAILURE(f.record());
        const std::string path = f.world.scratchPath();
        for (int i = 1; i <= 30; ++i) f.deliver(1.0 + i / 60.0);

        *f.writerRefuses = true;
        f.deliver(2.0);
        // Nobody pressed stop: the session heard of the failure by itself.
        ASSERT_TRUE(
            processEventsUntil([&] { return f.session->storedState().failure() != nullptr; }, kHangMilliseconds))
            << f.session->storedState().diagnosticText();
        EXPECT_EQ(f.session->storedState().failure()->detail(),
                  std::string(failure.sentence) + " The recording stopped, and what was recorded up to then is kept in " +
                      path + ".");
        EXPECT_TRUE(f.logged("session_capture_failed session_id=" + f.world.sessionText()));
        EXPECT_TRUE(f.logged("session_stop_failed"));
        EXPECT_FALSE(f.stream().frameInterval().isValid()) << "the capture still runs";
        EXPECT_FALSE(f.world.inputs->locked()) << "the inputs stay held";
        // Kept as a failed stop keeps a take: noted (since its start) for the next start, never deleted.
        ASSERT_EQ(f.world.keeper->notes.size(), 2u);
        EXPECT_TRUE(f.world.keeper->notes[1].starts_with("keep " + path + " at "));
        EXPECT_TRUE(f.world.scratch->deleted.empty());
        EXPECT_TRUE(f.world.handler->artifacts.empty()) << "no trim window for a failed take";

        // The next Record starts afresh (on a disk with room again) and leaves the kept take alone.
        *f.writerRefuses = false;
        ASSERT_NO_FATAL_FAILURE(f.record());
        EXPECT_TRUE(f.world.scratch->deleted.empty());
        platform::waitForTask(f.session->cancel());
    }
}

TEST(RecordingSessionCaptureFailure, AStopWhoseLastPictureTheWriterRefusesKeepsTheTake) {
    EngineWorld f(nullptr);
    // Only the screen's copy of its newest picture, appended at the stop, is refused.
    f.control->writerScript.accepts = [refuses = f.writerRefuses](int track) { return track != 0 || !*refuses; };
    ASSERT_NO_FATAL_FAILURE(f.record());
    const std::string path = f.world.scratchPath();
    for (int i = 1; i <= 30; ++i) f.deliver(1.0 + i / 60.0);
    *f.writerRefuses = true;
    platform::waitForTask(f.session->stop());

    ASSERT_NE(f.session->storedState().failure(), nullptr) << f.session->storedState().diagnosticText();
    EXPECT_EQ(f.session->storedState().failure()->detail(),
              "The movie could not be written. The recording stopped, and what was recorded up to then is kept in " +
                  path + ".");
    EXPECT_EQ(f.control->writers().back()->writer().status(), platform::MovieWriterStatus::completed);
    ASSERT_FALSE(f.world.keeper->notes.empty());
    EXPECT_TRUE(f.world.keeper->notes.back().starts_with("keep " + path + " at "));
    EXPECT_TRUE(f.world.scratch->deleted.empty());
}

}  // namespace
}  // namespace yux::testing

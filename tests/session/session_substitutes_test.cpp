#include <gtest/gtest.h>

#include "platform/async/wait_for.hpp"
#include "session/pending_trim_event_relay.hpp"
#include "session/unavailable_recording_session.hpp"
#include "session/session_doubles.hpp"
#include "support/app_error_expectations.hpp"

namespace yux {
namespace {

using platform::waitForTask;

PendingRecordingArtifact artifact(const std::string& path) {
    return PendingRecordingArtifact(path, Date::fromUnixSeconds(1'800'000'000), 2.0, 1000, {},
                                    RecordingPresetCatalog::builtIn(), "high");
}

TEST(PendingTrimEventRelay, ForwardsToTheLastHandlerAndDropsEventsWithoutOne) {
    PendingTrimEventRelay relay;
    waitForTask(relay.handlePendingTrim(artifact("/scratch/lost.mov")));

    auto first = std::make_shared<testing::FakePendingTrimHandler>();
    auto second = std::make_shared<testing::FakePendingTrimHandler>();
    relay.setHandler(first);
    waitForTask(relay.handlePendingTrim(artifact("/scratch/a.mov")));
    relay.setHandler(second);
    waitForTask(relay.handlePendingTrim(artifact("/scratch/b.mov")));
    EXPECT_EQ(first->artifacts, (std::vector{artifact("/scratch/a.mov")}));
    EXPECT_EQ(second->artifacts, (std::vector{artifact("/scratch/b.mov")}));

    // The handler owns the session that owns the relay: the relay does not keep it alive.
    std::weak_ptr<testing::FakePendingTrimHandler> gone = second;
    second.reset();
    EXPECT_TRUE(gone.expired());
    waitForTask(relay.handlePendingTrim(artifact("/scratch/c.mov")));
}

// A handler that raises another event through the same relay while it handles one.
class EchoingHandler : public PendingTrimEventBoundary {
public:
    explicit EchoingHandler(PendingTrimEventRelay& relay) : relay_(relay) {}
    int calls = 0;
    QCoro::Task<void> handlePendingTrim(PendingRecordingArtifact artifact) override {
        if (++calls == 1) co_await relay_.handlePendingTrim(artifact);
    }

private:
    PendingTrimEventRelay& relay_;
};

TEST(PendingTrimEventRelay, AHandlerMayRaiseEventsItself) {
    PendingTrimEventRelay relay;
    auto handler = std::make_shared<EchoingHandler>(relay);
    relay.setHandler(handler);
    waitForTask(relay.handlePendingTrim(artifact("/scratch/a.mov")));
    EXPECT_EQ(handler->calls, 2);
}

// Refuses every save: the unavailable session must never reach it.
class RefusingSaveHandler : public TrimPreviewSaveHandling {
public:
    int calls = 0;
    QCoro::Task<RecordingExportResult> saveTrimPreview(TrimSelection, RecordingPreset, ProgressHandler,
                                                       platform::CancelToken) override {
        ++calls;
        throw std::logic_error("not expected");
        co_return {};
    }
};
class CountingWindow : public TrimPreviewBoundary {
public:
    int calls = 0;
    QCoro::Task<TrimPreviewOutcome> presentTrimPreview(PendingRecordingArtifact, TrimPreviewSaveHandling*) override {
        ++calls;
        co_return TrimPreviewOutcome::saved();
    }
};

TEST(UnavailableRecordingSession, StaysFailedAndDoesNothing) {
    const auto failure = AppError::systemPlaybackAudioUnavailable();
    UnavailableRecordingSession session(failure);
    const auto failed = RecordingSessionState::failed(failure);
    EXPECT_EQ(session.state(), failed);
    waitForTask(session.start());
    waitForTask(session.stop());
    waitForTask(session.cancel());
    waitForTask(session.finishPendingTrim());
    waitForTask(session.reopenPendingTrimIfRecoverable());
    waitForTask(session.discardRecording());
    waitForTask(session.failPendingTrim("trim preview failed"));
    EXPECT_EQ(session.state(), failed);
    EXPECT_EQ(session.state().automationStateWord(), "failed: systemPlaybackAudioUnavailable");

    int progressCalls = 0;
    testing::expectAppError(
        [&] {
            waitForTask(session.publishPendingTrim(TrimSelection(0, 1), RecordingPreset{},
                                                   [&](const RecordingExportProgress&) { ++progressCalls; }));
        },
        failure);
    EXPECT_EQ(progressCalls, 0);

    CountingWindow window;
    RefusingSaveHandler saver;
    EXPECT_EQ(waitForTask(session.presentPendingTrim(&window, &saver)), TrimPreviewOutcome::failed(failure));
    EXPECT_EQ(window.calls, 0);
    EXPECT_EQ(saver.calls, 0);
}

}  // namespace
}  // namespace yux

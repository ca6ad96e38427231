#include <gtest/gtest.h>

#include <thread>

#include "editor_session_support.hpp"

using namespace yux;
using namespace yux::testing;
using Edge = RecordingEdit::Edge;
using Kind = RecordingSourceKind;
using Event = platform::PreviewPlayer::Event;

namespace {

struct Editor {
    std::shared_ptr<RecordingDebugLog> log = std::make_shared<RecordingDebugLog>();
    ScriptedSaveHandler saveHandler;
    ScriptedLoaders loaders;
    std::shared_ptr<platform::PreviewPlayer> player = platform::PreviewPlayer::create_null();
    platform::OutputTracker<Event> events = player->track_events();
    std::vector<TrimPreviewOutcome> outcomes;
    std::vector<std::string> revealed;
    std::shared_ptr<ExportEditorSession> session;

    explicit Editor(std::vector<RecordingSource> sources = {nullSource(1, Kind::screen), nullSource(2, Kind::systemAudio),
                                                            nullSource(3, Kind::microphone)},
                    double duration = 10) {
        EditorServices services{player, loaders.loaders(), [this](const std::string& path, auto) { revealed.push_back(path); }};
        session = ExportEditorSession::create(nullFacts(duration, std::move(sources)), artifactWith(bestH264Preset()),
                                              &saveHandler, log, [this](TrimPreviewOutcome o) { outcomes.push_back(o); },
                                              std::move(services));
    }
    ExportEditorSession& operator*() { return *session; }
    ExportEditorSession* operator->() { return session.get(); }

    std::vector<Event> takeEvents() {
        auto data = events.data();
        events.clear();
        return data;
    }
    // The editor split at 3 and 6 with the middle removed: kept [0, 3) and [6, 10].
    void removeMiddle() {
        session->seek(3);
        session->split();
        session->seek(6);
        session->split();
        session->seek(4);
        session->toggleRemoval();
        session->seek(0);
    }
    bool logged(const std::string& prefix) const {
        for (const auto& line : log->lines()) {
            if (line.rfind(prefix, 0) == 0) return true;
        }
        return false;
    }
};

}  // namespace

TEST(ExportEditorSessionLife, StartPreparesThePlayerOnceAndFillsTheLanesInOrder) {
    Editor e;
    e->start();
    e->start();
    EXPECT_EQ(e.takeEvents(), (std::vector<Event>{Event::prepared({1, 2, 3}), Event::mixOf({{2, 1.0f}, {3, 1.0f}}),
                                                  Event::seekTo(0)}));
    EXPECT_TRUE(e.player->hasObserver());
    ASSERT_TRUE(runUntil([&] { return e->thumbnails().size() == 1; }));
    EXPECT_EQ(e.loaders.calls, (std::vector<std::string>{"waveform 2 bins=400", "waveform 3 bins=400",
                                                         "thumbnails 1 duration=10.000000"}));
    EXPECT_EQ(e->waveforms().at(3).size(), 400u);
    EXPECT_EQ(e->thumbnails().at(1).size(), 8u);
    EXPECT_FALSE(e->waveformError());

    // The mix follows the levels once started.
    e->toggleMute(3);
    e->setGain(1.5f, 2);
    EXPECT_EQ(e.takeEvents(), (std::vector<Event>{Event::mixOf({{2, 1.0f}, {3, 0.0f}}), Event::mixOf({{2, 1.5f}, {3, 0.0f}})}));
}

TEST(ExportEditorSessionLife, LaneFailureAfterTwoWaveformsKeepsThemAndLoadsNoThumbnails) {
    Editor e({nullSource(1, Kind::screen), nullSource(2, Kind::systemAudio), nullSource(3, Kind::microphone),
              nullSource(4, Kind::audio)});
    e.loaders.failures[4] = std::make_exception_ptr(std::runtime_error("The audio cannot be decoded."));
    e->start();
    ASSERT_TRUE(runUntil([&] { return e->waveformError().has_value(); }));
    EXPECT_EQ(*e->waveformError(), "Source previews unavailable");
    EXPECT_EQ(e->waveforms().size(), 2u);
    EXPECT_TRUE(e->thumbnails().empty());
    ASSERT_TRUE(runUntil([&] { return e.logged("export_waveform_failed"); }));
    EXPECT_EQ(e.log->lines(), (std::vector<std::string>{"export_waveform_failed error=The audio cannot be decoded."}));
}

TEST(ExportEditorSessionLife, CompletionWhileLanesLoadReportsNoPreviewError) {
    Editor e;
    e.loaders.hold = true;
    e->start();
    e->completeWithDiscardIfNeeded();
    QCoreApplication::processEvents();
    e.loaders.released = true;
    settle();
    EXPECT_FALSE(e->waveformError());
    EXPECT_TRUE(e->waveforms().empty());
    EXPECT_TRUE(e.log->lines().empty());
    EXPECT_FALSE(e.player->hasObserver());
    EXPECT_EQ(e.outcomes, (std::vector<TrimPreviewOutcome>{TrimPreviewOutcome::discarded()}));
    e->completeWithDiscardIfNeeded();
    e->start();
    EXPECT_EQ(e.outcomes.size(), 1u) << "a completed editor reports nothing more";
}

TEST(ExportEditorSessionPlayback, TicksSkipRemovedSectionsFollowSpeedsAndStopAtTheEnd) {
    Editor e;
    e.removeMiddle();
    e->seek(1);
    e->speed(2);  // [0, 3) at speed 2
    e->start();
    e->seek(2);
    e.takeEvents();

    e.player->simulate_time(2.1);
    EXPECT_EQ(e->playhead(), 2) << "the clock never moves a paused playhead";

    e->togglePlayback();
    EXPECT_TRUE(e->playing());
    EXPECT_EQ(e.takeEvents(), (std::vector<Event>{Event::seekTo(2), Event::rateOf(2)}));
    e.player->simulate_time(2.5);
    EXPECT_EQ(e->playhead(), 2.5);
    EXPECT_TRUE(e.takeEvents().empty()) << "the same rate is not set again";

    // Into the removed section: a jump to the next kept start and back to speed 1.
    e.player->simulate_time(3.02);
    EXPECT_EQ(e->playhead(), 6);
    EXPECT_EQ(e.takeEvents(), (std::vector<Event>{Event::seekTo(6), Event::rateOf(1)}));
    // Within the tolerance no jump is made.
    e.player->simulate_time(5.995);
    EXPECT_EQ(e->playhead(), 6);
    EXPECT_TRUE(e.takeEvents().empty());

    // Past the last kept part: pause at the trim start.
    e.player->simulate_time(9.9995);
    EXPECT_FALSE(e->playing());
    EXPECT_EQ(e->playhead(), 0);
    EXPECT_EQ(e.takeEvents(), (std::vector<Event>{Event::rateOf(0), Event::seekTo(0)}));
}

TEST(ExportEditorSessionPlayback, PlayingPastTheEndPausesAtTheTrimStart) {
    for (const double trimStart : {0.0, 1.5}) {
        SCOPED_TRACE(trimStart);
        Editor e;
        e->setEdge(Edge::start, trimStart);
        e->setEdge(Edge::end, 8);
        e->start();
        e->togglePlayback();
        ASSERT_TRUE(e->playing());
        e.takeEvents();
        e.player->simulate_time(8.01);
        EXPECT_FALSE(e->playing());
        EXPECT_EQ(e->playhead(), trimStart);
        EXPECT_EQ(e.takeEvents(), (std::vector<Event>{Event::rateOf(0), Event::seekTo(trimStart)}));
    }
}

TEST(ExportEditorSessionPlayback, ToggleStartsOverFromTheEndAndNeedsKeptMaterial) {
    Editor e;
    e->start();
    e->seek(10);
    e.takeEvents();
    e->togglePlayback();
    EXPECT_EQ(e->playhead(), 0);
    EXPECT_TRUE(e->playing());
    e->togglePlayback();
    EXPECT_FALSE(e->playing());
    EXPECT_EQ(e->playhead(), 0) << "pausing keeps the playhead";

    e.removeMiddle();
    e->setEdge(Edge::start, 3.5);
    e->setEdge(Edge::end, 5.5);
    e.takeEvents();
    e->togglePlayback();
    EXPECT_FALSE(e->playing());
    EXPECT_TRUE(e.takeEvents().empty()) << "nothing to play inside the range";
}

TEST(ExportEditorSessionPlayback, KeyLinesCarryCodePlayingResponderAndModifiersAndCloseLinesCarrySheetAndExporting) {
    Editor e;
    e->logKeyboard(49, 0, "");
    e->logKeyboard(34, 1048576, "QLineEdit");
    e->logCloseRequest(true);
    ASSERT_TRUE(runUntil([&] { return e.log->lines().size() == 3; }));
    EXPECT_EQ(e.log->lines(), (std::vector<std::string>{
                                  "export_editor_key key_code=49 playing=false responder=none modifiers=0",
                                  "export_editor_key key_code=34 playing=false responder=QLineEdit modifiers=1048576",
                                  "export_editor_close_requested sheet=true exporting=false"}));
}

TEST(ExportEditorSessionExport, RefusesWithoutKeptMaterialOrWhileExporting) {
    Editor e;
    e.removeMiddle();
    e->setEdge(Edge::start, 3.5);
    e->setEdge(Edge::end, 5.5);
    e->exportRecording();
    EXPECT_FALSE(e->isExporting());
    EXPECT_TRUE(e.saveHandler.calls.empty());

    Editor busy;
    busy->exportRecording();
    ASSERT_TRUE(runUntil([&] { return busy.saveHandler.calls.size() == 1; }));
    busy->exportRecording();
    busy->completeWithDiscardIfNeeded();
    QCoreApplication::processEvents();
    EXPECT_EQ(busy.saveHandler.calls.size(), 1u);
    EXPECT_TRUE(busy.outcomes.empty()) << "completion is refused while exporting";
    busy.saveHandler.succeed("/home/u/Videos/Yux/a.mov");
    ASSERT_TRUE(runUntil([&] { return !busy->isExporting(); }));
    busy->completeWithDiscardIfNeeded();
    EXPECT_EQ(busy.outcomes, (std::vector<TrimPreviewOutcome>{TrimPreviewOutcome::saved()}));
}

TEST(ExportEditorSessionExport, SuccessPausesHandsOverTheEditAndLogsBeforePublishing) {
    Editor e;
    e->start();
    e.removeMiddle();
    e->seek(8);
    e->split();
    e->speed(2);
    e->setGain(0.5f, 2);
    e->togglePlayback();
    std::vector<std::string> order;
    QObject::connect(e.session.get(), &ExportEditorSession::savedChanged,
                     [&] { order.push_back("saved after " + std::to_string(e.log->lines().size()) + " lines"); });
    QObject::connect(e.session.get(), &ExportEditorSession::isExportingChanged, [&] {
        order.push_back(std::string(e->isExporting() ? "exporting" : "done") + " after " +
                        std::to_string(e.log->lines().size()) + " lines");
    });

    // The request line is written before the save handler is called: the export is under way
    // while it is written.
    e.log->suspendAppends();
    e->exportRecording();
    EXPECT_FALSE(e->playing());
    EXPECT_EQ(e.player->rate(), 0);
    EXPECT_EQ(e->progress().sectionCount, 3);
    EXPECT_EQ(e->progress().section, 1);
    EXPECT_EQ(e->progress().fraction, 0);
    ASSERT_TRUE(e.saveHandler.calls.empty());
    e->setGain(2.0f, 2);  // does not reach this export
    ASSERT_TRUE(runUntil([&] { return e.saveHandler.calls.size() == 1; }));
    const auto call = e.saveHandler.calls.front();
    EXPECT_EQ(call.selection.sections, (std::vector<RecordingEdit::Section>{{0, 3, 1, true}, {6, 8, 1, true}, {8, 10, 2, true}}));
    EXPECT_EQ(call.selection.audioLevels.at(2).gain, 0.5f);
    EXPECT_EQ(call.profile, e->preset());

    e.saveHandler.succeed("/home/u/Videos/Yux/b.mov", 4242);
    ASSERT_TRUE(runUntil([&] { return !e->isExporting(); }));
    EXPECT_EQ(e.log->lines(), (std::vector<std::string>{
                                  "export_editor_export_requested start=0.0 end=10.0 width=1920.0 height=1080.0",
                                  "export_editor_export_completed destination=/home/u/Videos/Yux/b.mov"}));
    EXPECT_EQ(order, (std::vector<std::string>{"exporting after 0 lines", "saved after 2 lines", "done after 2 lines"}));
    EXPECT_EQ(e->saved()->byteSize, 4242);
    EXPECT_FALSE(e->errorMessage());

    e->exportRecording();
    ASSERT_TRUE(runUntil([&] { return e.saveHandler.calls.size() == 2; }));
    EXPECT_EQ(e.saveHandler.calls.back().selection.audioLevels.at(2).gain, 2.0f) << "the next export takes the new gain";
    e->cancelExport();
    ASSERT_TRUE(runUntil([&] { return !e->isExporting(); }));
}

TEST(ExportEditorSessionExport, CancelShowsNothingAndFailuresShowTheirText) {
    Editor e;
    e->exportRecording();
    ASSERT_TRUE(runUntil([&] { return e.saveHandler.calls.size() == 1; }));
    e->cancelExport();
    ASSERT_TRUE(runUntil([&] { return !e->isExporting(); }));
    EXPECT_FALSE(e->errorMessage());
    EXPECT_FALSE(e->saved());
    EXPECT_FALSE(e.logged("export_editor_failed"));

    // Succeed, then fail: the outcome stays saved.
    e->exportRecording();
    ASSERT_TRUE(runUntil([&] { return e.saveHandler.calls.size() == 2; }));
    e.saveHandler.succeed("/v/a.mov");
    ASSERT_TRUE(runUntil([&] { return !e->isExporting(); }));

    std::vector<std::string> order;
    QObject::connect(e.session.get(), &ExportEditorSession::errorMessageChanged, [&] {
        if (e->errorMessage()) order.push_back("error after " + std::to_string(e.log->lines().size()) + " lines");
    });
    QObject::connect(e.session.get(), &ExportEditorSession::isExportingChanged, [&] {
        if (!e->isExporting()) order.push_back("done after " + std::to_string(e.log->lines().size()) + " lines");
    });
    e->exportRecording();
    EXPECT_FALSE(e->saved()) << "a new export clears the last result";
    ASSERT_TRUE(runUntil([&] { return e.saveHandler.calls.size() == 3; }));
    e.saveHandler.fail(std::make_exception_ptr(AppError::outputFinalizationFailed("An export is already running")));
    ASSERT_TRUE(runUntil([&] { return !e->isExporting(); }));
    EXPECT_EQ(*e->errorMessage(), "Recording finalization failed: An export is already running");
    EXPECT_EQ(e.log->lines().back(), "export_editor_failed error=outputFinalizationFailed(\"An export is already running\")");
    EXPECT_EQ(order, (std::vector<std::string>{"error after 4 lines", "done after 5 lines"}));

    e->exportRecording();
    ASSERT_TRUE(runUntil([&] { return e.saveHandler.calls.size() == 4; }));
    e.saveHandler.fail(std::make_exception_ptr(std::runtime_error("The disk is full.")));
    ASSERT_TRUE(runUntil([&] { return !e->isExporting(); }));
    EXPECT_EQ(*e->errorMessage(), "The disk is full.");
    EXPECT_EQ(e.log->lines().back(), "export_editor_failed error=The disk is full.");

    e->completeWithDiscardIfNeeded();
    EXPECT_EQ(e.outcomes, (std::vector<TrimPreviewOutcome>{TrimPreviewOutcome::saved()}));
}

TEST(ExportEditorSessionExport, ProgressFromAnyThreadReachesOnlyItsOwnExport) {
    Editor e;
    e->exportRecording();
    ASSERT_TRUE(runUntil([&] { return e.saveHandler.calls.size() == 1; }));
    auto firstReport = e.saveHandler.progressHandlers.at(0);
    std::thread::id appliedOn;
    QObject::connect(e.session.get(), &ExportEditorSession::progressChanged, [&] { appliedOn = std::this_thread::get_id(); });
    std::thread worker([&] { firstReport({0.5, 1, 1, 3.0}); });
    worker.join();
    ASSERT_TRUE(runUntil([&] { return e->progress().fraction == 0.5; }));
    EXPECT_EQ(appliedOn, std::this_thread::get_id());
    EXPECT_EQ(e->progress().remainingSeconds, 3.0);

    e.saveHandler.succeed("/v/a.mov");
    ASSERT_TRUE(runUntil([&] { return !e->isExporting(); }));
    e->exportRecording();
    ASSERT_TRUE(runUntil([&] { return e.saveHandler.calls.size() == 2; }));
    e.saveHandler.progressHandlers.at(1)({0.25, 1, 1, std::nullopt});
    ASSERT_TRUE(runUntil([&] { return e->progress().fraction == 0.25; }));
    // Export 1 reports late, from another thread, while export 2 runs.
    std::thread late([&] { firstReport({0.9, 1, 1, 1.0}); });
    late.join();
    settle();
    EXPECT_EQ(e->progress().fraction, 0.25);
    EXPECT_FALSE(e->progress().remainingSeconds);

    e.saveHandler.succeed("/v/b.mov");
    ASSERT_TRUE(runUntil([&] { return !e->isExporting(); }));
    e.saveHandler.progressHandlers.at(1)({0.99, 1, 1, std::nullopt});
    settle();
    EXPECT_EQ(e->progress().fraction, 0.25) << "a report after the end is dropped";
}

TEST(ExportEditorSessionExport, RevealOnlyAfterSuccess) {
    Editor e;
    e->reveal();
    EXPECT_TRUE(e.revealed.empty());
    e->exportRecording();
    ASSERT_TRUE(runUntil([&] { return e.saveHandler.calls.size() == 1; }));
    e.saveHandler.fail(std::make_exception_ptr(std::runtime_error("No room.")));
    ASSERT_TRUE(runUntil([&] { return !e->isExporting(); }));
    e->reveal();
    EXPECT_TRUE(e.revealed.empty());
    e->exportRecording();
    ASSERT_TRUE(runUntil([&] { return e.saveHandler.calls.size() == 2; }));
    e.saveHandler.succeed("/home/u/Videos/Yux/c.mov");
    ASSERT_TRUE(runUntil([&] { return !e->isExporting(); }));
    e->reveal();
    EXPECT_EQ(e.revealed, (std::vector<std::string>{"/home/u/Videos/Yux/c.mov"}));
}

#include <gtest/gtest.h>

#include <unistd.h>

#include <future>

#include "platform/x11/capture_stream.hpp"
#include "support/media_time_printer.hpp"

using namespace yux::platform;

namespace {

ShareableDisplay secondDisplay() { return {77, 1280, 1024, {1920, 0, 1280, 1024}, {1920, 0, 1280, 1024}}; }

SampleBuffer audioAt(std::int64_t ms) {
    SampleBuffer sample;
    sample.presentationTime = MediaTime(ms, 1000);
    sample.payload = AudioBuffer::fromFloat({0.5f, 0.5f}, 48000, 2);
    return sample;
}

// Waits until everything queued so far on `queue` has run.
void drain(SerialQueue& queue) { queue.sync([] {}); }

}  // namespace

TEST(ShareableContent, AssemblesDisplaysInPointsAndOneApplicationPerProcessElsePerClass) {
    std::vector<X11Monitor> monitors{{400, "left", {0, 0, 1920, 1080}, false}, {401, "right", {1920, 0, 2560, 1440}, true}};
    X11ClientWindow editor;
    editor.id = 0x600001;
    editor.processID = 300;
    editor.applicationClass = "Gedit";
    editor.frame = {100, 200, 800, 600};
    editor.onScreen = true;
    X11ClientWindow editorDialog = editor;
    editorDialog.id = 0x600002;
    // No process known: windows group by class; a window without a class makes no application.
    X11ClientWindow remote;
    remote.id = 0x700001;
    remote.applicationClass = "XTerm";
    X11ClientWindow remoteMenu = remote;
    remoteMenu.id = 0x700002;
    X11ClientWindow unnamed;
    unnamed.id = 0x800001;
    auto content = ShareableContentProvider::assemble(monitors, {editor, editorDialog, remote, remoteMenu, unnamed},
                                                      2.0, 42, "yux", [](const std::string& c) { return c + " App"; });
    EXPECT_EQ(content.mainDisplayID, 401u);
    ASSERT_EQ(content.displays.size(), 2u);
    EXPECT_EQ(content.displays[1].frame, (PointRect{960, 0, 1280, 720}));
    EXPECT_EQ(content.displays[1].width, 2560);
    EXPECT_EQ(content.windows.size(), 5u);
    EXPECT_EQ(content.windows[0].frame, (PointRect{50, 100, 400, 300}));
    EXPECT_EQ(content.applications, (std::vector<RunningApplication>{
                                        {300, "Gedit", "Gedit App"}, {0, "XTerm", "XTerm App"}, {42, "yux", "yux"}}));
}

TEST(ShareableContent, MainMonitorIsPrimaryElseAtOriginElseFirst) {
    EXPECT_FALSE(mainMonitorIndex({}));
    std::vector<X11Monitor> monitors{{1, "a", {1920, 0, 10, 10}, false}, {2, "b", {0, 0, 10, 10}, false}};
    EXPECT_EQ(mainMonitorIndex(monitors), 1u);
    monitors[0].primary = true;
    EXPECT_EQ(mainMonitorIndex(monitors), 0u);
    monitors[0].primary = false;
    monitors[1].bounds.x = 5;
    EXPECT_EQ(mainMonitorIndex(monitors), 0u);
}

TEST(FrameSourceSettings, AreaRegionIsInRootPixelsInsideItsDisplay) {
    StreamConfiguration configuration;
    configuration.width = 400;
    configuration.height = 300;
    configuration.sourceRect = PointRect{10.4, 20, 200, 150};
    configuration.minimumFrameInterval = MediaTime(1, 30);
    auto filter = ContentFilter::excluding(secondDisplay(), {{42, "yux", "yux"}, {43, "yux", "yux"}});
    auto settings = frameSourceSettings(filter, configuration, 2.0);
    EXPECT_EQ(settings.region, (PixelRect{1941, 40, 400, 300}));
    EXPECT_EQ(settings.minimumFrameInterval, MediaTime(1, 30));
    EXPECT_EQ(settings.windows.mode, WindowSelection::Mode::excluding);
    EXPECT_EQ(settings.windows.processIDs, (std::vector<std::int32_t>{42, 43}));
    EXPECT_TRUE(settings.windows.excludeThisProcess);

    // Past the bottom-right corner: moved back onto the display.
    configuration.sourceRect = PointRect{1200, 1000, 200, 150};
    configuration.width = 200;
    configuration.height = 150;
    EXPECT_EQ(frameSourceSettings(filter, configuration, 1.0).region, (PixelRect{3000, 874, 200, 150}));
}

TEST(FrameSourceSettings, ApplicationFilterPaintsOnlyItsClassOnTheWholeDisplay) {
    StreamConfiguration configuration;
    configuration.width = 1280;
    configuration.height = 1024;
    auto settings =
        frameSourceSettings(ContentFilter::including(secondDisplay(), {{300, "Gedit", "Text Editor"}}), configuration, 1.0);
    EXPECT_EQ(settings.region, (PixelRect{1920, 0, 1280, 1024}));
    EXPECT_EQ(settings.windows.mode, WindowSelection::Mode::including);
    EXPECT_EQ(settings.windows.applicationClasses, (std::vector<std::string>{"Gedit"}));
    EXPECT_EQ(settings.minimumFrameInterval, MediaTime::zero());
}

TEST(CaptureStream, SamplesReachTheHandlersOfTheirTypeOnTheirQueuesOnlyWhileRunning) {
    SerialQueue writer("Yux.source-writer");
    auto stream = CaptureStream::create_null(ContentFilter::excluding(secondDisplay(), {}), StreamConfiguration{});
    auto events = stream->track_events();
    std::vector<std::string> seen;  // touched only on the writer queue
    bool onQueue = true;
    stream->addStreamOutput(StreamOutputType::audio, writer, [&](const SampleBuffer& sample) {
        onQueue = onQueue && writer.isCurrent();
        seen.push_back("audio " + sample.presentationTime.secondsText());
    });
    stream->addStreamOutput(StreamOutputType::microphone, writer, [&](const SampleBuffer& sample) {
        seen.push_back("microphone " + sample.presentationTime.secondsText());
    });

    stream->simulate_sample(StreamOutputType::audio, audioAt(1));  // before the start: dropped
    stream->startCapture();
    EXPECT_THROW(stream->addStreamOutput(StreamOutputType::screen, writer, [](const SampleBuffer&) {}), std::logic_error);
    stream->simulate_sample(StreamOutputType::audio, audioAt(2));
    stream->simulate_sample(StreamOutputType::microphone, audioAt(3));
    stream->simulate_sample(StreamOutputType::screen, audioAt(4));  // nobody listens
    stream->stopCapture();
    stream->simulate_sample(StreamOutputType::audio, audioAt(5));  // after the stop: dropped
    drain(writer);

    EXPECT_EQ(seen, (std::vector<std::string>{"audio 0.002", "microphone 0.003"}));
    EXPECT_TRUE(onQueue);
    EXPECT_EQ(events.data(), (std::vector<CaptureStreamEvent>{{CaptureStreamEvent::Kind::started},
                                                              {CaptureStreamEvent::Kind::stopped}}));
    EXPECT_THROW(stream->stopCapture(), std::logic_error);
}

TEST(CaptureStream, FrameIntervalIsTheConfiguredOneOnceRunning) {
    StreamConfiguration configuration;
    configuration.minimumFrameInterval = MediaTime(1, 30);
    auto stream = CaptureStream::create_null(ContentFilter{}, configuration);
    EXPECT_FALSE(stream->frameInterval().isValid());
    stream->startCapture();
    EXPECT_EQ(stream->frameInterval(), MediaTime(1, 30));
    stream->stopCapture();
    EXPECT_FALSE(stream->frameInterval().isValid());
}

TEST(CaptureStream, FailedStartLeavesItStoppedAndFailedStopLeavesItRunning) {
    auto refusing = CaptureStream::create_null(ContentFilter{}, StreamConfiguration{}, {"no X server", std::nullopt, std::nullopt});
    EXPECT_THROW(refusing->startCapture(), std::runtime_error);
    EXPECT_THROW(refusing->stopCapture(), std::logic_error);

    auto stuck = CaptureStream::create_null(ContentFilter{}, StreamConfiguration{}, {std::nullopt, "stop refused", std::nullopt});
    stuck->startCapture();
    EXPECT_THROW(stuck->stopCapture(), std::runtime_error);
    EXPECT_THROW(stuck->startCapture(), std::logic_error);  // still running
}

TEST(CaptureStream, SourceFailuresReachTheFailureHandlerOnItsQueueOnlyWhileRunning) {
    SerialQueue engine("Yux.capture-engine");
    auto stream = CaptureStream::create_null(ContentFilter::excluding(secondDisplay(), {}), StreamConfiguration{});
    std::vector<CaptureStreamFailure> failures;  // touched only on the engine queue
    bool onQueue = true;
    stream->setFailureHandler(engine, [&](const CaptureStreamFailure& failure) {
        onQueue = onQueue && engine.isCurrent();
        failures.push_back(failure);
    });
    stream->simulate_failure({StreamOutputType::microphone, "before"});
    stream->startCapture();
    EXPECT_THROW(stream->setFailureHandler(engine, [](const CaptureStreamFailure&) {}), std::logic_error);
    stream->simulate_failure({StreamOutputType::microphone, "source gone"});
    stream->simulate_failure({StreamOutputType::screen, "X server gone"});
    stream->stopCapture();
    stream->simulate_failure({StreamOutputType::audio, "after"});
    drain(engine);
    EXPECT_EQ(failures, (std::vector<CaptureStreamFailure>{{StreamOutputType::microphone, "source gone"},
                                                           {StreamOutputType::screen, "X server gone"}}));
    EXPECT_TRUE(onQueue);
}

#include "capture/recording_output_delegate.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>

#include "model/app_error.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/wait_for.hpp"
#include "support/synthetic_media.hpp"

using namespace yux;
using platform::MediaTime;
using platform::MovieTrackFormat;
using platform::MovieWriter;
using platform::MovieWriterAppend;
using platform::MovieWriterStatus;
using platform::SampleBuffer;
using platform::StreamOutputType;
using yux::testing::hostTime;
namespace media = yux::testing;

namespace {

constexpr int kScreen = 0;

// Time stands still unless a wait moves it, so a 10 s wait takes no real time.
struct FakeTime {
    std::atomic<std::int64_t> wallNs{0};
    MediaTime host = hostTime(100);
};

QCoro::Task<void> fakeSleep(std::shared_ptr<FakeTime> time, std::chrono::milliseconds duration,
                            platform::CancelToken token) {
    token.throwIfCancelled();
    time->wallNs += std::chrono::nanoseconds(duration).count();
    co_return;
}

RecordingOutputDelegate::Clock fakeClock(const std::shared_ptr<FakeTime>& time) {
    RecordingOutputDelegate::Clock clock;
    clock.hostNow = [time] { return time->host; };
    clock.now = [time] { return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(time->wallNs.load())); };
    clock.sleep = [time](std::chrono::milliseconds duration, platform::CancelToken token) {
        return fakeSleep(time, duration, std::move(token));
    };
    clock.after = [time](platform::SerialQueue& queue, std::chrono::milliseconds delay, std::function<void()> work) {
        time->wallNs += std::chrono::nanoseconds(delay).count();
        queue.async(std::move(work));
    };
    return clock;
}

SampleBuffer frame(double seconds) {
    return media::videoSample(hostTime(seconds), platform::PixelBuffer::create(4, 4), MediaTime(1, 60));
}
SampleBuffer sound(double seconds) {
    // Made once: the tests look at when sound comes, not at what it is, and working out the
    // sine for each of the bound test's hundred thousand buffers was most of its time.
    static const platform::AudioBuffer tone = media::sineTone(440, 480);
    return media::audioSample(hostTime(seconds), tone);
}

std::string errorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    }
}

template <class F>
std::string failureOf(F&& work) {
    try {
        work();
    } catch (const AppError& error) {
        return error.detail();
    } catch (const std::exception& error) {
        return std::string("other: ") + error.what();
    }
    return "no failure";
}

struct Fixture {
    std::shared_ptr<FakeTime> time = std::make_shared<FakeTime>();
    MovieWriter::NullScript script;
    std::vector<MovieTrackFormat> formats;
    std::shared_ptr<MovieWriter> writer;
    std::shared_ptr<RecordingOutputDelegate> delegate;
    platform::OutputTracker<MovieWriterAppend> appends;

    // Track numbers follow the order screen, camera, system audio, microphone over the tracks present.
    std::function<bool(int)> screenReady = [](int) { return true; };

    void open(bool microphone, bool camera) {
        auto canAdd = script.canAdd;
        script.canAdd = [this, canAdd](const MovieTrackFormat& format) {
            formats.push_back(format);
            return canAdd(format);
        };
        writer = MovieWriter::create_null(script);
        appends = writer->track_appends();
        delegate = RecordingOutputDelegate::open(writer, 1920, 1080, microphone, camera, fakeClock(time));
    }
    void receive(const SampleBuffer& sample, RecordingSourceKind kind) {
        delegate->queue().sync([&] { delegate->receive(sample, kind); });
    }
    void stream(const SampleBuffer& sample, StreamOutputType type) {
        delegate->queue().sync([&] { delegate->stream(sample, type); });
    }
    std::vector<MovieWriterAppend> appended(int track) {
        std::vector<MovieWriterAppend> result;
        for (const auto& item : appends.data()) {
            if (item.track == track) result.push_back(item);
        }
        return result;
    }
    void finishAt(double seconds) {
        time->host = hostTime(seconds);
        platform::waitForTask(delegate->finish());
    }
};

}  // namespace

TEST(RecordingOutputDelegate, OpensTheTracksInOrderWithTheirTitles) {
    Fixture both;
    both.open(true, true);
    ASSERT_EQ(both.formats.size(), 4u);
    EXPECT_EQ(both.formats[0].title, "yux.source.screen");
    EXPECT_EQ(both.formats[0].layout, platform::MovieTrackLayout::video);
    EXPECT_EQ(both.formats[0].width, 1920);
    EXPECT_EQ(both.formats[0].height, 1080);
    EXPECT_EQ(both.formats[1].title, "yux.source.camera");
    EXPECT_EQ(both.formats[1].layout, platform::MovieTrackLayout::videoWithStackedAlpha);
    EXPECT_EQ(both.formats[1].width, 1920);
    EXPECT_EQ(both.formats[2].title, "yux.source.systemAudio");
    EXPECT_EQ(both.formats[2].layout, platform::MovieTrackLayout::audio);
    EXPECT_EQ(both.formats[3].title, "yux.source.microphone");
    EXPECT_EQ(both.writer->status(), MovieWriterStatus::writing);

    Fixture plain;
    plain.open(false, false);
    ASSERT_EQ(plain.formats.size(), 2u);
    EXPECT_EQ(plain.formats[0].title, "yux.source.screen");
    EXPECT_EQ(plain.formats[1].title, "yux.source.systemAudio");
}

TEST(RecordingOutputDelegate, OpenFailsWithTheTrackThatCannotBeAddedOrTheStart) {
    Fixture camera;
    camera.script.canAdd = [](const MovieTrackFormat& format) { return format.title != "yux.source.camera"; };
    EXPECT_EQ(failureOf([&] { camera.open(true, true); }), "Cannot record Camera");
    // No input after the refused one is tried, and the writer is dropped.
    EXPECT_EQ(camera.formats.size(), 2u);
    EXPECT_EQ(camera.writer->status(), MovieWriterStatus::cancelled);

    Fixture microphone;
    microphone.script.canAdd = [](const MovieTrackFormat& format) { return format.title != "yux.source.microphone"; };
    EXPECT_EQ(failureOf([&] { microphone.open(true, false); }), "Cannot record Microphone");

    Fixture start;
    start.script.startFails = true;
    EXPECT_EQ(failureOf([&] { start.open(false, false); }), "Cannot start source writer");
}

TEST(RecordingOutputDelegate, TheStreamPassesOnlyCompleteFramesAndReadyAudio) {
    Fixture f;
    f.open(true, false);
    auto idle = frame(1);
    idle.frameStatus = platform::FrameStatus::idle;
    f.stream(idle, StreamOutputType::screen);
    auto unmarked = frame(1.01);
    unmarked.frameStatus.reset();
    f.stream(unmarked, StreamOutputType::screen);
    auto notReady = frame(1.02);
    notReady.dataReady = false;
    f.stream(notReady, StreamOutputType::screen);
    f.stream(SampleBuffer{}, StreamOutputType::screen);
    EXPECT_FALSE(f.delegate->start());

    f.stream(frame(1.05), StreamOutputType::screen);
    f.stream(sound(1.06), StreamOutputType::audio);
    f.stream(sound(1.07), StreamOutputType::microphone);
    EXPECT_EQ(f.appended(0).size(), 1u);
    EXPECT_EQ(f.appended(1).size(), 1u);
    EXPECT_EQ(f.appended(2).size(), 1u);
    EXPECT_EQ(f.delegate->queue().sync([&] { return f.delegate->received(); }),
              (std::set{RecordingSourceKind::screen, RecordingSourceKind::systemAudio, RecordingSourceKind::microphone}));
}

TEST(RecordingOutputDelegate, AudioBeforeTheFirstScreenFrameIsNotWritten) {
    Fixture f;
    f.open(false, false);
    f.receive(sound(0.9), RecordingSourceKind::systemAudio);
    f.receive(frame(1), RecordingSourceKind::screen);
    f.receive(sound(0.99), RecordingSourceKind::systemAudio);  // late, but before the start
    f.receive(sound(1.01), RecordingSourceKind::systemAudio);
    EXPECT_EQ(f.delegate->queue().sync([&] { return f.delegate->start(); }), hostTime(1));
    auto screen = f.appended(0);
    ASSERT_EQ(screen.size(), 1u);
    EXPECT_EQ(screen[0].presentationTime, hostTime(1));
    EXPECT_EQ(screen[0].duration, MediaTime(1, 60));
    auto audio = f.appended(1);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0].presentationTime, hostTime(1.01));
}

TEST(RecordingOutputDelegate, ALateCameraStartsTheSessionWithTheNewestScreenFrameRetimed) {
    Fixture f;
    f.open(false, true);
    f.receive(frame(1), RecordingSourceKind::screen);
    f.receive(frame(1.3), RecordingSourceKind::screen);
    f.receive(sound(1.4), RecordingSourceKind::systemAudio);
    EXPECT_FALSE(f.delegate->queue().sync([&] { return f.delegate->start(); }));
    f.receive(frame(1.5), RecordingSourceKind::camera);
    EXPECT_EQ(f.delegate->queue().sync([&] { return f.delegate->start(); }), hostTime(1.5));
    EXPECT_EQ(f.appended(0), (std::vector<MovieWriterAppend>{{0, hostTime(1.5), MediaTime(1, 60)}}));
    EXPECT_EQ(f.appended(1), (std::vector<MovieWriterAppend>{{1, hostTime(1.5), MediaTime(1, 60)}}));
    EXPECT_TRUE(f.appended(2).empty());
}

TEST(RecordingOutputDelegate, VideoTimesStrictlyIncreaseAndABusyVideoTrackDropsTheFrame) {
    Fixture f;
    bool screenReady = true;
    f.script.ready = [&](int track) { return track != kScreen || screenReady; };
    f.open(false, false);
    f.receive(frame(1), RecordingSourceKind::screen);
    f.receive(frame(1), RecordingSourceKind::screen);    // same time: dropped
    f.receive(frame(0.5), RecordingSourceKind::screen);  // before the start: dropped
    screenReady = false;
    f.receive(frame(1.1), RecordingSourceKind::screen);  // busy: dropped, no failure
    screenReady = true;
    f.receive(frame(1.2), RecordingSourceKind::screen);
    std::vector<MediaTime> times;
    for (const auto& item : f.appended(0)) times.push_back(item.presentationTime);
    EXPECT_EQ(times, (std::vector<MediaTime>{hostTime(1), hostTime(1.2)}));
    EXPECT_FALSE(f.delegate->queue().sync([&] { return f.delegate->failure(); }));
}

// While a video track gets no new picture, its newest one is written again on the screen's
// frame grid as the sound moves on; a real picture keeps its time, and the stop its tail.
TEST(RecordingOutputDelegate, AStillTrackRepeatsItsNewestPictureBehindTheSound) {
    const MediaTime tail = hostTime(1.5) - MediaTime(1, 60);
    struct Picture {
        double at;
        double late;  // handed over once the sound reaches at + late
    };
    struct Case {
        const char* name;
        std::vector<Picture> screen;
        std::vector<Picture> camera;  // none: no camera track
        int soundUntilMs;  // 10 ms buffers from 1 s on
        double hostNow;
        bool stop;  // at the sound's end
        std::vector<MediaTime> wantScreen;
        std::vector<MediaTime> wantCamera;
        int held = 0;  // pictures the writer says it holds
        double busyAt = 0;  // the screen track is busy when this picture comes
        int cameraHeld = 0;
    };
    auto pictures = [](std::vector<double> times, double late) {
        std::vector<Picture> result;
        for (double t : times) result.push_back({t, late});
        return result;
    };
    auto at = [](std::vector<double> seconds) {
        std::vector<MediaTime> times;
        for (double t : seconds) times.push_back(hostTime(t));
        return times;
    };
    auto with = [](std::vector<MediaTime> times, std::vector<MediaTime> more) {
        times.insert(times.end(), more.begin(), more.end());
        return times;
    };
    // Slots of the screen's grid, which starts at 1 s.
    auto gridSlots = [](std::vector<int> indexes) {
        const platform::FrameGrid grid(hostTime(1), MediaTime(1, 60));
        std::vector<MediaTime> times;
        for (int i : indexes) times.push_back(grid.slot(i));
        return times;
    };
    std::vector<double> changing;
    for (int i = 0; i < 10; ++i) changing.push_back(1.0 + i * 0.05);
    // Moving, still from 1.2 s to 1.8 s, moving again.
    std::vector<double> stillBetween = {1.0, 1.1, 1.2, 1.8, 1.9, 2.0};
    std::vector<double> slowCamera;
    std::vector<double> everyTenth;
    for (int i = 0; i < 6; ++i) slowCamera.push_back(1.0 + i * 0.2);
    for (int i = 0; i <= 10; ++i) everyTenth.push_back(1.0 + i * 0.1);
    auto lateOnce = pictures({1.0}, 0);
    lateOnce.push_back({1.3, 2.0});
    // A stall hands over three pictures together, 2 s after the first was taken.
    auto lateBurst = pictures({1.0}, 0);
    for (int i = 0; i < 3; ++i) lateBurst.push_back({1.3 + i / 60.0, 2.0 - i / 60.0});
    // Typing: a change every 0.2 s for 3 s, then nothing.
    std::vector<double> fiveASecond;
    std::vector<double> tenthsTo4_1;
    for (int i = 0; i <= 15; ++i) fiveASecond.push_back(1.0 + i * 0.2);
    for (int i = 0; i <= 31; ++i) tenthsTo4_1.push_back(1.0 + i * 0.1);
    std::vector<double> tenthsTo3_2(tenthsTo4_1.begin(), tenthsTo4_1.begin() + 23);
    std::vector<double> tenthsTo2_7(tenthsTo4_1.begin(), tenthsTo4_1.begin() + 18);
    const Case cases[] = {
        {"a still screen, every 0.1 s, 0.1 s behind the sound", pictures({1.0}, 0), {}, 1500, 100, false,
         at({1.0, 1.1, 1.2, 1.3, 1.4}), {}},
        {"a changing screen is not repeated", pictures(changing, 0), {}, 1500, 100, false, at(changing), {}},
        {"a late real picture keeps its time", pictures({1.0, 1.45}, 0.06), {}, 1800, 100, false,
         at({1.0, 1.1, 1.2, 1.3, 1.4, 1.45, 1.55, 1.65}), {}},
        {"a still camera, on the screen's grid", pictures(changing, 0), pictures({1.0}, 0), 1500, 100, false,
         at(changing), at({1.0, 1.1, 1.2, 1.3, 1.4})},
        {"sound ahead of the host clock", pictures({1.0}, 0), {}, 2000, 1.35, false, at({1.0, 1.1, 1.2}), {}},
        {"the stop's tail, nothing at or after the stop", pictures({1.0}, 0), {}, 1500, 100, true,
         with(at({1.0, 1.1, 1.2, 1.3, 1.4}), {tail}), {}},
        {"pictures 0.3 s late around a still stretch all keep their times", pictures(stillBetween, 0.3),
         pictures(stillBetween, 0.3), 2500, 100, false, with(at(everyTenth), at({2.1})),
         with(at(everyTenth), at({2.1}))},
        {"a 5 fps camera 0.25 s late keeps every picture", pictures({1.0}, 0.25), pictures(slowCamera, 0.25), 2300,
         100, false, at(everyTenth), at(everyTenth)},
        {"a picture 2 s late goes after the last repeat, then the usual lag again", lateOnce, {}, 6000, 100, false,
         with(with(at({1.0, 1.1, 1.2, 1.3, 1.4, 1.5, 1.6, 1.7, 1.8, 1.9, 2.0, 2.1, 2.2, 2.3, 2.4, 2.5, 2.6, 2.7,
                       2.8, 2.9, 3.0, 3.1, 3.2}),
                   gridSlots({133})),
              at({5.2, 5.3, 5.4, 5.5, 5.6, 5.7, 5.8, 5.9})),
         {}},
        {"once the track stood still, every slot is repeated while the writer holds its picture", pictures({1.0}, 0),
         {}, 1500, 100, false, gridSlots({0, 6, 7, 8, 14, 20}), {}, 3},
        {"a picture a busy track refused comes with the repeats after its time, and is pushed out",
         pictures({1.0, 1.2}, 0), {}, 1600, 100, false, gridSlots({0, 6, 13, 19, 20, 21, 27}), {}, 3, 1.2},
        {"a track changing every 0.2 s gets one repeat a tenth; still, it is pushed out", pictures(fiveASecond, 0),
         {}, 4500, 100, false, with(at(tenthsTo4_1), gridSlots({187, 188, 189, 190, 191, 197, 203})), {}, 6},
        {"pictures of a late burst all keep their order, on the slots after the last repeat", lateBurst, {}, 3500,
         100, false, with(at(tenthsTo3_2), gridSlots({133, 134, 135})), {}},
        {"a camera 0.25 s late, its pictures held, is pushed out once it stands still, not after every picture",
         pictures({1.0}, 0.25), pictures(everyTenth, 0.25), 3000, 100, false, at(tenthsTo2_7),
         with(at(everyTenth), with(at({2.1}), gridSlots({67, 73, 79, 85, 91, 97}))), 0, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        const bool camera = !c.camera.empty();
        f.script.held = [&c](int track) { return track == kScreen ? c.held : track == 1 ? c.cameraHeld : 0; };
        bool busy = false;
        f.script.ready = [&busy](int track) { return track != kScreen || !busy; };
        f.open(false, camera);
        f.time->host = hostTime(c.hostNow);
        std::vector<std::pair<double, std::pair<double, RecordingSourceKind>>> due;
        for (const auto& p : c.screen) due.push_back({p.at + p.late, {p.at, RecordingSourceKind::screen}});
        for (const auto& p : c.camera) due.push_back({p.at + p.late, {p.at, RecordingSourceKind::camera}});
        std::stable_sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::size_t next = 0;
        for (int ms = 1000; ms < c.soundUntilMs; ms += 10) {
            while (next < due.size() && due[next].first <= ms / 1000.0 + 1e-9) {
                busy = due[next].second.first == c.busyAt;
                f.receive(frame(due[next].second.first), due[next].second.second);
                busy = false;
                ++next;
            }
            f.receive(sound(ms / 1000.0), RecordingSourceKind::systemAudio);
        }
        if (c.stop) f.finishAt(c.soundUntilMs / 1000.0);
        auto times = [&](int track) {
            std::vector<MediaTime> result;
            for (const auto& item : f.appended(track)) result.push_back(item.presentationTime);
            return result;
        };
        EXPECT_EQ(times(kScreen), c.wantScreen);
        if (camera) {
            EXPECT_EQ(times(1), c.wantCamera);
        }
        // Every repeat reuses the picture the writer took last; captured pictures and the tail do not.
        const auto screenAppends = f.appended(kScreen);
        const auto again = std::count_if(screenAppends.begin(), screenAppends.end(), [](const auto& a) { return a.again; });
        EXPECT_EQ(static_cast<std::size_t>(again), c.wantScreen.size() - c.screen.size() - (c.stop ? 1 : 0));
    }
}

// Just before a change the repeats that it would hold up go out, but never into the room the
// change itself needs: with the encoder's queue one picture short of full, every change is written.
TEST(RecordingOutputDelegate, ARepeatNeverTakesTheRoomOfTheChangeThatComes) {
    const platform::FrameGrid grid(hostTime(1), MediaTime(1, 60));
    Fixture f;
    int free = 1000;  // pictures the screen's queue takes before it is full
    f.script.held = [](int track) { return track == kScreen ? 6 : 0; };
    f.script.ready = [&free](int track) { return track != kScreen || free > 0; };
    f.script.room = [&free](int track) { return track == kScreen ? free : 1000; };
    f.script.accepts = [&free](int track) { return track != kScreen || free-- > 0; };
    f.open(false, false);
    int changes = 0;
    for (int ms = 1000; ms < 4000; ms += 10) {
        // Changes every 9 frames, the sound 30 ms behind them: a change that waited long goes
        // out just before the next.
        if (grid.slot(changes * 9) <= hostTime((ms + 30) / 1000.0)) {
            free = 1;
            f.receive(media::videoSample(grid.slot(changes * 9), platform::PixelBuffer::create(4, 4), MediaTime(1, 60)),
                      RecordingSourceKind::screen);
            free = 1000;
            ++changes;
        }
        f.receive(sound(ms / 1000.0), RecordingSourceKind::systemAudio);
    }
    const auto appends = f.appended(kScreen);
    EXPECT_EQ(std::count_if(appends.begin(), appends.end(), [](const auto& a) { return !a.again; }), changes);
}

// A picture older than the newest one written is out of order: it is dropped, and the repeats
// go on showing the newest, so the track never goes back in time.
TEST(RecordingOutputDelegate, APictureOutOfOrderNeverShowsInTheRepeats) {
    Fixture f;
    f.open(false, false);
    f.receive(frame(1.0), RecordingSourceKind::screen);
    for (int ms = 1000; ms < 1600; ms += 10) {
        if (ms == 1300) f.receive(frame(1.3), RecordingSourceKind::screen);
        if (ms == 1350) f.receive(frame(1.2), RecordingSourceKind::screen);
        f.receive(sound(ms / 1000.0), RecordingSourceKind::systemAudio);
    }
    std::vector<std::pair<MediaTime, bool>> written;
    for (const auto& item : f.appended(kScreen)) written.emplace_back(item.presentationTime, item.again);
    EXPECT_EQ(written, (std::vector<std::pair<MediaTime, bool>>{{hostTime(1.0), false},
                                                                {hostTime(1.1), true},
                                                                {hostTime(1.2), true},
                                                                {hostTime(1.3), false},
                                                                {hostTime(1.4), true},
                                                                {hostTime(1.5), true}}))
        << "every repeat is the picture the writer took last";
}

namespace {

// The screen's changes from 1 s on, as slot numbers of its 60 fps grid.
std::vector<std::int64_t> changesEvery(int frames, double seconds) {
    std::vector<std::int64_t> steps;
    for (std::int64_t step = 0; step <= seconds * 60; step += frames) steps.push_back(step);
    return steps;
}

// Typing: pauses spread log-normally around 0.2 s, the same for a seed.
std::vector<std::int64_t> changesTyping(unsigned seed, double seconds) {
    std::mt19937 random(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<std::int64_t> steps{0};
    for (double at = 0; at <= seconds;) {
        at += 0.2 * std::exp(0.5 * normal(random) - 0.125);
        steps.push_back(std::max<std::int64_t>(steps.back() + 1, std::llround(at * 60)));
    }
    return steps;
}

constexpr int kHeld = 6;

// Records a screen changing on `changes` for `seconds`, its grid starting `phaseMs` into a
// sound buffer, its sound in 10 ms buffers handed over `soundAfterMs` after the pictures, over a
// writer that holds back six pictures once its encoder has filled and, until then, every
// picture it took. Returns the longest a captured picture stayed inside, in sound behind the
// repeat lag of prompt pictures (0.1 s); one still inside at the end counts to there.
double longestWaitInside(const std::vector<std::int64_t>& changes, int soundAfterMs, double phaseMs, double seconds) {
    const platform::FrameGrid grid(hostTime(1 + phaseMs / 1000), MediaTime(1, 60));
    Fixture f;
    int taken = 0;
    f.script.accepts = [&taken](int track) { return track != kScreen || ++taken > 0; };
    f.script.held = [&taken](int track) { return track == kScreen ? std::min(taken, kHeld) : 0; };
    f.open(false, false);
    // For every picture the writer took, where the sound had reached when it did.
    std::vector<MediaTime> heardAt;
    MediaTime heard = hostTime(1);
    auto noteAppends = [&] {
        while (heardAt.size() < static_cast<std::size_t>(taken)) heardAt.push_back(heard);
    };
    // On the writer's queue in one go, as the stream delivers there.
    f.delegate->queue().sync([&] {
        std::size_t change = 0;
        for (int ms = 1000; ms < 1000 + seconds * 1000; ms += 10) {
            while (change < changes.size() && grid.slot(changes[change]) <= hostTime((ms + soundAfterMs) / 1000.0)) {
                f.delegate->receive(
                    media::videoSample(grid.slot(changes[change]), platform::PixelBuffer::create(4, 4), MediaTime(1, 60)),
                    RecordingSourceKind::screen);
                noteAppends();
                ++change;
            }
            f.delegate->receive(sound(ms / 1000.0), RecordingSourceKind::systemAudio);
            heard = hostTime((ms + 10) / 1000.0);
            noteAppends();
        }
    });
    const auto appends = f.appended(kScreen);
    double longest = 0;
    for (std::size_t i = 0; i < appends.size(); ++i) {
        if (appends[i].again) continue;  // a repeat brings nothing new
        // Out once kHeld more came in behind it.
        const MediaTime left = i + kHeld < appends.size() ? heardAt[i + kHeld] : heard;
        longest = std::max(longest, (left - appends[i].presentationTime).seconds() - 0.1);
    }
    return longest;
}

}  // namespace

// However seldom or unevenly a track changes, a captured picture leaves the writer within the
// waits of kLongestWait's table. One row per range of sound delays runs the case of the table's
// sample that waited longest there, with that wait as its limit; the rows per case, measured
// first with the grid at the start of a sound buffer, keep each of those cases to its own wait,
// so one that gets worse fails though it stays under its range's worst.
TEST(RecordingOutputDelegate, NoCapturedPictureWaitsInsideTheWriterPastTheBound) {
    struct Pace {
        std::string name;
        std::vector<std::int64_t> changes;
        double seconds;
    };
    std::vector<Pace> steady;
    for (int frames = 9; frames <= 13; ++frames) {
        steady.push_back({"a change every " + std::to_string(frames) + " frames", changesEvery(frames, 5), 5});
    }
    auto typing = [](std::vector<unsigned> seeds) {
        std::vector<Pace> paces;
        for (auto seed : seeds) paces.push_back({"typing, seed " + std::to_string(seed), changesTyping(seed, 20), 20});
        return paces;
    };
    const struct {
        std::vector<Pace> paces;
        std::vector<int> soundAfterMs;
        int phaseMs;
        double limit;  // seconds
    } rows[] = {
        // Per range of kLongestWait's table.
        {steady, {0, 10, 20, 30}, 1, 0.659},
        {steady, {43, 50}, 4, 0.766},
        {steady, {56, 70}, 7, 0.853},
        {steady, {73, 80}, 4, 0.936},
        {steady, {93, 100}, 4, 1.016},
        {typing({76}), {10}, 1, 0.776},
        {typing({33}), {30}, 1, 0.843},
        {typing({78}), {50}, 0, 0.87},
        {typing({98}), {70}, 1, 0.973},
        {typing({33}), {80}, 0, 0.987},
        {typing({98}), {90}, 0, 1.04},
        // Per case: the steady paces, and the worst of the first forty typing seeds at their delays.
        {steady, {0, 10, 20, 30}, 0, 0.667},
        {steady, {40, 50}, 0, 0.767},
        {steady, {60, 70}, 0, 0.85},
        {steady, {80, 90, 100}, 0, 1.017},
        {typing({19, 27}), {0}, 0, 0.717},
        {typing({5, 21}), {10, 20}, 0, 0.783},
        {typing({10, 30, 33}), {30, 40, 50}, 0, 0.867},
        {typing({23}), {60, 70}, 0, 0.95},
        {typing({19, 33}), {80, 90, 100}, 0, 1.017},
    };
    for (const auto& row : rows) {
        for (const auto& pace : row.paces) {
            for (int soundAfterMs : row.soundAfterMs) {
                SCOPED_TRACE(pace.name + ", sound " + std::to_string(soundAfterMs) +
                             " ms after the pictures, the grid " + std::to_string(row.phaseMs) +
                             " ms into a sound buffer");
                EXPECT_LE(longestWaitInside(pace.changes, soundAfterMs, row.phaseMs, pace.seconds), row.limit);
            }
        }
    }
}

// MARK: one failing input

TEST(RecordingOutputDelegate, ABusyAudioTrackLosesTheBufferAndTheTakeGoesOn) {
    Fixture f;
    bool audioReady = true;
    f.script.ready = [&](int track) { return track == kScreen || audioReady; };
    f.open(false, false);
    std::vector<std::string> lines;
    f.delegate->setLog([&](const std::string& line) { lines.push_back(line); });
    f.receive(frame(1), RecordingSourceKind::screen);
    f.receive(sound(1.01), RecordingSourceKind::systemAudio);
    audioReady = false;
    f.receive(sound(1.02), RecordingSourceKind::systemAudio);
    f.receive(sound(1.03), RecordingSourceKind::systemAudio);  // the same run: no second line
    audioReady = true;
    f.receive(frame(1.1), RecordingSourceKind::screen);
    f.receive(sound(1.04), RecordingSourceKind::systemAudio);
    audioReady = false;
    f.receive(sound(1.05), RecordingSourceKind::systemAudio);  // a new run
    audioReady = true;
    f.finishAt(2);

    EXPECT_EQ(f.writer->status(), MovieWriterStatus::completed);
    EXPECT_EQ(f.appended(0).size(), 3u) << "the pictures go on, the tail included";
    std::vector<MediaTime> sound;
    for (const auto& item : f.appended(1)) sound.push_back(item.presentationTime);
    EXPECT_EQ(sound, (std::vector<MediaTime>{hostTime(1.01), hostTime(1.04)}));
    EXPECT_EQ(f.delegate->queue().sync([&] { return f.delegate->losses(); })[RecordingSourceKind::systemAudio]
                  .audioBuffersDropped,
              3);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "source_writer_audio_dropped kind=System audio timestamp=" + hostTime(1.02).secondsText() +
                             " dropped=1",
                         "source_writer_audio_dropped kind=System audio timestamp=" + hostTime(1.05).secondsText() +
                             " dropped=3"}));
}

TEST(RecordingOutputDelegate, ACameraPictureThatCannotBeDrawnIsSkippedAndTheLastOneStays) {
    Fixture f;
    f.open(false, true);
    std::vector<std::string> lines;
    f.delegate->setLog([&](const std::string& line) { lines.push_back(line); });
    const auto unrendered = std::make_exception_ptr(AppError::cameraFailed("Cannot render camera"));
    f.receive(frame(1), RecordingSourceKind::screen);
    f.receive(frame(1), RecordingSourceKind::camera);
    f.delegate->queue().sync([&] {
        f.delegate->skipFrame(RecordingSourceKind::camera, unrendered);
        f.delegate->skipFrame(RecordingSourceKind::camera, unrendered);
    });
    f.receive(frame(1.2), RecordingSourceKind::screen);
    f.finishAt(1.5);

    EXPECT_EQ(f.writer->status(), MovieWriterStatus::completed);
    EXPECT_EQ(f.appended(0).size(), 3u);
    // The last picture that could be drawn stands to the stop.
    EXPECT_EQ(f.appended(1), (std::vector<MovieWriterAppend>{{1, hostTime(1), MediaTime(1, 60)},
                                                             {1, hostTime(1.5) - MediaTime(1, 60), MediaTime(1, 60)}}));
    EXPECT_EQ(f.delegate->queue().sync([&] { return f.delegate->losses(); })[RecordingSourceKind::camera].framesSkipped, 2);
    EXPECT_EQ(lines, (std::vector<std::string>{"source_writer_frame_skipped kind=Camera skipped=1 error=Camera capture failed: "
                                               "Cannot render camera"}));
}

TEST(RecordingOutputDelegate, ACameraThatDrawsNoPictureAtAllFailsTheStartWithItsReason) {
    Fixture f;
    f.open(false, true);
    f.receive(frame(1), RecordingSourceKind::screen);
    f.delegate->queue().sync([&] {
        f.delegate->skipFrame(RecordingSourceKind::camera,
                              std::make_exception_ptr(AppError::cameraFailed("Cannot allocate camera frame")));
    });
    EXPECT_EQ(failureOf([&] { platform::waitForTask(f.delegate->waitForStart()); }), "Cannot allocate camera frame");
}

TEST(RecordingOutputDelegate, AFailedSoundSourceGoesOnAsSilencePacedBySystemAudio) {
    struct Case {
        const char* name;
        bool spokeFirst;  // the microphone delivered before it failed
    };
    for (const auto& c : {Case{"failed while recording", true}, Case{"failed before its first sound", false}}) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.open(true, false);
        constexpr int kMicrophone = 2;
        f.receive(frame(1), RecordingSourceKind::screen);
        f.receive(sound(1.0), RecordingSourceKind::systemAudio);
        if (c.spokeFirst) f.receive(sound(1.0), RecordingSourceKind::microphone);
        f.delegate->queue().sync([&] { f.delegate->silenceSource(RecordingSourceKind::microphone); });
        EXPECT_NO_THROW(platform::waitForTask(f.delegate->waitForStart())) << "the start does not wait for it";
        f.receive(sound(1.01), RecordingSourceKind::systemAudio);
        f.receive(sound(1.015), RecordingSourceKind::microphone);  // nothing more of it is taken
        f.receive(sound(1.02), RecordingSourceKind::systemAudio);
        f.finishAt(1.5);

        EXPECT_EQ(f.writer->status(), MovieWriterStatus::completed);
        std::vector<MediaTime> microphone;
        for (const auto& item : f.appended(kMicrophone)) microphone.push_back(item.presentationTime);
        std::vector<MediaTime> expected{hostTime(1.01), hostTime(1.02)};
        if (c.spokeFirst) expected.insert(expected.begin(), hostTime(1.0));
        EXPECT_EQ(microphone, expected);
    }
}

TEST(RecordingOutputDelegate, AWriteFailureTellsItsCausePlainlyAndLogsTheDetails) {
    Fixture f;
    f.script.accepts = [](int track) { return track == kScreen; };
    f.script.refusalError = std::make_exception_ptr(platform::MovieWriterError(
        platform::MovieWriterError::Cause::diskFull, "The disk is full.", "Writing the movie failed: No space left on device"));
    f.open(false, false);
    std::vector<std::string> lines;
    f.delegate->setLog([&](const std::string& line) { lines.push_back(line); });
    f.receive(frame(1.5), RecordingSourceKind::screen);
    f.receive(sound(1.75), RecordingSourceKind::systemAudio);
    auto failure = f.delegate->queue().sync([&] { return f.delegate->failure(); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(errorText(failure),
              "Recording finalization failed: The disk is full. The recording stopped, and what was recorded up to "
              "then is kept.");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "source_writer_failed kind=System audio timestamp=" + hostTime(1.75).secondsText() +
                            " previous=-1.0 start=" + hostTime(1.5).secondsText() +
                            " error=Writing the movie failed: No space left on device");
    // The failed writer is finished, not cancelled: it keeps what reached the disk.
    EXPECT_EQ(failureOf([&] { f.finishAt(2); }),
              "The disk is full. The recording stopped, and what was recorded up to then is kept.");
    EXPECT_EQ(f.writer->status(), MovieWriterStatus::failed);

    // Any other refusal names no library text either.
    Fixture other;
    other.script.accepts = [](int) { return false; };
    other.open(false, false);
    other.receive(frame(1.5), RecordingSourceKind::screen);
    EXPECT_EQ(errorText(other.delegate->queue().sync([&] { return other.delegate->failure(); })),
              "Recording finalization failed: The movie could not be written. The recording stopped.");
    // Not a single picture was written: nothing is kept.
    EXPECT_EQ(failureOf([&] { other.finishAt(2); }), "The movie could not be written. The recording stopped.");
    EXPECT_EQ(other.writer->status(), MovieWriterStatus::cancelled);

    // The picture was taken, but the disk filled before a fragment held it: nothing is kept.
    Fixture early;
    early.script.accepts = f.script.accepts;
    early.script.refusalError = f.script.refusalError;
    early.script.keepsPicture = false;
    early.open(false, false);
    early.receive(frame(1.5), RecordingSourceKind::screen);
    early.receive(sound(1.75), RecordingSourceKind::systemAudio);
    EXPECT_EQ(failureOf([&] { early.finishAt(2); }), "The disk is full. The recording stopped.");
}

TEST(RecordingOutputDelegate, ATailTheWriterRefusesKeepsTheTakeThatHasAPicture) {
    const struct {
        const char* name;
        bool startCopyWritten;
        // Else the stop comes within a frame of the picture, and finishing the movie fails.
        bool tailRefused;
        const char* failure;
        MovieWriterStatus status;
    } cases[] = {
        {"with a picture", true, true,
         "The movie could not be written. The recording stopped, and what was recorded up to then is kept.",
         MovieWriterStatus::completed},
        // The start's picture met a busy track: not one picture reached the movie, so nothing stays.
        {"without a picture", false, true, "The movie could not be written. The recording stopped.",
         MovieWriterStatus::cancelled},
        // The stop comes within the refused picture's frame: it is written then, and finishing fails.
        {"a picture refused until the stop, finishing fails", false, false,
         "The movie file could not be written (input/output error). The recording stopped, and what was recorded "
         "up to then is kept.",
         MovieWriterStatus::failed},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        Fixture f;
        bool stopping = false;
        f.script.ready = [&](int track) { return track != kScreen || row.startCopyWritten || stopping; };
        f.script.accepts = [&](int track) { return track != kScreen || !stopping || !row.tailRefused; };
        if (!row.tailRefused) {
            f.script.finishStatus = MovieWriterStatus::failed;
            f.script.finishError = std::make_exception_ptr(platform::MovieWriterError(
                platform::MovieWriterError::Cause::storage, "The movie file could not be written (input/output error).",
                "Finishing the movie failed: Input/output error"));
        }
        f.open(false, false);
        f.receive(frame(1), RecordingSourceKind::screen);
        f.receive(sound(1.01), RecordingSourceKind::systemAudio);
        stopping = true;
        EXPECT_EQ(failureOf([&] { f.finishAt(row.tailRefused ? 2 : 1.01); }), row.failure);
        EXPECT_EQ(f.writer->status(), row.status);
    }
}

TEST(RecordingOutputDelegate, WaitForStartNeedsEveryExpectedTrack) {
    Fixture f;
    f.open(true, false);
    f.receive(frame(1), RecordingSourceKind::screen);
    f.receive(sound(1.01), RecordingSourceKind::systemAudio);
    // The microphone never delivers: after 10 s (of the fake clock) the start fails.
    EXPECT_EQ(failureOf([&] { platform::waitForTask(f.delegate->waitForStart()); }), "Capture did not deliver video");
    EXPECT_GE(f.time->wallNs.load(), 10'000'000'000);

    f.receive(sound(1.02), RecordingSourceKind::microphone);
    EXPECT_NO_THROW(platform::waitForTask(f.delegate->waitForStart()));

    platform::CancelToken cancelled;
    cancelled.cancel();
    Fixture waiting;
    waiting.open(false, false);
    EXPECT_THROW(platform::waitForTask(waiting.delegate->waitForStart(cancelled)), platform::CancelledError);
}

TEST(RecordingOutputDelegate, WaitForStartThrowsAStoredFailure) {
    Fixture f;
    f.open(false, true);
    const auto full = std::make_exception_ptr(platform::MovieWriterError(platform::MovieWriterError::Cause::diskFull,
                                                                         "The disk is full.", "No space left on device"));
    f.delegate->queue().sync([&] {
        f.delegate->setFailure(full);
        f.delegate->setFailure(std::make_exception_ptr(AppError::cameraFailed("second")));
    });
    EXPECT_EQ(failureOf([&] { platform::waitForTask(f.delegate->waitForStart()); }), "other: The disk is full.");
}

TEST(RecordingOutputDelegate, FinishAddsATailFrameOnlyWhenTheStopIsLaterThanAFrame) {
    Fixture late;
    late.open(false, true);
    late.receive(frame(1), RecordingSourceKind::screen);
    late.receive(frame(1), RecordingSourceKind::camera);
    late.receive(frame(1.5), RecordingSourceKind::screen);
    late.finishAt(1.7);
    auto screen = late.appended(0);
    ASSERT_EQ(screen.size(), 3u);
    EXPECT_EQ(screen[2].presentationTime, hostTime(1.7) - MediaTime(1, 60));
    EXPECT_EQ(screen[2].duration, MediaTime(1, 60));
    auto camera = late.appended(1);
    ASSERT_EQ(camera.size(), 2u);
    EXPECT_EQ(camera[1].presentationTime, hostTime(1.7) - MediaTime(1, 60));
    EXPECT_EQ(late.writer->status(), MovieWriterStatus::completed);

    // A stop less than a frame after the last picture adds nothing.
    Fixture soon;
    soon.open(false, false);
    soon.receive(frame(1), RecordingSourceKind::screen);
    soon.finishAt(1.01);
    EXPECT_EQ(soon.appended(0).size(), 1u);

    // Between one and two frames after it: one frame after the picture.
    Fixture between;
    between.open(false, false);
    between.receive(frame(1), RecordingSourceKind::screen);
    between.finishAt(1.025);
    auto frames = between.appended(0);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].presentationTime, hostTime(1) + MediaTime(1, 60));
}

// The screen stamps a picture on its nearest slot, which may lie just past a stop that comes
// as it is handed over; a busy track may refuse the last picture. Either way the track closes
// on a picture of its own within its last frame, so it shows something up to the stop.
TEST(RecordingOutputDelegate, EveryStoppedPictureTrackClosesWithinItsLastFrame) {
    const struct {
        const char* name;
        double last;  // the newest picture, handed over just before the stop at 2 s
        bool busy;    // the screen track is busy when it comes
    } cases[] = {
        {"a picture stamped just past the stop", 2.005, false},
        {"a picture stamped at the stop", 2.0, false},
        {"a picture in the last frame that a busy track refused", 1.995, true},
        {"a picture in the last frame", 1.99, false},
        {"a picture a tenth before the stop", 1.9, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        bool busy = false;
        f.script.ready = [&busy](int track) { return track != kScreen || !busy; };
        f.open(false, false);
        f.time->host = hostTime(2);
        f.receive(frame(1), RecordingSourceKind::screen);
        for (int ms = 1000; ms < 2000; ms += 10) f.receive(sound(ms / 1000.0), RecordingSourceKind::systemAudio);
        busy = c.busy;
        f.receive(frame(c.last), RecordingSourceKind::screen);
        busy = false;
        f.finishAt(2);
        MediaTime closing(0, 1);
        for (const auto& item : f.appended(kScreen)) {
            if (item.presentationTime < hostTime(2)) closing = item.presentationTime;
        }
        EXPECT_GE(closing, hostTime(2) - MediaTime(1, 60));
    }
}

// A picture stamped ahead of the clock waits until the clock passes it, whatever brings the
// next sample, and is then written at its own time; a stop meanwhile keeps it when it lies
// before the stop. A picture of its track coming behind it lets it go at once.
TEST(RecordingOutputDelegate, APictureAheadOfTheClockIsWrittenAtItsTimeUnlessItLiesPastTheStop) {
    struct Picture {
        double at;
        double comesAt;  // the host clock as it is handed over
    };
    const struct {
        const char* name;
        std::vector<Picture> pictures;  // after one at 1 s
        double stop;  // the sound, in 10 ms buffers each handed over as it ends, runs up to it
        std::vector<MediaTime> want;  // the screen's captured pictures and tail, repeats aside
    } rows[] = {
        {"a change before a still screen, let go by the sound", {{1.505, 1.5}}, 2.5,
         {hostTime(1), hostTime(1.505), hostTime(2.5) - MediaTime(1, 60)}},
        {"a change stamped past the stop, with sound after it", {{2.005, 1.998}}, 2.0,
         {hostTime(1), hostTime(2) - MediaTime(1, 60)}},
        {"a change still ahead at the stop, before it", {{1.995, 1.992}}, 1.998, {hostTime(1), hostTime(1.995)}},
        {"two changes of one slot, both ahead", {{2.0, 1.995}, {2.0 + 1 / 60.0, 1.996}}, 2.1,
         {hostTime(1), hostTime(2), hostTime(2.0 + 1 / 60.0), hostTime(2.1) - MediaTime(1, 60)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture f;
        f.open(false, false);
        f.time->host = hostTime(1);
        f.receive(frame(1), RecordingSourceKind::screen);
        auto picture = row.pictures.begin();
        for (int ms = 1010; ms <= std::lround(row.stop * 1000); ms += 10) {
            for (; picture != row.pictures.end() && picture->comesAt < ms / 1000.0; ++picture) {
                f.time->host = hostTime(picture->comesAt);
                f.receive(frame(picture->at), RecordingSourceKind::screen);
            }
            f.time->host = hostTime(ms / 1000.0);
            f.receive(sound(ms / 1000.0 - 0.01), RecordingSourceKind::systemAudio);
        }
        for (; picture != row.pictures.end(); ++picture) {
            f.time->host = hostTime(picture->comesAt);
            f.receive(frame(picture->at), RecordingSourceKind::screen);
        }
        f.finishAt(row.stop);
        std::vector<MediaTime> captured;
        for (const auto& item : f.appended(kScreen)) {
            if (!item.again) captured.push_back(item.presentationTime);
        }
        EXPECT_EQ(captured, row.want);
    }
}

TEST(RecordingOutputDelegate, FinishFailsWithoutVideoOrWhenAVideoTrackDoesNotDrain) {
    Fixture empty;
    empty.open(false, false);
    empty.receive(sound(1), RecordingSourceKind::systemAudio);
    EXPECT_EQ(failureOf([&] { empty.finishAt(2); }), "Capture produced no video");
    EXPECT_EQ(empty.writer->status(), MovieWriterStatus::cancelled);

    Fixture stuck;
    bool ready = true;
    stuck.script.ready = [&](int) { return ready; };
    stuck.open(false, false);
    stuck.receive(frame(1), RecordingSourceKind::screen);
    ready = false;
    const auto before = stuck.time->wallNs.load();
    EXPECT_EQ(failureOf([&] { stuck.finishAt(2); }), "Video writer did not drain");
    EXPECT_GE(stuck.time->wallNs.load() - before, 10'000'000'000);
    // The pictures written so far are kept.
    EXPECT_EQ(stuck.writer->status(), MovieWriterStatus::completed);
    EXPECT_EQ(stuck.appended(0).size(), 1u);
}

TEST(RecordingOutputDelegate, FinishWaitsForABusyVideoTrackToDrain) {
    Fixture f;
    std::atomic<int> checks{0};
    // Ready for the first frame, busy for the first three drain checks, then ready again.
    f.script.ready = [&](int) { return ++checks == 1 || checks > 4; };
    f.open(false, false);
    f.receive(frame(1), RecordingSourceKind::screen);
    f.finishAt(1.5);
    EXPECT_EQ(f.writer->status(), MovieWriterStatus::completed);
    EXPECT_EQ(f.time->wallNs.load(), 30'000'000);  // three retries 10 ms apart
    EXPECT_EQ(f.appended(0).size(), 2u);
}

TEST(RecordingOutputDelegate, FinishReportsTheWriterOutcome) {
    Fixture failed;
    failed.script.finishStatus = MovieWriterStatus::failed;
    failed.script.finishError = std::make_exception_ptr(platform::MovieWriterError(
        platform::MovieWriterError::Cause::storage, "The movie file could not be written (input/output error).",
        "Finishing the movie failed: Input/output error"));
    failed.open(false, false);
    failed.receive(frame(1), RecordingSourceKind::screen);
    EXPECT_EQ(failureOf([&] { failed.finishAt(2); }),
              "The movie file could not be written (input/output error). The recording stopped, and what was "
              "recorded up to then is kept.");

    Fixture silent;
    silent.script.finishStatus = MovieWriterStatus::failed;
    silent.open(false, false);
    silent.receive(frame(1), RecordingSourceKind::screen);
    EXPECT_EQ(failureOf([&] { silent.finishAt(2); }), "Source recording did not finalize");
}

TEST(RecordingOutputDelegate, CancelStopsWritingAndFailsALaterFinish) {
    Fixture f;
    f.open(false, false);
    f.receive(frame(1), RecordingSourceKind::screen);
    EXPECT_EQ(f.delegate->cancel(), static_cast<int>(MovieWriterStatus::cancelled));
    f.receive(frame(1.5), RecordingSourceKind::screen);
    EXPECT_EQ(f.appended(0).size(), 1u);
    EXPECT_THROW(f.finishAt(2), platform::CancelledError);
}

TEST(RecordingOutputDelegate, AVideoKindWithoutATrackIsIgnored) {
    Fixture f;
    f.open(false, false);
    f.receive(frame(1), RecordingSourceKind::screen);
    f.receive(frame(1.1), RecordingSourceKind::camera);  // a stray camera frame
    f.receive(frame(1.2), RecordingSourceKind::screen);
    f.finishAt(1.5);
    EXPECT_EQ(f.writer->status(), MovieWriterStatus::completed);
    EXPECT_EQ(f.time->wallNs.load(), 0);  // no drain wait for a track that does not exist
    EXPECT_EQ(f.appended(0).size(), 3u);  // the frames and the tail
}

TEST(RecordingOutputDelegate, SamplesWithABrokenClockAreDroppedAndLogged) {
    // However the take ends, the faults counted are told once.
    const struct {
        const char* ending;
        std::function<void(Fixture&)> end;
        MovieWriterStatus status;
        bool stopped;  // samples may still come, and are judged against the stop
    } endings[] = {
        {"finish", [](Fixture& f) { f.finishAt(2); }, MovieWriterStatus::completed, true},
        {"finishNow, as the program quits",
         [](Fixture& f) {
             f.time->host = hostTime(2);
             // Real time for the writer's queue, which a loaded machine may take seconds to run.
             f.delegate->finishNow(std::chrono::minutes(1));
         },
         MovieWriterStatus::completed, true},
        {"cancel, after a start that failed",
         [](Fixture& f) {
             // The disk fills before the capture has seen its start: the start fails, and its
             // clean-up cancels the take.
             const auto full = std::make_exception_ptr(platform::MovieWriterError(
                 platform::MovieWriterError::Cause::diskFull, "The disk is full.", "No space left on device"));
             f.delegate->queue().sync([&] { f.delegate->setFailure(full); });
             EXPECT_EQ(failureOf([&] { platform::waitForTask(f.delegate->waitForStart()); }), "other: The disk is full.");
             f.delegate->cancel();
         },
         MovieWriterStatus::cancelled, false},
    };
    for (const auto& e : endings) {
        SCOPED_TRACE(e.ending);
        Fixture f;
        f.open(true, false);
        std::vector<std::string> lines;
        f.delegate->setLog([&](const std::string& line) { lines.push_back(line); });
        // Host time is 100 s.
        f.receive(frame(1), RecordingSourceKind::screen);
        f.receive(sound(1), RecordingSourceKind::systemAudio);
        f.receive(sound(3700), RecordingSourceKind::systemAudio);  // an hour ahead of now
        f.receive(sound(3701), RecordingSourceKind::systemAudio);  // counted, not logged
        f.receive(frame(3700), RecordingSourceKind::screen);
        f.receive(sound(1.01), RecordingSourceKind::systemAudio);
        f.receive(frame(1.2), RecordingSourceKind::screen);  // later frames are still written
        f.receive(sound(104), RecordingSourceKind::microphone);  // a little ahead: a busy machine, kept
        EXPECT_EQ(f.appended(0).size(), 2u);
        EXPECT_EQ(f.appended(1).size(), 2u);
        EXPECT_EQ(f.appended(2).size(), 1u);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], "source_writer_clock_fault kind=System audio timestamp=8700.0 now=5100.0");
        EXPECT_TRUE(lines[1].starts_with("source_writer_clock_fault kind=Screen"));
        e.end(f);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[2], "source_writer_clock_faults kind=System audio count=2");
        EXPECT_EQ(f.writer->status(), e.status);
        if (!e.stopped) continue;
        // After the stop: a sample just after it is dropped quietly, one far past it is a clock fault.
        const auto written = f.appends.data().size();
        f.time->host = hostTime(3);
        f.receive(sound(2.5), RecordingSourceKind::systemAudio);
        f.receive(sound(2.01), RecordingSourceKind::systemAudio);
        EXPECT_EQ(f.appends.data().size(), written);
        f.time->host = hostTime(3600);
        f.receive(sound(3000), RecordingSourceKind::systemAudio);
        EXPECT_EQ(f.appends.data().size(), written);
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[3], "source_writer_clock_fault kind=System audio timestamp=8000.0 now=8600.0 end=5002.0");
    }
}

// Real movies written through the delegate from synthetic samples and read back.
#include "capture/recording_output_delegate.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <thread>

#include "model/app_error.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/composition_encoder.hpp"
#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/media_asset.hpp"
#include "platform/media/movie_remuxer.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "support/synthetic_media.hpp"
#include "support/temporary_directory.hpp"

using namespace yux;
using platform::MediaTime;
using platform::MovieTrackReader;
using platform::SampleBuffer;
using yux::testing::hostTime;
namespace media = yux::testing;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kBubbleRadius = 70;

// The live clock, except that the stop happens at a chosen sample time.
RecordingOutputDelegate::Clock stopAt(double seconds) {
    auto clock = RecordingOutputDelegate::Clock::live();
    clock.hostNow = [seconds] { return hostTime(seconds); };
    return clock;
}

// stopAt, except that the delegate's waits (the start's, the drain's) pass at once.
RecordingOutputDelegate::Clock stopAtWithoutWaits(double seconds) {
    auto clock = stopAt(seconds);
    auto skipped = std::make_shared<std::atomic<std::int64_t>>(0);  // ns
    clock.now = [skipped] { return std::chrono::steady_clock::now() + std::chrono::nanoseconds(skipped->load()); };
    clock.sleep = [skipped](std::chrono::milliseconds duration, platform::CancelToken) -> QCoro::Task<void> {
        *skipped += std::chrono::nanoseconds(duration).count();
        co_return;
    };
    clock.after = [skipped](platform::SerialQueue& queue, std::chrono::milliseconds delay, std::function<void()> work) {
        *skipped += std::chrono::nanoseconds(delay).count();
        queue.async(std::move(work));
    };
    return clock;
}

// The scratch writer at `path`, except that its screen track takes nothing once `stalled` is
// set, as an encoder that never drains.
std::shared_ptr<platform::MovieWriter> stallingScreen(const std::string& path, std::shared_ptr<std::atomic<bool>> stalled) {
    std::shared_ptr<platform::MovieWriter> inner =
        platform::MovieWriter::create(path, platform::ExclusiveOutputFile::CommitOperations::unsynced());
    platform::MovieWriter::Operations operations;
    operations.addTrack = [inner](const platform::MovieTrackFormat& format) { return inner->addTrack(format) >= 0; };
    operations.setMetadata = [inner](const std::string& key, const std::string& value) {
        return inner->setMetadata(key, value);
    };
    operations.startWriting = [inner] { return inner->startWriting(); };
    operations.startSession = [inner](MediaTime start) { inner->startSession(start); };
    operations.room = [inner, stalled](int track) { return track == 0 && *stalled ? 0 : inner->room(track); };
    operations.append = [inner](int track, const SampleBuffer& sample, bool again) {
        return again ? inner->appendAgain(track, sample) : inner->append(track, sample);
    };
    operations.endSession = [inner](MediaTime end) { inner->endSession(end); };
    operations.markAsFinished = [inner](int track) { inner->markAsFinished(track); };
    operations.finishWriting = [inner](std::function<void()> completion) { inner->finishWriting(std::move(completion)); };
    operations.cancelWriting = [inner] { inner->cancelWriting(); };
    operations.status = [inner] { return inner->status(); };
    operations.error = [inner] { return inner->error(); };
    operations.picturesHeld = [inner](int track) { return inner->picturesHeld(track); };
    operations.keepsPicture = [inner] { return inner->keepsPicture(); };
    return std::make_shared<platform::MovieWriter>(std::move(operations));
}

// Hands a sample over the way the stream does, on the writer's queue. The test produces
// faster than real time, so it waits for room first, as a real source's pace would give it.
void deliver(RecordingOutputDelegate& delegate, int track, const SampleBuffer& sample, RecordingSourceKind kind) {
    while (!delegate.writer().isReadyForMoreMediaData(track) && delegate.writer().status() ==
                                                                    platform::MovieWriterStatus::writing) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    delegate.queue().sync([&] { delegate.receive(sample, kind); });
}

// One continuous tone in 10 ms buffers, delivered up to a given time.
struct ToneFeed {
    int track;
    RecordingSourceKind kind;
    double frequency;
    std::int64_t next = 0;  // samples since 0 s

    void until(RecordingOutputDelegate& delegate, double seconds) {
        constexpr int kBuffer = 480;
        while (next / 48000.0 < seconds) {
            deliver(delegate, track,
                    media::audioSample(hostTime(next / 48000.0),
                                       media::sineTone(frequency, kBuffer, 48000, 2, platform::AudioSampleFormat::float32,
                                                       next)),
                    kind);
            next += kBuffer;
        }
    }
};

// A text of the container's own metadata as libavformat reads it back; "" when absent.
std::string containerMetadata(const std::string& path, std::string_view key) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return "(unreadable)";
    const AVDictionaryEntry* entry = av_dict_get(format->metadata, std::string(key).c_str(), nullptr, 0);
    std::string value = entry != nullptr ? entry->value : "";
    avformat_close_input(&format);
    return value;
}

// A short take of screen and system audio, stopped at `stop` seconds.
void recordScreenAndSound(RecordingOutputDelegate& delegate, double stop) {
    ToneFeed system{1, RecordingSourceKind::systemAudio, 440};
    for (int i = 0; i / 60.0 < stop; ++i) {
        const double t = i / 60.0;
        deliver(delegate, 0, media::videoSample(hostTime(t), media::movingPattern(kWidth, kHeight, i)),
                RecordingSourceKind::screen);
        system.until(delegate, t + 1 / 60.0);
    }
    platform::waitForTask(delegate.waitForStart());
    platform::waitForTask(delegate.finish());
}

}  // namespace

TEST(RecordingOutputDelegateMovie, StoresTheNominalFrameRateOfTheScreen) {
    media::TemporaryDirectory folder;
    const auto ntsc = folder.file("ntsc.mov");
    recordScreenAndSound(*RecordingOutputDelegate::open(ntsc, kWidth, kHeight, false, false, stopAt(0.3),
                                                        MediaTime(1001, 30000)),
                         0.3);
    EXPECT_EQ(containerMetadata(ntsc, platform::kNominalScreenFrameRateKey), "29.97002997002997");
    // The key stays out of the track titles, which readers rely on.
    EXPECT_EQ(MovieTrackReader(ntsc).tracks()[0].title, "yux.source.screen");

    const auto standard = folder.file("standard.mov");
    recordScreenAndSound(*RecordingOutputDelegate::open(standard, kWidth, kHeight, false, false, stopAt(0.3)), 0.3);
    EXPECT_EQ(containerMetadata(standard, "yux.screen.frameRate"), "60");
}

TEST(RecordingOutputDelegateMovie, FourTracksStartAtTheLateCameraAndEndWithATailFrame) {
    media::TemporaryDirectory folder;
    const auto path = folder.file("four.mov");
    auto delegate = RecordingOutputDelegate::open(path, kWidth, kHeight, true, true, stopAt(1.7));
    // Tracks: 0 screen, 1 camera, 2 system audio, 3 microphone. Audio runs from 0 s, the screen
    // from 0.2 s, the camera from 0.7 s; the last frames come at about 1.5 s and the stop at 1.7 s.
    ToneFeed system{2, RecordingSourceKind::systemAudio, 440};
    ToneFeed microphone{3, RecordingSourceKind::microphone, 1000};
    const auto bubble = media::cameraBubble(kWidth, kHeight, kBubbleRadius);
    for (int i = 0; i < 78; ++i) {
        const double t = 0.2 + i / 60.0;
        deliver(*delegate, 0, media::videoSample(hostTime(t), media::movingPattern(kWidth, kHeight, i)),
                RecordingSourceKind::screen);
        if (t >= 0.7 && i % 2 == 0) {
            deliver(*delegate, 1, media::videoSample(hostTime(t), bubble, MediaTime(1, 30)), RecordingSourceKind::camera);
        }
        system.until(*delegate, t + 1 / 60.0);
        microphone.until(*delegate, t + 1 / 60.0);
    }
    const MediaTime cameraStart = hostTime(0.2 + 30 / 60.0);
    EXPECT_EQ(delegate->queue().sync([&] { return delegate->start(); }), cameraStart);
    platform::waitForTask(delegate->waitForStart());
    platform::waitForTask(delegate->finish());
    ASSERT_EQ(delegate->writer().status(), platform::MovieWriterStatus::completed);

    MovieTrackReader reader(path);
    const auto& tracks = reader.tracks();
    ASSERT_EQ(tracks.size(), 4u);
    EXPECT_EQ(tracks[0].title, "yux.source.screen");
    EXPECT_EQ(tracks[1].title, "yux.source.camera");
    EXPECT_EQ(tracks[2].title, "yux.source.systemAudio");
    EXPECT_EQ(tracks[3].title, "yux.source.microphone");
    EXPECT_EQ(tracks[0].codec, "h264");
    EXPECT_EQ(tracks[1].codec, "h264");
    EXPECT_EQ(tracks[2].codec, "aac");
    EXPECT_EQ(tracks[3].codec, "aac");
    EXPECT_EQ(tracks[1].width, kWidth);
    EXPECT_EQ(tracks[1].height, kHeight);

    // The movie runs from the camera's first frame to the stop.
    const double length = (hostTime(1.7) - cameraStart).seconds();
    EXPECT_NEAR(reader.duration().seconds(), length, 0.01);
    auto screen = reader.videoFrames(tracks[0]);
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ(screen.front().presentationTime, MediaTime::zero());
    // The last frame (at about 1.48 s) is followed by a tail copy at the stop less one frame.
    EXPECT_NEAR(screen.back().presentationTime.seconds(), length - 1 / 60.0, 1e-4);
    EXPECT_NEAR(screen[screen.size() - 2].presentationTime.seconds(), (hostTime(0.2 + 77 / 60.0) - cameraStart).seconds(),
                1e-4);

    // Audio from before the start is not in the movie.
    auto systemAudio = reader.readAudio(tracks[2]);
    auto microphoneAudio = reader.readAudio(tracks[3]);
    EXPECT_LT(systemAudio.audio.frameCount() / 48000.0, length + 0.03);
    EXPECT_GT(media::toneLevel(systemAudio.audio, 440), 0.3);
    EXPECT_LT(media::toneLevel(systemAudio.audio, 1000), 0.02);
    EXPECT_GT(media::toneLevel(microphoneAudio.audio, 1000), 0.3);
    EXPECT_LT(media::toneLevel(microphoneAudio.audio, 440), 0.02);

    // The camera reads back transparent around the bubble and opaque inside it.
    auto camera = reader.videoFrames(tracks[1], 1);
    ASSERT_EQ(camera.size(), 1u);
    const auto& picture = *camera[0].picture();
    auto alpha = [&](int x, int y) { return static_cast<int>(picture.row(y)[4 * x + 3]); };
    EXPECT_LE(alpha(4, 4), 8);
    EXPECT_LE(alpha(kWidth - 4, kHeight / 2), 8);
    EXPECT_LE(alpha(kWidth / 2, kHeight / 2 - kBubbleRadius - 12), 8);
    EXPECT_GE(alpha(kWidth / 2, kHeight / 2), 247);
    EXPECT_GE(alpha(kWidth / 2 - kBubbleRadius + 12, kHeight / 2), 247);
}

TEST(RecordingOutputDelegateMovie, ScreenAndSystemAudioOnly) {
    media::TemporaryDirectory folder;
    const auto path = folder.file("two.mov");
    auto delegate = RecordingOutputDelegate::open(path, kWidth, kHeight, false, false, stopAt(0.5));
    ToneFeed system{1, RecordingSourceKind::systemAudio, 440};
    for (int i = 0; i < 30; ++i) {
        const double t = i / 60.0;
        deliver(*delegate, 0, media::videoSample(hostTime(t), media::movingPattern(kWidth, kHeight, i)),
                RecordingSourceKind::screen);
        system.until(*delegate, t + 1 / 60.0);
    }
    platform::waitForTask(delegate->waitForStart());
    platform::waitForTask(delegate->finish());
    MovieTrackReader reader(path);
    ASSERT_EQ(reader.tracks().size(), 2u);
    EXPECT_EQ(reader.tracks()[0].title, "yux.source.screen");
    EXPECT_EQ(reader.tracks()[0].codec, "h264");
    EXPECT_EQ(reader.tracks()[1].title, "yux.source.systemAudio");
    EXPECT_EQ(reader.tracks()[1].codec, "aac");
    EXPECT_EQ(reader.tracks()[1].sampleRate, 48000);
    EXPECT_EQ(reader.tracks()[1].channels, 2);
    // A completed take reads back exactly as long as it was recorded, whichever reader asks.
    EXPECT_NEAR(reader.duration().seconds(), 0.5, 1e-6);
    EXPECT_NEAR(reader.tracks()[0].duration.seconds(), 0.5, 1e-6);
    EXPECT_NEAR(reader.tracks()[1].duration.seconds(), 0.5, 1e-6);
    EXPECT_NEAR(platform::MediaAsset::open(path).durationSeconds, 0.5, 1e-6);
}

// The screen sends no picture while nothing changes: whatever came last, the screen track
// shows its newest picture up to the stop, and ends on a picture of its own there.
TEST(RecordingOutputDelegateMovie, AStillScreenLastsToTheStop) {
    const struct {
        const char* name;
        std::optional<double> last;  // a picture after the still stretch, delivered before the stop
    } cases[] = {
        {"still to the stop", std::nullopt},
        // A picture taken just before the stop and stamped on the next slot of its grid.
        {"a change stamped just past the stop", 1.005},
        {"a change stamped at the stop", 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        media::TemporaryDirectory folder;
        const auto path = folder.file("still.mov");
        auto delegate = RecordingOutputDelegate::open(path, kWidth, kHeight, false, false, stopAt(1.0));
        ToneFeed system{1, RecordingSourceKind::systemAudio, 440};
        for (int i = 0; i <= 12; ++i) {
            deliver(*delegate, 0, media::videoSample(hostTime(i / 60.0), media::movingPattern(kWidth, kHeight, i)),
                    RecordingSourceKind::screen);
            system.until(*delegate, (i + 1) / 60.0);
        }
        system.until(*delegate, 0.99);
        if (c.last) {
            deliver(*delegate, 0, media::videoSample(hostTime(*c.last), media::movingPattern(kWidth, kHeight, 13)),
                    RecordingSourceKind::screen);
        }
        platform::waitForTask(delegate->waitForStart());
        platform::waitForTask(delegate->finish());
        MovieTrackReader reader(path);
        const auto* screen = reader.trackTitled("yux.source.screen");
        ASSERT_NE(screen, nullptr);
        EXPECT_NEAR((screen->start + screen->duration).seconds(), 1.0, 1e-6);
        // Closed by a picture within its last frame, not one stretched to the stop.
        const auto frames = reader.videoFrames(*screen);
        ASSERT_FALSE(frames.empty());
        EXPECT_GE(frames.back().presentationTime.seconds(), 1.0 - 1 / 60.0 - 1e-6);
    }
}

// A still screen's newest picture is written again as the sound moves on. A re-encoded export
// of the take keeps the length, rate and number of pictures of the take without them; a fast
// copy carries them.
TEST(RecordingOutputDelegateMovie, ExportsOfAStillTakeKeepTheirLengthRateAndPictures) {
    media::TemporaryDirectory folder;
    const auto path = folder.file("still.mov");
    auto delegate = RecordingOutputDelegate::open(path, kWidth, kHeight, false, false, stopAt(2.0));
    ToneFeed system{1, RecordingSourceKind::systemAudio, 440};
    for (int i = 0; i < 6; ++i) {
        deliver(*delegate, 0, media::videoSample(hostTime(i / 60.0), media::movingPattern(kWidth, kHeight, i)),
                RecordingSourceKind::screen);
        system.until(*delegate, (i + 1) / 60.0);
    }
    // Sound at its own pace, which the screen's encoder keeps up with.
    for (int ms = 110; ms <= 2000; ms += 10) {
        while (!delegate->writer().isReadyForMoreMediaData(0)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        system.until(*delegate, ms / 1000.0);
    }
    platform::waitForTask(delegate->waitForStart());
    platform::waitForTask(delegate->finish());
    auto countPictures = [](const std::string& movie) {
        MovieTrackReader reader(movie);
        int count = 0;
        reader.readVideo(reader.tracks()[0], [&](const SampleBuffer&) { return ++count, true; });
        return count;
    };
    const int scratchPictures = countPictures(path);
    // Six real pictures, about one repeat per 0.1 s of the 1.9 s still after them, and the stop's tail.
    EXPECT_GE(scratchPictures, 6 + 15 + 1);
    EXPECT_NEAR(MovieTrackReader(path).tracks()[0].duration.seconds(), 2.0, 1e-6);

    const auto asset = platform::MediaAsset::open(path);
    auto tracks = asset.tracksOf(platform::MediaTrackType::video);
    const auto audio = asset.tracksOf(platform::MediaTrackType::audio);
    tracks.insert(tracks.end(), audio.begin(), audio.end());
    platform::CompositionEncodeSettings settings;
    settings.videoBitsPerSecond = 1'000'000;
    settings.frameRate = 60;
    settings.geometry = {kWidth, kHeight, 0, 0, kWidth, kHeight};
    const auto encoded = folder.file("encoded.mov");
    platform::CompositionEncoder::encode(path, encoded, platform::EditComposition::build(tracks, {{0, 2, 1}}), settings,
                                         {}, platform::CancelToken());
    MovieTrackReader reencoded(encoded);
    EXPECT_NEAR(reencoded.duration().seconds(), 2.0, 1e-3);
    EXPECT_EQ(reencoded.tracks()[0].frameCount, 120);
    EXPECT_EQ(countPictures(encoded), 120);

    const auto copied = folder.file("copied.mov");
    platform::MovieRemuxer::copy(path, copied, {}, platform::CancelToken());
    EXPECT_NEAR(MovieTrackReader(copied).duration().seconds(), 2.0, 1e-3);
    EXPECT_EQ(countPictures(copied), scratchPictures);
}

TEST(RecordingOutputDelegateMovie, AMicrophoneThatFailsGoesOnAsSilenceToTheStop) {
    media::TemporaryDirectory folder;
    const auto path = folder.file("quiet.mov");
    auto delegate = RecordingOutputDelegate::open(path, kWidth, kHeight, true, false, stopAt(0.5));
    ToneFeed system{1, RecordingSourceKind::systemAudio, 440};
    ToneFeed microphone{2, RecordingSourceKind::microphone, 880};
    for (int i = 0; i < 30; ++i) {
        const double t = i / 60.0;
        deliver(*delegate, 0, media::videoSample(hostTime(t), media::movingPattern(kWidth, kHeight, i)),
                RecordingSourceKind::screen);
        if (t < 0.2) microphone.until(*delegate, t + 1 / 60.0);
        if (i == 12) delegate->queue().sync([&] { delegate->silenceSource(RecordingSourceKind::microphone); });
        system.until(*delegate, t + 1 / 60.0);
    }
    platform::waitForTask(delegate->finish());
    MovieTrackReader reader(path);
    const auto* track = reader.trackTitled("yux.source.microphone");
    ASSERT_NE(track, nullptr);
    EXPECT_NEAR(track->duration.seconds(), 0.5, 0.01);
    const auto decoded = reader.readAudio(*track);
    const auto* samples = reinterpret_cast<const float*>(decoded.audio.bytes->data());
    const auto loudest = [&](double from, double to) {
        float peak = 0;
        for (auto i = static_cast<std::size_t>(from * 48000); i < static_cast<std::size_t>(to * 48000); ++i) {
            peak = std::max(peak, std::fabs(samples[i * 2]));
        }
        return peak;
    };
    EXPECT_GT(loudest(0.05, 0.15), 0.2f) << "the microphone before it failed";
    EXPECT_LT(loudest(0.25, 0.49), 0.001f) << "silence after it failed";
}

TEST(RecordingOutputDelegateMovie, NoMovieIsLeftWhenTheRecordingDoesNotComplete) {
    media::TemporaryDirectory folder;

    // A microphone that never delivers fails the start; the clean-up cancels the file.
    const auto silent = folder.file("silent.mov");
    auto delegate = RecordingOutputDelegate::open(silent, kWidth, kHeight, true, false, stopAtWithoutWaits(1));
    deliver(*delegate, 0, media::videoSample(hostTime(0), media::movingPattern(kWidth, kHeight, 0)),
            RecordingSourceKind::screen);
    try {
        platform::waitForTask(delegate->waitForStart());
        FAIL() << "the start did not fail";
    } catch (const AppError& error) {
        EXPECT_EQ(error.detail(), "Capture did not deliver video");
    }
    EXPECT_EQ(delegate->cancel(), static_cast<int>(platform::MovieWriterStatus::cancelled));
    EXPECT_FALSE(std::filesystem::exists(silent));
    EXPECT_THROW(platform::waitForTask(delegate->finish()), platform::CancelledError);

    // A finish without video.
    const auto empty = folder.file("empty.mov");
    auto noVideo = RecordingOutputDelegate::open(empty, kWidth, kHeight, false, false, stopAt(1));
    ToneFeed{1, RecordingSourceKind::systemAudio, 440}.until(*noVideo, 0.1);
    EXPECT_THROW(platform::waitForTask(noVideo->finish()), AppError);
    EXPECT_FALSE(std::filesystem::exists(empty));

    // An open that fails leaves an existing file as it was and makes no new one.
    const auto existing = folder.file("existing.mov");
    media::writeWholeFile(existing, "not ours");
    EXPECT_THROW(RecordingOutputDelegate::open(existing, kWidth, kHeight, false, false), std::runtime_error);
    EXPECT_EQ(media::readWholeFile(existing), "not ours");
    const auto odd = folder.file("odd.mov");
    EXPECT_THROW(RecordingOutputDelegate::open(odd, 321, 240, false, false), AppError);
    EXPECT_FALSE(std::filesystem::exists(odd));
}

// A track that never drains fails the stop; the movie keeps what was written and still ends at
// the stop, though a sound buffer written before it runs past it.
TEST(RecordingOutputDelegateMovie, AStopThatFailsStillEndsTheMovieAtTheStop) {
    media::TemporaryDirectory folder;
    const auto path = folder.file("stalled.mov");
    auto stalled = std::make_shared<std::atomic<bool>>(false);
    auto delegate = RecordingOutputDelegate::open(stallingScreen(path, stalled), kWidth, kHeight, false, false,
                                                  stopAtWithoutWaits(0.505));
    ToneFeed system{1, RecordingSourceKind::systemAudio, 440};
    for (int i = 0; i < 30; ++i) {
        deliver(*delegate, 0, media::videoSample(hostTime(i / 60.0), media::movingPattern(kWidth, kHeight, i)),
                RecordingSourceKind::screen);
        system.until(*delegate, (i + 1) / 60.0);
    }
    system.until(*delegate, 0.51);
    platform::waitForTask(delegate->waitForStart());
    *stalled = true;
    try {
        platform::waitForTask(delegate->finish());
        FAIL() << "a stop whose track never drained passed as success";
    } catch (const AppError& error) {
        EXPECT_EQ(error.detail(), "Video writer did not drain");
    }
    EXPECT_NEAR(MovieTrackReader(path).duration().seconds(), 0.505, 1e-6);
}

// A file-size limit for this process, as a full disk; the signal it raises is ignored, so a
// write past it fails with an error as on a full disk. Restored when it goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    sighandler_t previousHandler_ = nullptr;
};

TEST(RecordingOutputDelegateMovie, AFullDiskStopsTheRecordingAndKeepsWhatWasWritten) {
    const struct {
        const char* name;
        rlim_t bytes;
        const char* failure;
    } cases[] = {
        {"after some fragments", 300'000,
         "The disk is full. The recording stopped, and what was recorded up to then is kept."},
        // The header fits, the first fragment does not: no picture, so no take.
        {"within the first fragment", 20'000, "The disk is full. The recording stopped."},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        media::TemporaryDirectory folder;
        const auto path = folder.file("full.mov");
        double written = 0;
        {
            FileSizeLimit limit(row.bytes);
            auto delegate = RecordingOutputDelegate::open(path, kWidth, kHeight, false, false, stopAt(30));
            ToneFeed system{1, RecordingSourceKind::systemAudio, 440};
            for (int i = 0; i < 30 * 60; ++i) {
                const double t = i / 60.0;
                deliver(*delegate, 0, media::videoSample(hostTime(t), media::movingPattern(kWidth, kHeight, i)),
                        RecordingSourceKind::screen);
                system.until(*delegate, t + 1 / 60.0);
                if (delegate->queue().sync([&] { return delegate->failure() != nullptr; })) break;
                written = t;
            }
            ASSERT_LT(written, 29.0) << "the limit was never reached";
            try {
                platform::waitForTask(delegate->finish());
                FAIL() << "a full disk passed as success";
            } catch (const AppError& error) {
                EXPECT_EQ(error.detail(), row.failure);
            }
        }
        if (row.bytes < 100'000) {
            EXPECT_FALSE(std::filesystem::exists(path));
            continue;
        }
        ASSERT_GT(written, 2.0) << "the limit was reached too early to tell fragments apart";
        ASSERT_TRUE(std::filesystem::exists(path));
        MovieTrackReader reader(path);
        ASSERT_EQ(reader.tracks().size(), 2u);
        // Everything up to the last complete fragment, about a second, is there.
        EXPECT_GE(reader.duration().seconds(), written - 1.5);
        EXPECT_LE(reader.duration().seconds(), written + 0.1);
        EXPECT_GE(reader.videoFrames(reader.tracks()[0]).size(), static_cast<std::size_t>((written - 1.5) * 60));
        EXPECT_GT(media::toneLevel(reader.readAudio(reader.tracks()[1]).audio, 440), 0.25);
    }
}

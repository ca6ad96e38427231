#include "platform/media/movie_writer.hpp"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <optional>
#include <thread>

#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "support/synthetic_media.hpp"
#include "support/temporary_directory.hpp"

using namespace yux::platform;
using yux::testing::audioSample;
using yux::testing::cameraBubble;
using yux::testing::hostTime;
using yux::testing::movingPattern;
using yux::testing::sineTone;
using yux::testing::TemporaryDirectory;
using yux::testing::toneLevel;
using yux::testing::videoSample;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

void finish(MovieWriter& writer) { yux::testing::finishWritingAndWait(writer); }

// Appends, waiting while the track is busy; a test feeds faster than real time.
void appendWhenReady(MovieWriter& writer, int track, const SampleBuffer& sample) {
    while (!writer.isReadyForMoreMediaData(track)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(writer.append(track, sample));
}

// A writer with a screen track (0) and a system-audio track (1) whose session starts at `start`.
std::shared_ptr<MovieWriter> screenAndAudioWriter(const std::string& path, double start) {
    auto writer = MovieWriter::create(path);
    writer->addTrack(MovieTrackFormat::video("yux.source.screen", kWidth, kHeight));
    writer->addTrack(MovieTrackFormat::audio("yux.source.systemAudio"));
    EXPECT_TRUE(writer->startWriting());
    writer->startSession(hostTime(start));
    return writer;
}

SampleBuffer toneBuffer(int index, double amplitude = 0.5) {
    return audioSample(hostTime(index / 100.0),
                       sineTone(440, 480, 48000, 2, AudioSampleFormat::float32, index * 480, amplitude));
}

// Samples of a stream as the container stores them (not the pictures a decoder makes of them).
int storedSamples(const std::string& path, int streamIndex) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return -1;
    int count = 0;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == streamIndex) ++count;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    return count;
}

// Where the first sample louder than `threshold` lies on the movie's timeline, in seconds.
double firstLoudAt(const DecodedAudio& sound, float threshold = 0.2f) {
    const auto* samples = reinterpret_cast<const float*>(sound.audio.bytes->data());
    for (std::int64_t i = 0; i < sound.audio.frameCount(); ++i) {
        if (std::abs(samples[2 * i]) > threshold) return sound.start.seconds() + static_cast<double>(i) / 48000;
    }
    return -1;
}

// The level of the 440 Hz tone between two times of a decoded track.
double toneBetween(const DecodedAudio& sound, double from, double to) {
    const auto* samples = reinterpret_cast<const float*>(sound.audio.bytes->data());
    std::vector<float> part(samples + static_cast<std::size_t>(from * 48000) * 2,
                            samples + static_cast<std::size_t>(to * 48000) * 2);
    return toneLevel(AudioBuffer::fromFloat(part, 48000, 2), 440);
}

}  // namespace

TEST(MovieWriter, WritesTitledTracksInOrderAndReadsThemBack) {
    TemporaryDirectory folder;
    const auto path = folder.file("movie.mov");
    auto writer = MovieWriter::create(path);
    ASSERT_EQ(writer->addTrack(MovieTrackFormat::video("yux.source.screen", kWidth, kHeight)), 0);
    ASSERT_EQ(writer->addTrack(MovieTrackFormat::videoWithStackedAlpha("yux.source.camera", kWidth, kHeight)), 1);
    ASSERT_EQ(writer->addTrack(MovieTrackFormat::audio("yux.source.systemAudio")), 2);
    ASSERT_EQ(writer->addTrack(MovieTrackFormat::audio("yux.source.microphone")), 3);
    ASSERT_TRUE(writer->startWriting());
    EXPECT_EQ(writer->status(), MovieWriterStatus::writing);
    const MediaTime start = hostTime(10);
    writer->startSession(start);
    auto bubble = cameraBubble(kWidth, kHeight, 60);
    for (int i = 0; i < 60; ++i) {
        const MediaTime t = hostTime(10 + i / 60.0);
        appendWhenReady(*writer, 0, videoSample(t, movingPattern(kWidth, kHeight, i)));
        if (i % 2 == 0) appendWhenReady(*writer, 1, videoSample(t, bubble, MediaTime(1, 30)));
    }
    // 1 s of 440 Hz at 44.1 kHz stereo int16 and of 1000 Hz at 48 kHz mono float, in 10 ms buffers.
    for (int i = 0; i < 100; ++i) {
        appendWhenReady(*writer, 2, audioSample(hostTime(10 + i / 100.0),
                                                sineTone(440, 441, 44100, 2, AudioSampleFormat::int16, i * 441)));
        appendWhenReady(*writer, 3, audioSample(hostTime(10 + i / 100.0),
                                                sineTone(1000, 480, 48000, 1, AudioSampleFormat::float32, i * 480)));
    }
    writer->endSession(hostTime(11));
    for (int track = 0; track < 4; ++track) writer->markAsFinished(track);
    finish(*writer);
    ASSERT_EQ(writer->status(), MovieWriterStatus::completed);

    MovieTrackReader reader(path);
    ASSERT_EQ(reader.tracks().size(), 4u);
    const auto& tracks = reader.tracks();
    EXPECT_EQ(tracks[0].title, "yux.source.screen");
    EXPECT_EQ(tracks[1].title, "yux.source.camera");
    EXPECT_EQ(tracks[2].title, "yux.source.systemAudio");
    EXPECT_EQ(tracks[3].title, "yux.source.microphone");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(tracks[i].trackID, i + 1);
    EXPECT_EQ(tracks[0].codec, "h264");
    EXPECT_EQ(tracks[1].codec, "h264");
    EXPECT_EQ(tracks[2].codec, "aac");
    EXPECT_EQ(tracks[0].width, kWidth);
    EXPECT_EQ(tracks[0].height, kHeight);
    EXPECT_FALSE(tracks[0].stackedAlpha);
    EXPECT_TRUE(tracks[1].stackedAlpha);
    EXPECT_EQ(tracks[1].height, kHeight);
    EXPECT_EQ(tracks[2].sampleRate, 48000);
    EXPECT_EQ(tracks[2].channels, 2);
    EXPECT_NEAR(tracks[2].bitRate, 192000, 40000);
    EXPECT_NEAR(tracks[0].duration.seconds(), 1.0, 0.02);
    EXPECT_NEAR(reader.duration().seconds(), 1.0, 0.03);
    EXPECT_EQ(tracks[0].timeBase, MediaTime(1, 90000));
    EXPECT_EQ(tracks[2].timeBase, MediaTime(1, 48000));
    EXPECT_EQ(reader.videoFrames(tracks[0]).size(), 60u);

    auto system = reader.readAudio(tracks[2]);
    auto microphone = reader.readAudio(tracks[3]);
    EXPECT_EQ(system.audio.sampleRate, 48000);
    EXPECT_EQ(microphone.audio.channels, 2);
    EXPECT_NEAR(static_cast<double>(system.audio.frameCount()) / 48000, 1.0, 0.03);
    EXPECT_GT(toneLevel(system.audio, 440), 0.25);
    EXPECT_LT(toneLevel(system.audio, 1000), 0.02);
    // A mono source is heard at its own level on both sides.
    EXPECT_GT(toneLevel(microphone.audio, 1000), 0.3);
    EXPECT_LT(toneLevel(microphone.audio, 440), 0.02);
}

TEST(MovieWriter, CameraAlphaSurvivesTheRoundTrip) {
    TemporaryDirectory folder;
    const auto path = folder.file("camera.mov");
    auto writer = MovieWriter::create(path);
    // The stacked layout is read as such only beside its screen track.
    ASSERT_EQ(writer->addTrack(MovieTrackFormat::video("yux.source.screen", kWidth, kHeight)), 0);
    ASSERT_EQ(writer->addTrack(MovieTrackFormat::videoWithStackedAlpha("yux.source.camera", kWidth, kHeight)), 1);
    ASSERT_TRUE(writer->startWriting());
    writer->startSession(hostTime(0));
    for (int i = 0; i < 5; ++i) {
        appendWhenReady(*writer, 0, videoSample(hostTime(i / 30.0), movingPattern(kWidth, kHeight, i)));
        appendWhenReady(*writer, 1, videoSample(hostTime(i / 30.0), cameraBubble(kWidth, kHeight, 80)));
    }
    writer->endSession(hostTime(5 / 30.0));
    finish(*writer);
    ASSERT_EQ(writer->status(), MovieWriterStatus::completed);

    MovieTrackReader reader(path);
    auto frames = reader.videoFrames(reader.tracks()[1], 1);
    ASSERT_EQ(frames.size(), 1u);
    const auto& picture = *frames[0].picture();
    ASSERT_EQ(picture.width(), kWidth);
    ASSERT_EQ(picture.height(), kHeight);
    auto alpha = [&](int x, int y) { return picture.row(y)[4 * x + 3]; };
    EXPECT_LE(alpha(5, 5), 8);                        // corner: transparent
    EXPECT_LE(alpha(kWidth - 5, kHeight - 5), 8);
    EXPECT_LE(alpha(kWidth / 2, kHeight / 2 - 100), 8);  // just outside the bubble
    EXPECT_GE(alpha(kWidth / 2, kHeight / 2), 247);   // centre: opaque
    EXPECT_GE(alpha(kWidth / 2 + 60, kHeight / 2), 247);
    const auto* centre = picture.row(kHeight / 2) + 4 * (kWidth / 2);
    EXPECT_NEAR(centre[1], 180, 12);
    EXPECT_NEAR(centre[2], 220, 12);
}

TEST(MovieWriter, NeverTouchesAnExistingFileAndLeavesNothingUnlessCompleted) {
    TemporaryDirectory folder;
    const auto existing = folder.file("existing.mov");
    yux::testing::writeWholeFile(existing, "keep me");
    EXPECT_THROW(MovieWriter::create(existing), std::runtime_error);
    EXPECT_EQ(yux::testing::readWholeFile(existing), "keep me");

    const auto cancelled = folder.file("cancelled.mov");
    {
        auto writer = MovieWriter::create(cancelled);
        writer->addTrack(MovieTrackFormat::video("yux.source.screen", kWidth, kHeight));
        ASSERT_TRUE(writer->startWriting());
        writer->startSession(hostTime(0));
        appendWhenReady(*writer, 0, videoSample(hostTime(0), movingPattern(kWidth, kHeight, 0)));
        writer->cancelWriting();
        EXPECT_EQ(writer->status(), MovieWriterStatus::cancelled);
        EXPECT_FALSE(writer->append(0, videoSample(hostTime(1), movingPattern(kWidth, kHeight, 1))));
        EXPECT_FALSE(std::filesystem::exists(cancelled));
    }

    // An odd size cannot be encoded as 4:2:0: the track is refused and the writer's file goes
    // with the writer.
    const auto refused = folder.file("refused.mov");
    {
        auto writer = MovieWriter::create(refused);
        EXPECT_EQ(writer->addTrack(MovieTrackFormat::video("yux.source.screen", 321, 241)), -1);
    }
    EXPECT_FALSE(std::filesystem::exists(refused));

    EXPECT_THROW(MovieWriter::create(folder.file("missing/folder.mov")), std::runtime_error);
}

// The encoder's frame threads hold a few pictures back; the writer says how many, a bounded
// number on any machine, and a picture is in a whole fragment only once the file has one.
TEST(MovieWriter, SaysHowManyPicturesItHoldsAndWhetherTheFileKeepsOne) {
    TemporaryDirectory folder;
    auto writer = screenAndAudioWriter(folder.file("held.mov"), 0);
    EXPECT_FALSE(writer->keepsPicture());
    auto settled = [&] {
        int held = writer->picturesHeld(0);
        for (int same = 0; same < 20; ++same) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const int now = writer->picturesHeld(0);
            if (now != held) same = 0;
            held = now;
        }
        return held;
    };
    for (int i = 0; i < 30; ++i) appendWhenReady(*writer, 0, videoSample(hostTime(i / 60.0), movingPattern(kWidth, kHeight, i)));
    const int held = settled();
    EXPECT_GE(held, 1);
    EXPECT_LE(held, 6);  // four frame threads at most, x264's look-ahead, the packet waiting for its length
    EXPECT_EQ(writer->picturesHeld(1), 0);
    // Each picture more pushes one out: after as many again as it holds, the first 30 are out.
    for (int i = 30; i < 30 + held; ++i) {
        appendWhenReady(*writer, 0, videoSample(hostTime(i / 60.0), movingPattern(kWidth, kHeight, i)));
    }
    EXPECT_EQ(settled(), held);
    // 1.5 s of sound completes the first fragment, and the pictures muxed before it are in it.
    for (int i = 0; i < 150; ++i) appendWhenReady(*writer, 1, toneBuffer(i));
    for (int wait = 0; wait < 500 && !writer->keepsPicture(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(writer->keepsPicture());
    finish(*writer);
    EXPECT_EQ(writer->picturesHeld(0), 0);
}

// A finish whose file cannot be committed fails and says why; the movie is whole up to its
// trailer, which is never written twice, and stays when it shows a picture.
TEST(MovieWriter, AFinishWhoseCommitFailsKeepsTheMovieUpToItsTrailer) {
    const struct {
        const char* name;
        int syncError;
        int pictures;  // at 30 fps, over 2 s: one fragment is whole before the trailer, one is in it
        MovieWriterError::Cause cause;
    } cases[] = {
        {"the data sync fails", EIO, 60, MovieWriterError::Cause::storage},
        {"the disk fills", ENOSPC, 60, MovieWriterError::Cause::diskFull},
        {"no picture came", EIO, 0, MovieWriterError::Cause::storage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory folder;
        const auto path = folder.file("uncommitted.mov");
        auto commit = ExclusiveOutputFile::CommitOperations::unsynced();
        int syncs = 0;
        commit.syncData = [&](int) {
            ++syncs;
            return c.syncError;
        };
        auto writer = MovieWriter::create(path, commit);
        writer->addTrack(MovieTrackFormat::video("yux.source.screen", kWidth, kHeight));
        writer->addTrack(MovieTrackFormat::audio("yux.source.systemAudio"));
        ASSERT_TRUE(writer->startWriting());
        writer->startSession(hostTime(0));
        for (int i = 0; i < c.pictures; ++i) {
            appendWhenReady(*writer, 0,
                            videoSample(hostTime(i / 30.0), movingPattern(kWidth, kHeight, i), MediaTime(1, 30)));
        }
        for (int i = 0; i < 200; ++i) appendWhenReady(*writer, 1, toneBuffer(i));
        writer->endSession(hostTime(2));
        finish(*writer);
        ASSERT_EQ(syncs, 1);
        EXPECT_EQ(writer->status(), MovieWriterStatus::failed);
        ASSERT_TRUE(writer->error());
        try {
            std::rethrow_exception(writer->error());
        } catch (const MovieWriterError& error) {
            EXPECT_EQ(error.cause(), c.cause);
            // The commit's own words, once.
            EXPECT_EQ(error.detail(), "Cannot write " + path + ": " + std::strerror(c.syncError));
        } catch (...) {
            ADD_FAILURE() << "no MovieWriterError";
        }
        const bool kept = c.pictures > 0;
        EXPECT_EQ(writer->keepsPicture(), kept);
        ASSERT_EQ(std::filesystem::exists(path), kept);
        if (kept) {
            MovieTrackReader reader(path);
            EXPECT_EQ(reader.videoFrames(reader.tracks()[0]).size(), static_cast<std::size_t>(c.pictures));
        }
    }
}

// A repeat of the picture taken last is encoded from the picture already converted.
TEST(MovieWriter, APictureAppendedAgainShowsTheSamePixels) {
    TemporaryDirectory folder;
    const auto path = folder.file("again.mov");
    auto writer = screenAndAudioWriter(path, 0);
    const auto first = movingPattern(kWidth, kHeight, 0);
    const auto second = movingPattern(kWidth, kHeight, 20);
    auto again = [&](double t, const PixelBuffer& picture) {
        while (!writer->isReadyForMoreMediaData(0)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return writer->appendAgain(0, videoSample(hostTime(t), picture));
    };
    appendWhenReady(*writer, 0, videoSample(hostTime(0), first));
    ASSERT_TRUE(again(1 / 60.0, first));
    ASSERT_TRUE(again(2 / 60.0, first));
    appendWhenReady(*writer, 0, videoSample(hostTime(3 / 60.0), second));
    ASSERT_TRUE(again(4 / 60.0, second));
    writer->endSession(hostTime(5 / 60.0));
    finish(*writer);
    ASSERT_EQ(writer->status(), MovieWriterStatus::completed);
    MovieTrackReader reader(path);
    const auto frames = reader.videoFrames(reader.tracks()[0]);
    ASSERT_EQ(frames.size(), 5u);
    auto difference = [&](int a, int b) {
        const auto& x = *frames[a].picture();
        const auto& y = *frames[b].picture();
        double total = 0;
        for (int row = 0; row < kHeight; ++row) {
            for (int i = 0; i < 4 * kWidth; ++i) total += std::abs(x.row(row)[i] - y.row(row)[i]);
        }
        return total / (4.0 * kWidth * kHeight);
    };
    EXPECT_LT(difference(0, 1), 2.0);
    EXPECT_LT(difference(0, 2), 2.0);
    EXPECT_LT(difference(3, 4), 2.0);
    EXPECT_GT(difference(0, 3), 10.0);
}

TEST(MovieWriter, CutsSamplesAtTheSessionEnd) {
    TemporaryDirectory folder;
    const auto path = folder.file("cut.mov");
    auto writer = screenAndAudioWriter(path, 0);
    // A stop makes the end known while the sources still deliver.
    writer->endSession(hostTime(0.5));
    for (int i = 0; i < 30; ++i) {
        appendWhenReady(*writer, 0,
                        videoSample(hostTime(i / 30.0), movingPattern(kWidth, kHeight, i), MediaTime(1, 30)));
    }
    for (int i = 0; i < 100; ++i) appendWhenReady(*writer, 1, toneBuffer(i));
    // Sound stamped an hour late is not the movie's: no silence leads up to it.
    appendWhenReady(*writer, 1, toneBuffer(360000));
    finish(*writer);
    ASSERT_EQ(writer->status(), MovieWriterStatus::completed);
    MovieTrackReader reader(path);
    EXPECT_NEAR(reader.tracks()[0].duration.seconds(), 0.5, 1e-3);
    // Frames 0 to 14 are stored; frame 15, stamped exactly at the end, is not.
    EXPECT_EQ(storedSamples(path, 0), 15);
    EXPECT_NEAR(reader.tracks()[1].duration.seconds(), 0.5, 0.025);
    EXPECT_NEAR(reader.duration().seconds(), 0.5, 0.025);
}

// Pictures come only when the screen changes; each keeps its own time on the movie's timeline,
// and the track's length is the same whenever the stop makes the end known.
TEST(MovieWriter, EveryPictureKeepsItsTimeWheneverTheEndIsKnown) {
    constexpr double kTick = 1.0 / 90000;
    const struct {
        const char* name;
        std::vector<double> pictures;
        double end;
        std::vector<double> stored;
        double length;  // each picture lasts to the next, the last one its own 1/30 s
    } cases[] = {
        // The fragment cut after the second picture must not pull the third up to it.
        {"idle stretches longer than a fragment", {0, 1.0, 2.5, 5.0}, 6.0, {0, 1.0, 2.5, 5.0}, 5.0 + 1.0 / 30},
        {"the last two within one tick", {0, 0.5, 0.5 + kTick / 4}, 1.5, {0, 0.5, 0.5 + kTick}, 0.5 + kTick + 1.0 / 30},
        // The picture at the end is not stored, but the one before lasts until it.
        {"one stamped at the end", {0, 0.5, 1.0}, 1.0, {0, 0.5}, 1.0},
        {"one stamped past the end", {0, 0.5, 1.2}, 1.0, {0, 0.5}, 1.0},
    };
    enum class EndKnown { beforeThePictures, rightAfterThem, onceTheEncoderHasThem };
    const struct {
        const char* name;
        EndKnown when;
    } orders[] = {{"end known first", EndKnown::beforeThePictures},
                  {"end known right after", EndKnown::rightAfterThem},
                  {"end known once encoded", EndKnown::onceTheEncoderHasThem}};
    for (const auto& c : cases) {
        for (const auto& order : orders) {
            SCOPED_TRACE(std::string(c.name) + ", " + order.name);
            TemporaryDirectory folder;
            const auto path = folder.file("times.mov");
            auto writer = MovieWriter::create(path);
            writer->addTrack(MovieTrackFormat::video("yux.source.screen", kWidth, kHeight));
            ASSERT_TRUE(writer->startWriting());
            writer->startSession(hostTime(10));
            if (order.when == EndKnown::beforeThePictures) writer->endSession(hostTime(10 + c.end));
            for (std::size_t i = 0; i < c.pictures.size(); ++i) {
                appendWhenReady(*writer, 0, videoSample(hostTime(10 + c.pictures[i]),
                                                        movingPattern(kWidth, kHeight, i), MediaTime(1, 30)));
            }
            // Time for the encoding thread to take them; the end comes with the stop.
            if (order.when == EndKnown::onceTheEncoderHasThem) std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (order.when != EndKnown::beforeThePictures) writer->endSession(hostTime(10 + c.end));
            finish(*writer);
            ASSERT_EQ(writer->status(), MovieWriterStatus::completed);

            MovieTrackReader reader(path);
            std::vector<double> stored;
            for (const auto& frame : reader.videoFrames(reader.tracks()[0])) {
                stored.push_back(frame.presentationTime.seconds());
            }
            ASSERT_EQ(stored.size(), c.stored.size());
            for (std::size_t i = 0; i < stored.size(); ++i) EXPECT_NEAR(stored[i], c.stored[i], kTick / 2) << i;
            EXPECT_NEAR(reader.tracks()[0].duration.seconds(), c.length, 1e-6);
        }
    }
}

TEST(MovieWriter, AudioKeepsItsTimestampsAcrossAGap) {
    TemporaryDirectory folder;
    const auto path = folder.file("gap.mov");
    auto writer = screenAndAudioWriter(path, 0);
    appendWhenReady(*writer, 0, videoSample(hostTime(0), movingPattern(kWidth, kHeight, 0)));
    // Sound from 0 to 0.2 s and from 0.7 to 1 s; the source sent nothing in between.
    for (int i = 0; i < 100; ++i) {
        if (i < 20 || i >= 70) appendWhenReady(*writer, 1, toneBuffer(i));
    }
    writer->endSession(hostTime(1));
    finish(*writer);
    ASSERT_EQ(writer->status(), MovieWriterStatus::completed);

    auto decoded = MovieTrackReader(path).readAudio(MovieTrackReader(path).tracks()[1]);
    auto slice = [&](double from, double to) {
        const auto* samples = reinterpret_cast<const float*>(decoded.audio.bytes->data());
        std::vector<float> part(samples + static_cast<std::size_t>(from * 48000) * 2,
                                samples + static_cast<std::size_t>(to * 48000) * 2);
        return AudioBuffer::fromFloat(part, 48000, 2);
    };
    EXPECT_NEAR(decoded.audio.frameCount() / 48000.0, 1.0, 0.025);
    EXPECT_GT(toneLevel(slice(0.02, 0.18), 440), 0.3);
    EXPECT_LT(toneLevel(slice(0.3, 0.6), 440), 0.01);
    EXPECT_GT(toneLevel(slice(0.75, 0.95), 440), 0.3);
}

TEST(MovieWriter, AFlashAndABeepAtTheSameInstantStayTogether) {
    TemporaryDirectory folder;
    const auto path = folder.file("sync.mov");
    auto writer = screenAndAudioWriter(path, 3);
    auto dark = PixelBuffer::create(kWidth, kHeight);
    dark.fill(0, 0, 0, 255);
    auto flash = PixelBuffer::create(kWidth, kHeight);
    flash.fill(255, 255, 255, 255);
    // The flash is the frame at 3.5 s; the beep starts at 3.5 s and lasts 50 ms.
    for (int i = 0; i < 60; ++i) {
        appendWhenReady(*writer, 0, videoSample(hostTime(3 + i / 60.0), i == 30 ? flash : dark));
    }
    for (int i = 300; i < 400; ++i) appendWhenReady(*writer, 1, toneBuffer(i, i >= 350 && i < 355 ? 0.8 : 0.0));
    writer->endSession(hostTime(4));
    finish(*writer);
    ASSERT_EQ(writer->status(), MovieWriterStatus::completed);

    MovieTrackReader reader(path);
    double flashAt = -1;
    reader.readVideo(reader.tracks()[0], [&](const SampleBuffer& sample) {
        if (sample.picture()->row(kHeight / 2)[4 * (kWidth / 2)] > 128) flashAt = sample.presentationTime.seconds();
        return flashAt < 0;
    });
    auto sound = reader.readAudio(reader.tracks()[1]);
    const auto* samples = reinterpret_cast<const float*>(sound.audio.bytes->data());
    double beepAt = -1;
    for (std::int64_t i = 0; i < sound.audio.frameCount(); ++i) {
        if (std::abs(samples[2 * i]) > 0.2) {
            beepAt = sound.start.seconds() + static_cast<double>(i) / 48000;
            break;
        }
    }
    EXPECT_NEAR(flashAt, 0.5, 1e-3);
    EXPECT_NEAR(beepAt, 0.5, 0.005);
}

// Sound that began before the movie is cut at its start in every buffer, not only in the first
// one: otherwise the rest of the track would sound late.
TEST(MovieWriter, AudioFromBeforeTheStartIsCutInEveryBuffer) {
    TemporaryDirectory folder;
    const auto path = folder.file("prestart.mov");
    auto writer = screenAndAudioWriter(path, 0);
    appendWhenReady(*writer, 0, videoSample(hostTime(0), movingPattern(kWidth, kHeight, 0)));
    // 2.5 ms buffers from 10 ms before the start; a beep from 0.5 s to 0.55 s.
    constexpr int kBuffer = 120;
    for (std::int64_t first = -480; first < 48000; first += kBuffer) {
        const bool beep = first >= 24000 && first < 26400;
        appendWhenReady(*writer, 1,
                        audioSample(hostTime(first / 48000.0),
                                    sineTone(440, kBuffer, 48000, 2, AudioSampleFormat::float32, first, beep ? 0.8 : 0.0)));
    }
    writer->endSession(hostTime(1));
    finish(*writer);
    ASSERT_EQ(writer->status(), MovieWriterStatus::completed);
    MovieTrackReader reader(path);
    auto sound = reader.readAudio(reader.tracks()[1]);
    EXPECT_NEAR(firstLoudAt(sound), 0.5, 0.002);
    EXPECT_NEAR(reader.duration().seconds(), 1.0, 1e-3);
}

// Sound keeps its place to the sample: cut at the movie's start however little of it lies
// before, and cut where it repeats what was delivered rather than moved after it. A track one
// sample off is heard out of step with the pictures once mixed with another.
TEST(MovieWriter, SoundKeepsItsPlaceToTheSample) {
    constexpr double kOmega = 2 * std::numbers::pi * 440 / 48000;
    constexpr int kBuffer = 480;
    const struct {
        const char* name;
        std::int64_t first;  // where the sound begins, in samples
        // After the buffer starting at `again`, the one starting at `repeated` comes once more.
        std::optional<std::int64_t> again = {};
        std::int64_t repeated = 0;
    } cases[] = {
        {"from the start", 0},
        {"from one sample before", -1},
        {"from 10 ms before", -480},
        {"from one sample before, after sound from the start", 0, 0, -1},
        {"delivered again 100 ms after it was", 0, 14400, 9600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory folder;
        const auto path = folder.file("placed.mov");
        auto writer = screenAndAudioWriter(path, 0);
        appendWhenReady(*writer, 0, videoSample(hostTime(0), movingPattern(kWidth, kHeight, 0)));
        // A tone whose phase is that of the movie's timeline.
        auto tone = [&](std::int64_t first) {
            appendWhenReady(*writer, 1,
                            audioSample(hostTime(first / 48000.0),
                                        sineTone(440, kBuffer, 48000, 2, AudioSampleFormat::float32, first, 0.5)));
        };
        for (std::int64_t first = c.first; first < 48000; first += kBuffer) {
            tone(first);
            if (first == c.again) tone(c.repeated);
        }
        writer->endSession(hostTime(1));
        finish(*writer);
        ASSERT_EQ(writer->status(), MovieWriterStatus::completed);
        auto sound = MovieTrackReader(path).readAudio(MovieTrackReader(path).tracks()[1]);
        ASSERT_EQ(sound.start, MediaTime(0, 48000));
        ASSERT_GE(sound.audio.frameCount(), 40000);
        const auto* samples = reinterpret_cast<const float*>(sound.audio.bytes->data());
        double inPhase = 0;
        double quadrature = 0;
        for (int i = 9600; i < 38400; ++i) {
            inPhase += samples[2 * i] * std::sin(kOmega * i);
            quadrature += samples[2 * i] * std::cos(kOmega * i);
        }
        // One sample late would be kOmega (0.058) behind.
        EXPECT_NEAR(std::atan2(quadrature, inPhase), 0, kOmega / 3);
    }
}

// A buffer that arrives after a later one still takes its place: the gap it belongs in is
// not filled with silence first.
TEST(MovieWriter, LateSoundFillsItsGapInsteadOfBeingCut) {
    TemporaryDirectory folder;
    const auto path = folder.file("late.mov");
    auto writer = screenAndAudioWriter(path, 0);
    appendWhenReady(*writer, 0, videoSample(hostTime(0), movingPattern(kWidth, kHeight, 0)));
    for (int i = 0; i < 30; ++i) appendWhenReady(*writer, 1, toneBuffer(i));   // 0 to 0.3 s
    for (int i = 50; i < 60; ++i) appendWhenReady(*writer, 1, toneBuffer(i));  // 0.5 to 0.6 s, early
    for (int i = 30; i < 50; ++i) appendWhenReady(*writer, 1, toneBuffer(i));  // 0.3 to 0.5 s, late
    for (int i = 60; i < 100; ++i) appendWhenReady(*writer, 1, toneBuffer(i));
    writer->endSession(hostTime(1));
    finish(*writer);
    ASSERT_EQ(writer->status(), MovieWriterStatus::completed);
    MovieTrackReader reader(path);
    auto sound = reader.readAudio(reader.tracks()[1]);
    EXPECT_GT(toneBetween(sound, 0.32, 0.48), 0.3);
    EXPECT_GT(toneBetween(sound, 0.52, 0.95), 0.3);
    EXPECT_NEAR(reader.tracks()[1].duration.seconds(), 1.0, 1e-3);
}

// The recorder killed by the parent test below: this process writes a movie in about real
// time and reports the media seconds handed over on a pipe, until it is killed. It runs only
// when that test starts it, as a fresh process (a fork of a process with threads could inherit
// a lock held by one of them).
TEST(MovieWriterKilledChild, WritesUntilKilled) {
    const char* path = std::getenv("YUX_KILLED_WRITER_PATH");
    const char* descriptor = std::getenv("YUX_KILLED_WRITER_FD");
    if (path == nullptr || descriptor == nullptr) GTEST_SKIP() << "started by AKilledWriterLeavesAReadableMovie";
    const int progress = std::atoi(descriptor);
    auto writer = screenAndAudioWriter(path, 0);
    for (int frame = 0;; ++frame) {
        const double t = frame / 60.0;
        appendWhenReady(*writer, 0, videoSample(hostTime(t), movingPattern(kWidth, kHeight, frame)));
        for (int i = frame * 100 / 60; i < (frame + 1) * 100 / 60; ++i) appendWhenReady(*writer, 1, toneBuffer(i));
        if (frame % 6 == 0 && write(progress, &t, sizeof t) != sizeof t) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(4));  // several fragments before the kill
    }
}

// A killed recorder leaves a movie that reads up to about its last second.
TEST(MovieWriter, AKilledWriterLeavesAReadableMovie) {
    TemporaryDirectory folder;
    const auto path = folder.file("killed.mov");
    int progress[2];
    ASSERT_EQ(pipe(progress), 0);
    // Everything the child needs is made before the fork: after it, only exec.
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string filter = "--gtest_filter=MovieWriterKilledChild.WritesUntilKilled";
    std::vector<std::string> environment = {"YUX_KILLED_WRITER_PATH=" + path,
                                            "YUX_KILLED_WRITER_FD=" + std::to_string(progress[1])};
    for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(progress[0]);
        execle(self.c_str(), self.c_str(), filter.c_str(), static_cast<char*>(nullptr), envp.data());
        _exit(127);
    }
    close(progress[1]);
    double fed = 0;
    while (fed < 4.0) {
        pollfd ready{progress[0], POLLIN, 0};
        if (poll(&ready, 1, 30'000) <= 0 || read(progress[0], &fed, sizeof fed) != sizeof fed) break;
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(progress[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the recorder ended by itself";
    ASSERT_GE(fed, 4.0) << "the recorder stopped reporting";

    MovieTrackReader reader(path);
    ASSERT_EQ(reader.tracks().size(), 2u);
    EXPECT_EQ(reader.tracks()[0].title, "yux.source.screen");
    EXPECT_GE(reader.duration().seconds(), fed - 2.0);
    EXPECT_LE(reader.duration().seconds(), fed + 0.5);
    const auto frames = reader.videoFrames(reader.tracks()[0]);
    EXPECT_GE(frames.size(), static_cast<std::size_t>((fed - 2.0) * 60));
    EXPECT_GT(toneLevel(reader.readAudio(reader.tracks()[1]).audio, 440), 0.25);
}

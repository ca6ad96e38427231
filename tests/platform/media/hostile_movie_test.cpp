// Movies as users' disks and other programs hand them over: damaged, cut short, fragmented,
// with lying headers or layouts the recorder never writes.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/media/audio_sample_reader.hpp"
#include "platform/media/composition_audio_mixer.hpp"
#include "platform/media/composition_encoder.hpp"
#include "platform/media/media_asset.hpp"
#include "platform/media/movie_remuxer.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/video_frame_reader.hpp"
#include "platform/media/video_thumbnailer.hpp"
#include "support/hostile_movies.hpp"
#include "support/media_time_printer.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"
#include "support/timed_movie.hpp"

using namespace yux::platform;
namespace support = yux::testing;

namespace {

// The scratch movie's layout: a fragment per keyframe, the index up front. Written with an edit
// list, so the audio encoder's priming stays before time 0 as in a plain movie.
const support::RemuxOptions kFragmented{.movflags = "frag_keyframe+empty_moov+default_base_moof+delay_moov", .editList = true};

std::int64_t countAudioFrames(const std::string& path, const MediaTrack& track) {
    AudioSampleReader reader(path, track);
    reader.seek(MediaTime::zero());
    std::vector<float> block(4096 * AudioSampleReader::kChannels);
    std::int64_t total = 0;
    while (int got = reader.read(block.data(), 4096)) total += got;
    return total;
}

// Rewrites the first track's header: `type` replaces its box type ("tkhd"), `trackID` its track ID.
void damageFirstTrackHeader(const std::string& path, const char* type, std::uint32_t trackID) {
    std::string bytes = support::readWholeFile(path);
    auto movie = support::topLevelBoxes(bytes, "moov");
    ASSERT_FALSE(movie.empty());
    std::size_t at = bytes.find("tkhd", movie.front().offset);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 4, type);
    ASSERT_EQ(bytes[at + 4], 0) << "a version 0 header";
    for (int i = 0; i < 4; ++i) bytes[at + 16 + i] = static_cast<char>(trackID >> (8 * (3 - i)));
    support::writeWholeFile(path, bytes);
}

template <typename Open>
std::string failureOf(Open open) {
    try {
        open();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "opened";
}

class HostileMovieTest : public ::testing::Test {
protected:
    // A 3 s scratch-layout movie with screen and system audio.
    std::string scratchMovie(const std::string& name = "scratch.mov", bool camera = false) {
        std::string path = folder.file(name);
        support::TestMovieOptions options;
        options.camera = camera;
        support::writeTestMovie(path, options);
        return path;
    }
    support::TemporaryDirectory folder;
};

}  // namespace

TEST_F(HostileMovieTest, AudioThatChangesItsChannelCountIsReadWhole) {
    std::string path = folder.file("joined.mp3");
    support::writeChannelChangeMovie(path, 1.0, 1.0);
    MovieTrackReader reader(path);
    ASSERT_EQ(reader.tracks().size(), 1u);
    const auto& track = reader.tracks().front();

    auto decoded = reader.readAudio(track);
    EXPECT_EQ(decoded.audio.channels, 2);
    EXPECT_EQ(decoded.audio.sampleRate, 44100);
    EXPECT_NEAR(static_cast<double>(decoded.audio.frameCount()) / 44100, 2.0, 0.1);
    // The mono stretch arrives on both channels, not as silence or half the samples.
    const auto* samples = reinterpret_cast<const float*>(decoded.audio.bytes->data());
    std::int64_t tail = decoded.audio.frameCount() - 4410;
    float left = 0, right = 0;
    for (std::int64_t i = tail - 4410; i < tail; ++i) {
        left = std::max(left, std::abs(samples[i * 2]));
        right = std::max(right, std::abs(samples[i * 2 + 1]));
    }
    EXPECT_GT(left, 0.2f);
    EXPECT_NEAR(left, right, 0.01f);

    // The export path resamples to 48 kHz stereo across the change, and mixes it.
    EXPECT_NEAR(static_cast<double>(countAudioFrames(path, track)) / 48000, 2.0, 0.1);
    auto composition = EditComposition::build(reader.tracks(), {{0.0, 2.0, 1.0}});
    CompositionAudioMixer mixer(path, composition, {});
    std::vector<float> block(4096 * CompositionAudioMixer::kChannels);
    std::int64_t mixed = 0;
    while (int got = mixer.mix(block.data(), 4096)) mixed += got;
    EXPECT_EQ(mixed, mixer.totalFrames());
}

TEST_F(HostileMovieTest, AHeaderThatClaimsDaysGivesWayToTheTracksLength) {
    std::string plain = folder.file("plain.mov");
    MovieRemuxer::copy(scratchMovie(), plain, {}, CancelToken());
    support::setHeaderDuration(plain, 49.0 * 24 * 3600);
    auto asset = MediaAsset::open(plain);
    EXPECT_NEAR(asset.durationSeconds, 3.0, 0.05);
    EXPECT_NEAR(MovieTrackReader(plain).duration().seconds(), 3.0, 0.05);
    // Tracks that state their lengths decide, however near the header's claim.
    support::setHeaderDuration(plain, 3.2);
    EXPECT_EQ(MediaAsset::open(plain).durationSeconds, 3.0);
}

TEST_F(HostileMovieTest, FragmentedMoviesReadLikePlainOnes) {
    std::string source = scratchMovie("scratch.mov", true);
    std::string fragmented = folder.file("fragmented.mov");
    support::remuxMovie(source, fragmented, kFragmented);
    auto plainAsset = MediaAsset::open(source);
    auto asset = MediaAsset::open(fragmented);
    EXPECT_EQ(asset.durationSeconds, plainAsset.durationSeconds);
    ASSERT_EQ(asset.tracks.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(asset.tracks[i].trackID, plainAsset.tracks[i].trackID);
    EXPECT_TRUE(asset.tracks[1].stackedAlpha);
    EXPECT_EQ(asset.minFrameDuration(asset.tracks[0]), MediaTime(1, 30));

    // Pictures by time, both directions, and the sound to its end.
    for (double seconds : {2.5, 0.5, 1.5}) {
        SCOPED_TRACE(seconds);
        EXPECT_TRUE(support::near(support::pixelAt(fragmented, seconds, 100, 100),
                                  support::screenColorAt(static_cast<int>(seconds))));
    }
    EXPECT_EQ(countAudioFrames(fragmented, asset.tracks[2]), countAudioFrames(source, plainAsset.tracks[2]));

    // A fast copy turns it into a plain movie of the same length (the last sound packet keeps
    // its whole length: under a hundredth of a second).
    std::string copy = folder.file("copy.mov");
    MovieRemuxer::copy(fragmented, copy, {}, CancelToken());
    EXPECT_NEAR(MediaAsset::open(copy).durationSeconds, plainAsset.durationSeconds, 0.01);

    // Without the edit list the priming is media of its own: a little longer, still readable.
    std::string shifted = folder.file("shifted.mov");
    support::remuxMovie(source, shifted, {.movflags = "frag_keyframe+empty_moov+default_base_moof"});
    EXPECT_NEAR(MediaAsset::open(shifted).durationSeconds, plainAsset.durationSeconds, 0.05);
}

TEST_F(HostileMovieTest, DamagedMediaDataNeverStopsReadingPictures) {
    std::string source = scratchMovie("scratch.mov", true);
    std::vector<MediaTime> times;
    for (int i = 0; i < 8; ++i) times.push_back(MediaTime(i * 3, 8));
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::string damaged = folder.file("damaged" + std::to_string(seed) + ".mov");
        std::filesystem::copy_file(source, damaged);
        support::flipMediaBytes(damaged, seed, 60);
        MovieTrackReader reader(damaged);
        for (const auto& track : reader.tracks()) {
            if (track.type == MediaTrackType::video) {
                std::size_t count = 0;
                EXPECT_NO_THROW(reader.readVideo(track, [&](const SampleBuffer&) { return ++count > 0; }));
                EXPECT_GT(count, 0u);
                std::vector<PixelBuffer> strip;
                EXPECT_NO_THROW(strip = VideoThumbnailer::pictures(track, times, 160, 90, CancelToken()));
                EXPECT_EQ(strip.size(), 8u);
            } else {
                EXPECT_NO_THROW(reader.readAudio(track));
                EXPECT_NO_THROW(countAudioFrames(damaged, track));
            }
        }
    }
}

TEST_F(HostileMovieTest, AnExportOfADamagedMovieCompletes) {
    std::string damaged = scratchMovie("damaged.mov", true);
    support::flipMediaBytes(damaged, 13, 80);
    auto asset = MediaAsset::open(damaged);
    auto tracks = asset.tracksOf(MediaTrackType::video);
    auto audio = asset.tracksOf(MediaTrackType::audio);
    tracks.insert(tracks.end(), audio.begin(), audio.end());
    auto composition = EditComposition::build(tracks, {{0.0, asset.durationSeconds, 1.0}});
    CompositionEncodeSettings settings;
    settings.videoBitsPerSecond = 1'000'000;
    settings.frameRate = 30;
    settings.geometry = {320, 180, 0, 0, 320, 180};
    std::string out = folder.file("export.mov");
    ASSERT_NO_THROW(CompositionEncoder::encode(damaged, out, composition, settings, {}, CancelToken()));
    EXPECT_NEAR(MediaAsset::open(out).durationSeconds, 3.0, 0.05);
}

// The library takes a fragmented track's length as the larger of its header's claim and its
// fragments' end: a header patched to claim a day or an hour made exports run that long.
TEST_F(HostileMovieTest, AFragmentedTrackHeaderCannotClaimMoreThanItsSamples) {
    const std::string source = scratchMovie();
    const auto honest = MediaAsset::open(source);
    ASSERT_FALSE(support::topLevelBoxes(support::readWholeFile(source), "moof").empty()) << "a fragmented movie";
    struct Claim {
        int track;  // -1: every track
        std::uint64_t ticks;
    };
    for (Claim claim : {Claim{-1, 0x7fffffff}, Claim{0, 0x7fffffff}, Claim{1, 3600ull * 48000}}) {
        SCOPED_TRACE(claim.track);
        std::string movie = folder.file("claims.mov");
        std::filesystem::copy_file(source, movie, std::filesystem::copy_options::overwrite_existing);
        support::setTrackHeaderDuration(movie, claim.ticks, claim.track);
        auto asset = MediaAsset::open(movie);
        EXPECT_EQ(asset.durationSeconds, honest.durationSeconds);
        ASSERT_EQ(asset.tracks.size(), honest.tracks.size());
        for (std::size_t i = 0; i < asset.tracks.size(); ++i) EXPECT_EQ(asset.tracks[i].duration, honest.tracks[i].duration);

        std::string copy = folder.file("copy.mov");
        std::filesystem::remove(copy);
        MovieRemuxer::copy(movie, copy, {}, CancelToken());
        EXPECT_NEAR(MediaAsset::open(copy).durationSeconds, honest.durationSeconds, 0.01);
    }
}

// Fragments state where each track ends, not how long it lasts: a track that starts late ends
// where its samples do, not as late again.
TEST_F(HostileMovieTest, AFragmentedTrackThatStartsLateEndsWithItsSamples) {
    const std::string movie = scratchMovie();
    const auto honest = MediaAsset::open(movie);
    const auto& sound = honest.tracks.at(1);
    ASSERT_EQ(sound.type, MediaTrackType::audio);
    support::delayFragments(movie, static_cast<std::uint32_t>(sound.trackID), 48000);
    auto late = MediaAsset::open(movie).tracks.at(1);
    EXPECT_EQ(late.start, honest.tracks[1].start + MediaTime(1, 1));
    EXPECT_EQ(late.duration, honest.tracks[1].duration);
    EXPECT_NEAR(MediaAsset::open(movie).durationSeconds, honest.durationSeconds + 1, 0.01);
}

// A killed recording ends inside its last fragment: it reads, and copies, up to each track's last
// whole sample; before, a cut inside the fragment's index made the whole take unreadable.
TEST_F(HostileMovieTest, ATakeCutInsideItsLastFragmentReadsToItsLastWholeSample) {
    const std::string source = scratchMovie();
    const auto whole = MediaAsset::open(source);
    auto end = [](const MediaTrack& track) {
        return ((track.start.isValid() ? track.start : MediaTime::zero()) + track.duration).seconds();
    };
    for (auto where : {support::FragmentCut::index, support::FragmentCut::media}) {
        SCOPED_TRACE(where == support::FragmentCut::index ? "index" : "media");
        std::string movie = folder.file("cut.mov");
        std::filesystem::copy_file(source, movie, std::filesystem::copy_options::overwrite_existing);
        support::cutLastFragment(movie, where);
        auto asset = MediaAsset::open(movie);
        EXPECT_FALSE(asset.missingInside);
        EXPECT_NO_THROW(asset.requireWholeMedia());
        EXPECT_GT(asset.durationSeconds, 0.5);
        EXPECT_LE(asset.durationSeconds, whole.durationSeconds);
        ASSERT_EQ(asset.tracks.size(), whole.tracks.size());
        bool shorter = false;
        for (std::size_t i = 0; i < asset.tracks.size(); ++i) shorter |= end(asset.tracks[i]) < end(whole.tracks[i]) - 0.1;
        EXPECT_TRUE(shorter);
        // Each track decodes to its stated length: no sample it states is missing.
        MovieTrackReader reader(movie);
        for (const auto& track : asset.tracks) {
            double decoded = 0;
            if (track.type == MediaTrackType::video) {
                reader.readVideo(track, [&](const SampleBuffer& picture) {
                    decoded = picture.presentationTime.seconds() + 1.0 / 30;
                    return true;
                });
            } else {
                decoded = static_cast<double>(countAudioFrames(movie, track)) / 48000;
            }
            EXPECT_NEAR(decoded, end(track), 0.03) << track.trackID;
        }

        std::string copy = folder.file("copy.mov");
        std::filesystem::remove(copy);
        MovieRemuxer::copy(movie, copy, {}, CancelToken());
        auto copied = MediaAsset::open(copy);
        EXPECT_NEAR(copied.durationSeconds, asset.durationSeconds, 0.01);
        for (std::size_t i = 0; i < copied.tracks.size(); ++i) {
            EXPECT_NEAR(copied.tracks[i].duration.seconds(), asset.tracks[i].duration.seconds(), 0.03) << i;
        }
    }
}

// An idle screen's picture lasts until the next one: cut inside that next one, the take keeps the
// last whole picture on show up to there, in the copy too (the copy refused it as incomplete).
TEST_F(HostileMovieTest, ATakeCutAfterAnIdlePictureKeepsItUpToTheCut) {
    // Within one fragment: the writer moves a picture that begins a fragment next to the one before.
    const std::string movie = folder.file("idle.mov");
    support::writeScratchTake(movie, {{0, {230, 30, 30}}, {0.3, {30, 200, 40}}, {0.8, {30, 60, 230}}}, 0.95);
    support::cutInsideSample(movie, 0, 0.8);
    auto asset = MediaAsset::open(movie);
    ASSERT_EQ(asset.tracks.at(0).type, MediaTrackType::video);
    EXPECT_FALSE(asset.missingInside);
    EXPECT_NEAR((asset.tracks[0].start + asset.tracks[0].duration).seconds(), 0.8, 1e-3);

    std::string copy = folder.file("copy.mov");
    MovieRemuxer::copy(movie, copy, {}, CancelToken());
    auto copied = MediaAsset::open(copy);
    EXPECT_NEAR(copied.tracks.at(0).duration.seconds(), asset.tracks[0].duration.seconds(), 1e-3);
    EXPECT_NEAR(copied.durationSeconds, asset.durationSeconds, 1e-3);
}

// Data missing before the end of an ordinary movie's index, or before the last fragment, is a
// hole: reading on would pad the rest with a frozen picture and silence.
TEST_F(HostileMovieTest, DataMissingBeforeTheEndIsAHole) {
    std::string indexFirst = folder.file("index-first.mov");
    support::remuxMovie(scratchMovie(), indexFirst, {.movflags = "faststart"});
    support::cutMediaData(indexFirst, 0.1);
    std::string fragmented = scratchMovie("fragmented.mov");
    ASSERT_GE(support::topLevelBoxes(support::readWholeFile(fragmented), "moof").size(), 2u);
    support::moveFragmentDataPastEnd(fragmented, 0);

    for (const auto& movie : {indexFirst, fragmented}) {
        SCOPED_TRACE(movie);
        auto asset = MediaAsset::open(movie);
        EXPECT_TRUE(asset.missingInside);
        EXPECT_EQ(failureOf([&] { asset.requireWholeMedia(); }), "The movie cannot be read: the file ends early.");
        std::string destination = folder.file("copy.mov");
        try {
            MovieRemuxer::copy(movie, destination, {}, CancelToken());
            ADD_FAILURE() << "a copy of a movie with a hole succeeded";
        } catch (const MovieRemuxer::IncompleteCopyError& error) {
            EXPECT_STREQ(error.what(), "Fast export did not complete");
        }
        EXPECT_FALSE(std::filesystem::exists(destination));
    }
}

TEST_F(HostileMovieTest, ACopyKeepsTrackIdsThatAreNotOneToN) {
    std::string source = folder.file("numbered.mov");
    support::remuxMovie(scratchMovie(), source, {.trackIDs = {{0, 3}, {1, 7}}});
    ASSERT_EQ(MovieTrackReader(source).tracks()[1].trackID, 7);
    std::string copy = folder.file("copy.mov");
    MovieRemuxer::copy(source, copy, {}, CancelToken());
    auto tracks = MovieTrackReader(copy).tracks();
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].trackID, 3);
    EXPECT_EQ(tracks[1].trackID, 7);
}

TEST_F(HostileMovieTest, ACameraTitleAloneDoesNotMakeAStackedPicture) {
    std::string source = folder.file("camera-only.mov");
    support::remuxMovie(scratchMovie(), source, {.titles = {{0, "yux.source.camera"}}});
    MovieTrackReader reader(source);
    const auto& camera = reader.tracks()[0];
    EXPECT_EQ(camera.title, "yux.source.camera");
    EXPECT_FALSE(camera.stackedAlpha);
    EXPECT_EQ(camera.height, 180);
    auto frames = reader.videoFrames(camera, 1);
    ASSERT_EQ(frames.size(), 1u);
    const auto* picture = frames.front().picture();
    EXPECT_EQ(picture->height(), 180);
    EXPECT_EQ(picture->row(170)[3], 255);
}

TEST_F(HostileMovieTest, PicturesWithoutTimesFollowEachOther) {
    std::string raw = folder.file("screen.h264");
    support::TestMovieOptions options;
    options.container = "h264";
    options.systemAudio = false;
    support::writeTestMovie(raw, options);
    // Each second has its own colour; without times the pictures are placed one frame apart.
    for (double seconds : {1.5, 0.2, 2.5, 0.0}) {
        SCOPED_TRACE(seconds);
        EXPECT_TRUE(support::near(support::pixelAt(raw, seconds, 100, 100), support::screenColorAt(static_cast<int>(seconds))));
    }
    auto asset = MediaAsset::open(raw);
    VideoFrameReader reader(raw, asset.tracks.front());
    EXPECT_NE(reader.frameAt(MediaTime::invalid()), nullptr);
    const AVFrame* last = reader.frameAt(MediaTime(std::numeric_limits<std::int64_t>::max(), 1));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->best_effort_timestamp, reader.frameAt(MediaTime(299, 100))->best_effort_timestamp);
}

TEST_F(HostileMovieTest, FailuresAreOurOwnSentences) {
    try {
        MovieTrackReader reader(folder.file("missing.mov"));
        ADD_FAILURE() << "opened a missing file";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "The movie cannot be opened: the file does not exist.");
    }
    std::string notAMovie = folder.file("notes.mov");
    support::writeWholeFile(notAMovie, std::string(4096, 'x'));
    try {
        MediaAsset::open(notAMovie);
        ADD_FAILURE() << "opened a text file";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "The movie cannot be opened: the data is damaged.");
    }
}

// The library gives up a fragmented movie's index when a track has no usable ID and then spends
// about a second per fragment: such a movie is refused at once by every reader, while a plain
// movie with the same damage still opens.
TEST_F(HostileMovieTest, AFragmentedMovieWithAnUnidentifiedTrackIsRefused) {
    const std::string source = scratchMovie("scratch.mov");
    const MediaTrack video = MovieTrackReader(source).tracks().front();
    ASSERT_EQ(video.type, MediaTrackType::video);
    std::string plain = folder.file("plain.mov");
    MovieRemuxer::copy(source, plain, {}, CancelToken());
    ASSERT_TRUE(support::topLevelBoxes(support::readWholeFile(source), "moof").size() > 0) << "a fragmented movie";

    const std::string damaged = "The movie cannot be opened: the data is damaged.";
    struct Damage {
        const char* type;
        std::uint32_t trackID;
    };
    for (Damage damage : {Damage{"tkhd", 0x80000001u}, Damage{"free", 1}}) {
        SCOPED_TRACE(damage.type);
        std::string movie = folder.file(std::string("fragmented-") + damage.type + ".mov");
        std::filesystem::copy_file(source, movie, std::filesystem::copy_options::overwrite_existing);
        damageFirstTrackHeader(movie, damage.type, damage.trackID);
        MediaTrack track = video;
        track.path = movie;
        EXPECT_EQ(failureOf([&] { MediaAsset::open(movie); }), damaged);
        EXPECT_EQ(failureOf([&] { MovieTrackReader{movie}; }), damaged);
        EXPECT_EQ(failureOf([&] { VideoFrameReader(movie, track); }), damaged);
        EXPECT_EQ(failureOf([&] { VideoThumbnailer::pictures(track, {MediaTime::zero()}, 16, 9, CancelToken()); }), damaged);

        std::string plainMovie = folder.file(std::string("plain-") + damage.type + ".mov");
        std::filesystem::copy_file(plain, plainMovie, std::filesystem::copy_options::overwrite_existing);
        damageFirstTrackHeader(plainMovie, damage.type, damage.trackID);
        auto asset = MediaAsset::open(plainMovie);
        EXPECT_NEAR(asset.durationSeconds, 3.0, 0.05);
        EXPECT_EQ(asset.tracks.size(), 2u);
    }

    // Every track identified: the movie opens as before.
    damageFirstTrackHeader(source, "tkhd", 0x7fffffffu);
    EXPECT_NEAR(MediaAsset::open(source).durationSeconds, 3.0, 0.05);
}

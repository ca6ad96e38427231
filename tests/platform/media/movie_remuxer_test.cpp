#include "platform/media/movie_remuxer.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/async/errors.hpp"
#include "platform/desktop/file_contents.hpp"
#include "platform/media/composition_encoder.hpp"
#include "platform/media/edit_composition.hpp"
#include "platform/media/exclusive_output_file.hpp"
#include "platform/media/media_asset.hpp"
#include "platform/media/media_failure.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/movie_writer.hpp"
#include "support/hostile_movies.hpp"
#include "support/media_time_printer.hpp"
#include "support/sync_recorder.hpp"
#include "support/synthetic_media.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"
#include "support/timed_movie.hpp"

using namespace yux::platform;
using yux::testing::TemporaryDirectory;

namespace {

std::string fourTrackMovie(const TemporaryDirectory& folder) {
    std::string path = folder.file("scratch.mov");
    yux::testing::TestMovieOptions options;
    options.camera = true;
    options.microphone = true;
    options.durationSeconds = 2;
    yux::testing::writeTestMovie(path, options);
    return path;
}

// A small, quick re-encoding of the test movie's picture.
CompositionEncodeSettings smallEncode() {
    CompositionEncodeSettings settings;
    settings.videoBitsPerSecond = 1'000'000;
    settings.frameRate = 30;
    settings.geometry = {320, 180, 0, 0, 320, 180};
    return settings;
}

}  // namespace

TEST(MediaAsset, ReadsTracksTitlesAndFrameInterval) {
    TemporaryDirectory folder;
    auto asset = MediaAsset::open(fourTrackMovie(folder));
    EXPECT_NEAR(asset.durationSeconds, 2.0, 0.05);
    ASSERT_EQ(asset.tracks.size(), 4u);
    EXPECT_EQ(asset.tracks[0].title, "yux.source.screen");
    EXPECT_EQ(asset.tracks[1].title, "yux.source.camera");
    EXPECT_TRUE(asset.tracks[1].stackedAlpha);
    EXPECT_EQ(asset.tracks[1].height, 180);
    EXPECT_EQ(asset.tracks[2].title, "yux.source.systemAudio");
    EXPECT_EQ(asset.tracks[3].title, "yux.source.microphone");
    EXPECT_EQ(asset.codecTag(asset.tracks[0]), "avc1");
    EXPECT_EQ(asset.minFrameDuration(asset.tracks[0]), MediaTime(1, 30));
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(asset.tracks[i].trackID, static_cast<int>(i + 1));
    EXPECT_THROW(MediaAsset::open(folder.file("missing.mov")), std::runtime_error);
}

TEST(MovieRemuxer, CopiesEveryStreamWithItsIdentity) {
    TemporaryDirectory folder;
    auto source = fourTrackMovie(folder);
    std::string destination = folder.file("copy.mov");
    std::vector<double> reports;
    MovieRemuxer::copy(source, destination, [&](double f) { reports.push_back(f); }, CancelToken());
    ASSERT_FALSE(reports.empty());
    auto in = MediaAsset::open(source);
    auto out = MediaAsset::open(destination);
    EXPECT_NEAR(out.durationSeconds, in.durationSeconds, 0.001);
    ASSERT_EQ(out.tracks.size(), in.tracks.size());
    for (std::size_t i = 0; i < in.tracks.size(); ++i) {
        EXPECT_EQ(out.tracks[i].trackID, in.tracks[i].trackID);
        EXPECT_EQ(out.tracks[i].title, in.tracks[i].title);
        EXPECT_EQ(out.codecTag(out.tracks[i]), in.codecTag(in.tracks[i]));
        EXPECT_EQ(out.tracks[i].codec, in.tracks[i].codec);
        EXPECT_EQ(out.tracks[i].width, in.tracks[i].width);
        EXPECT_EQ(out.tracks[i].height, in.tracks[i].height);
    }
}

TEST(MovieRemuxer, NeverTouchesAnExistingDestination) {
    TemporaryDirectory folder;
    auto source = fourTrackMovie(folder);
    std::string destination = folder.file("taken.mov");
    yux::testing::writeWholeFile(destination, "keep me");
    EXPECT_THROW(MovieRemuxer::copy(source, destination, {}, CancelToken()), std::runtime_error);
    EXPECT_EQ(yux::testing::readWholeFile(destination), "keep me");
}

TEST(MovieRemuxer, CancellationRemovesThePartialFile) {
    TemporaryDirectory folder;
    auto source = fourTrackMovie(folder);
    std::string destination = folder.file("cancelled.mov");
    CancelToken token;
    // Cancel from the first progress report, after the destination exists.
    auto cancelAtStart = [&](double) {
        EXPECT_TRUE(std::filesystem::exists(destination));
        token.cancel();
    };
    EXPECT_THROW(MovieRemuxer::copy(source, destination, cancelAtStart, token), CancelledError);
    EXPECT_FALSE(std::filesystem::exists(destination));
}

TEST(ExclusiveOutputFile, ACreateThatFailsNamesThePathAndThePlainCause) {
    TemporaryDirectory folder;
    std::ofstream(folder.file("plain")) << "x";
    std::filesystem::create_directory(folder.file("folder"));
    struct Case {
        std::string path;
        std::string sentence;
    };
    const std::vector<Case> cases = {
        {folder.file("missing/out.mov"), "Cannot create " + folder.file("missing/out.mov") + ": a parent folder is missing."},
        {folder.file("plain/out.mov"), "Cannot create " + folder.file("plain/out.mov") + ": a file of that name is in the way."},
        {folder.file("folder") + "/", "Cannot create " + folder.file("folder") + "/: a file of that name is in the way."},
        {"", "Cannot create the movie: no file name was given."},
    };
    for (const auto& [path, sentence] : cases) {
        try {
            ExclusiveOutputFile file(path);
            ADD_FAILURE() << "created " << path;
        } catch (const MediaFailure& failure) {
            EXPECT_EQ(std::string(failure.what()), sentence);
        }
    }
}

TEST(ExclusiveOutputFile, KeepsTheFileOnlyWhenCommitted) {
    TemporaryDirectory folder;
    std::string dropped = folder.file("dropped.mov");
    { ExclusiveOutputFile file(dropped); EXPECT_TRUE(std::filesystem::exists(dropped)); }
    EXPECT_FALSE(std::filesystem::exists(dropped));
    std::string kept = folder.file("kept.mov");
    {
        ExclusiveOutputFile file(kept);
        avio_write(file.io(), reinterpret_cast<const unsigned char*>("data"), 4);
        file.commit();
    }
    EXPECT_EQ(yux::testing::readWholeFile(kept), "data");
    EXPECT_THROW(ExclusiveOutputFile{kept}, std::runtime_error);
    EXPECT_EQ(yux::testing::readWholeFile(kept), "data");
}

// An export is on disk, data and name, before its take may go: synced, then named, then its
// folder synced. A failed sync leaves nothing under either name; a folder sync the file system
// does not offer is no failure, and a folder that cannot be opened for reading has its whole
// file system synced through the file instead.
TEST(ExclusiveOutputFile, ACommitSyncsTheFileThenNamesItThenSyncsItsFolder) {
    TemporaryDirectory folder;
    enum class Ending { committed, writeFailed, nameTaken };
    using Folder = ExclusiveOutputFile::FolderSync;
    struct Case {
        bool published;
        int dataSync;
        Folder folderSync;
        int fileSystemSync;
        bool taken;
        std::string calls;
        Ending ending;
    };
    const Case cases[] = {
        {true, 0, {}, 0, false, "sync place folder", Ending::committed},
        {false, 0, {}, 0, false, "sync folder", Ending::committed},
        {true, EIO, {}, 0, false, "sync", Ending::writeFailed},
        {false, ENOSPC, {}, 0, false, "sync", Ending::writeFailed},
        // Only the folder's sync may be missing: data that cannot be synced is no export.
        {true, EINVAL, {}, 0, false, "sync", Ending::writeFailed},
        {false, EROFS, {}, 0, false, "sync", Ending::writeFailed},
        {true, 0, {}, 0, true, "sync place", Ending::nameTaken},
        {true, 0, {.syncError = EINVAL}, 0, false, "sync place folder", Ending::committed},
        {true, 0, {.syncError = EOPNOTSUPP}, 0, false, "sync place folder", Ending::committed},
        {true, 0, {.syncError = EROFS}, 0, false, "sync place folder", Ending::committed},
        {true, 0, {.syncError = EIO}, 0, false, "sync place folder", Ending::writeFailed},
        {false, 0, {.syncError = EIO}, 0, false, "sync folder", Ending::writeFailed},
        // Refusals come only from opening the folder; a sync that gives one failed.
        {true, 0, {.syncError = EACCES}, 0, false, "sync place folder", Ending::writeFailed},
        {true, 0, {.openError = EACCES}, 0, false, "sync place folder filesystem", Ending::committed},
        {false, 0, {.openError = EPERM}, 0, false, "sync folder filesystem", Ending::committed},
        {true, 0, {.openError = EACCES}, EIO, false, "sync place folder filesystem", Ending::writeFailed},
        {true, 0, {.openError = EACCES}, EROFS, false, "sync place folder filesystem", Ending::committed},
        {true, 0, {.openError = ENOENT}, 0, false, "sync place folder", Ending::writeFailed},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(n));
        const std::string destination = folder.file("synced" + std::to_string(n) + ".mov");
        const std::string temporary = folder.file(".synced" + std::to_string(n++));
        if (c.taken) yux::testing::writeWholeFile(destination, "theirs");
        std::string calls;
        std::string syncedFolder;
        auto step = [&](const char* name) { calls += calls.empty() ? name : std::string(" ") + name; };
        ExclusiveOutputFile::CommitOperations operations{
            .syncData = [&](int) { step("sync"); return c.dataSync; },
            .place = [&](const std::string& from, const std::string& to) {
                step("place");
                return placeWithoutReplacing(from, to);
            },
            .syncFolder = [&](const std::string& synced) {
                step("folder");
                syncedFolder = synced;
                return c.folderSync;
            },
            .syncFileSystem = [&](int descriptor) {
                step("filesystem");
                // Open on the file under its final name.
                EXPECT_TRUE(std::filesystem::equivalent("/proc/self/fd/" + std::to_string(descriptor), destination));
                return c.fileSystemSync;
            },
        };
        {
            ExclusiveOutputFile file(c.published ? temporary : destination, c.published ? destination : "", operations);
            avio_write(file.io(), reinterpret_cast<const unsigned char*>("data"), 4);
            switch (c.ending) {
                case Ending::committed: EXPECT_NO_THROW(file.commit()); break;
                case Ending::writeFailed: EXPECT_THROW(file.commit(), OutputFileWriteError); break;
                case Ending::nameTaken: EXPECT_THROW(file.commit(), OutputFileExistsError); break;
            }
        }
        EXPECT_EQ(calls, c.calls);
        if (!syncedFolder.empty()) {
            EXPECT_EQ(std::filesystem::path(syncedFolder), folder.path());
        }
        if (c.taken) {
            EXPECT_EQ(yux::testing::readWholeFile(destination), "theirs");
        } else if (c.ending == Ending::committed) {
            EXPECT_EQ(yux::testing::readWholeFile(destination), "data");
        } else {
            EXPECT_FALSE(std::filesystem::exists(destination));
        }
        EXPECT_FALSE(std::filesystem::exists(temporary));
    }
}

// The real folder sync tells why a folder could not be opened, so only a refusal is taken for
// one the user may not read.
TEST(ExclusiveOutputFile, TheDurableFolderSyncTellsAFolderItCannotOpen) {
    TemporaryDirectory folder;
    yux::testing::writeWholeFile(folder.file("plain"), "x");
    const auto syncFolder = ExclusiveOutputFile::CommitOperations::durable().syncFolder;
    const struct {
        std::string folder;
        int openError;
    } cases[] = {{folder.path().string(), 0}, {folder.file("missing"), ENOENT}, {folder.file("plain"), ENOTDIR}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const auto result = syncFolder(c.folder);
        EXPECT_EQ(result.openError, c.openError);
        EXPECT_EQ(result.syncError, 0);
    }
}

// What the trim window runs, without commit operations of its own, reaches the disk: the data
// under the temporary's name, then the folder that holds the final name. So does a movie writer
// that is not told otherwise.
TEST(ExclusiveOutputFile, ExportsAndWritersSyncTheirDataAndTheirFolderUnlessAskedNotTo) {
    using yux::testing::SyncCall;
    using yux::testing::takeSyncCalls;
    TemporaryDirectory folder;
    const std::string real = std::filesystem::canonical(folder.path()).string();
    {
        const std::string probe = folder.file("probe");
        yux::testing::writeWholeFile(probe, "x");
        takeSyncCalls();
        const int descriptor = ::open(probe.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(descriptor, 0);
        ::fdatasync(descriptor);
        ::close(descriptor);
        ASSERT_EQ(takeSyncCalls(), (std::vector<SyncCall>{{"fdatasync", real + "/probe"}}))
            << "the program's syncs are not recorded";
    }
    auto source = fourTrackMovie(folder);
    auto asset = MediaAsset::open(source);
    auto composition = EditComposition::build(asset.tracksOf(MediaTrackType::video), {{0, 0.5, 1}});
    const CompositionEncodeSettings settings = smallEncode();
    const struct {
        const char* name;
        std::function<void(const std::string& destination, const std::string& temporary)> write;
        bool throughTemporary;
    } cases[] = {
        {"copy",
         [&](const std::string& destination, const std::string& temporary) {
             MovieRemuxer::copy(source, destination, {}, CancelToken(), temporary);
         },
         true},
        {"encode",
         [&](const std::string& destination, const std::string& temporary) {
             CompositionEncoder::encode(source, destination, composition, settings, {}, CancelToken(), temporary);
         },
         true},
        {"movie writer",
         [&](const std::string& destination, const std::string&) {
             auto writer = MovieWriter::create(destination);
             ASSERT_EQ(writer->addTrack(MovieTrackFormat::audio("yux.source.systemAudio")), 0);
             ASSERT_TRUE(writer->startWriting());
             writer->startSession(yux::testing::hostTime(0));
             writer->endSession(yux::testing::hostTime(0.1));
             writer->markAsFinished(0);
             yux::testing::finishWritingAndWait(*writer);
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = std::string(c.name) + ".mov";
        const std::string temporary = "." + name + ".partial";
        takeSyncCalls();
        c.write(folder.file(name), c.throughTemporary ? folder.file(temporary) : std::string());
        EXPECT_EQ(takeSyncCalls(), (std::vector<SyncCall>{
                                       {"fdatasync", real + "/" + (c.throughTemporary ? temporary : name)},
                                       {"fsync", real},
                                   }));
    }
}

// Both export writers, through a temporary: the destination's name holds nothing until the movie
// is whole, a name another program took meanwhile is never replaced, and nothing of ours stays.
TEST(ExclusiveOutputFile, AnExportThroughATemporaryTakesItsNameOnlyWhenWhole) {
    TemporaryDirectory folder;
    auto source = fourTrackMovie(folder);
    auto asset = MediaAsset::open(source);
    auto composition = EditComposition::build(asset.tracksOf(MediaTrackType::video), {{0, 1, 1}});
    const CompositionEncodeSettings settings = smallEncode();
    enum class Ending { whole, nameTaken, cancelled };
    struct Case {
        bool encode;
        Ending ending;
    };
    const Case cases[] = {{false, Ending::whole}, {false, Ending::nameTaken}, {false, Ending::cancelled},
                          {true, Ending::whole},  {true, Ending::nameTaken},  {true, Ending::cancelled}};
    int n = 0;
    for (const auto& [encode, ending] : cases) {
        SCOPED_TRACE(std::to_string(n));
        const std::string destination = folder.file("out" + std::to_string(n) + ".mov");
        const std::string temporary = folder.file(".partial" + std::to_string(n++));
        CancelToken token;
        bool seen = false;
        auto during = [&](double) {
            if (seen) return;
            seen = true;
            EXPECT_TRUE(std::filesystem::exists(temporary));
            EXPECT_FALSE(std::filesystem::exists(destination));
            if (ending == Ending::nameTaken) yux::testing::writeWholeFile(destination, "theirs");
            if (ending == Ending::cancelled) token.cancel();
        };
        auto write = [&] {
            if (encode) {
                CompositionEncoder::encode(source, destination, composition, settings, during, token, temporary);
            } else {
                MovieRemuxer::copy(source, destination, during, token, temporary);
            }
        };
        switch (ending) {
            case Ending::whole:
                write();
                EXPECT_GT(MediaAsset::open(destination).durationSeconds, 0.9);
                break;
            case Ending::nameTaken:
                EXPECT_THROW(write(), OutputFileExistsError);
                EXPECT_EQ(yux::testing::readWholeFile(destination), "theirs");
                break;
            case Ending::cancelled:
                EXPECT_THROW(write(), CancelledError);
                EXPECT_FALSE(std::filesystem::exists(destination));
                break;
        }
        EXPECT_TRUE(seen);
        EXPECT_FALSE(std::filesystem::exists(temporary));
    }
}

// A take's last picture lasts until the take's end, however long that is (a still screen's last
// repeat, or a stop that brought no picture of its own): the copy keeps every picture at its time
// and size, and the take's length. A take with data missing inside is no copy.
TEST(MovieRemuxer, ATakeCopiesWholeHoweverLongItsLastPictureLasts) {
    namespace support = yux::testing;
    TemporaryDirectory folder;
    const struct {
        double lastPictureLasts;
        bool dataMissing;
    } cases[] = {{1.0 / 60, false}, {0.1, false}, {0.2, false}, {1.0, false}, {0.2, true}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.lastPictureLasts) + (c.dataMissing ? " with data missing" : ""));
        const std::string take = folder.file("take" + std::to_string(n) + ".mov");
        const std::string copy = folder.file("copy" + std::to_string(n++) + ".mov");
        const double end = 1.5 + c.lastPictureLasts;
        // The picture at the end is the stop's: it only ends the one before.
        support::writeScratchTake(take, {{0, {230, 30, 30}}, {0.7, {30, 200, 40}}, {1.5, {30, 60, 230}},
                                         {end, {30, 60, 230}}}, end);
        if (c.dataMissing) {
            support::moveFragmentDataPastEnd(take, 0);
            EXPECT_THROW(MovieRemuxer::copy(take, copy, {}, CancelToken()), MovieRemuxer::IncompleteCopyError);
            EXPECT_FALSE(std::filesystem::exists(copy));
            continue;
        }
        EXPECT_NO_THROW(MovieRemuxer::copy(take, copy, {}, CancelToken()));
        if (!std::filesystem::exists(copy)) continue;
        const auto kept = support::storedPictures(take);
        const auto copied = support::storedPictures(copy);
        ASSERT_EQ(copied.size(), kept.size());
        for (std::size_t i = 0; i < kept.size(); ++i) {
            EXPECT_NEAR(copied[i].seconds, kept[i].seconds, 1e-6) << i;
            EXPECT_EQ(copied[i].bytes, kept[i].bytes) << i;
        }
        MovieTrackReader result(copy);
        const auto* screen = result.trackTitled("yux.source.screen");
        ASSERT_NE(screen, nullptr);
        EXPECT_NEAR((screen->start + screen->duration).seconds(), end, 0.05);
    }
}

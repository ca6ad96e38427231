#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/async/output_tracker.hpp"
#include "platform/media/exclusive_output_file.hpp"
#include "platform/media/media_time.hpp"
#include "platform/media/sample_buffer.hpp"

namespace yux::platform {

enum class MovieTrackLayout {
    video,                   // H.264, yuv420p, the given size
    videoWithStackedAlpha,   // H.264 at twice the height: the picture on top, its alpha as luma below
    audio,                   // AAC-LC, 48000 Hz, stereo, 192000 bit/s
};

struct MovieTrackFormat {
    MovieTrackLayout layout = MovieTrackLayout::video;
    std::string title;  // stored as the track's handler name and as a title tag
    int width = 0;      // video only; even
    int height = 0;
    std::string preset;  // video only: the H.264 encoder preset; empty for kScratchVideoPreset
    // Video only: the pictures' nominal rate (pictures may come less often); it paces the
    // encoder's keyframes. 0: kDefaultNominalFrameRate.
    double frameRate = 0;

    static MovieTrackFormat video(std::string title, int width, int height, std::string preset = {}) {
        return {MovieTrackLayout::video, std::move(title), width, height, std::move(preset)};
    }
    static MovieTrackFormat videoWithStackedAlpha(std::string title, int width, int height, std::string preset = {}) {
        return {MovieTrackLayout::videoWithStackedAlpha, std::move(title), width, height, std::move(preset)};
    }
    static MovieTrackFormat audio(std::string title) { return {MovieTrackLayout::audio, std::move(title), 0, 0, {}}; }

    MovieTrackFormat withFrameRate(double rate) const {
        auto copy = *this;
        copy.frameRate = rate;
        return copy;
    }
};

// Container metadata of a scratch movie: the nominal frame rate of its screen track, as the
// shortest decimal text of the frames per second ("60", "59.94005994005994"). The screen
// track's own timing cannot tell it: a still screen sends pictures only when it changes.
inline constexpr std::string_view kNominalScreenFrameRateKey = "yux.screen.frameRate";

// The rate assumed for a video track that names none.
inline constexpr double kDefaultNominalFrameRate = 60.0;

// Why a movie could not be written. what() is a plain sentence for people ("The disk is
// full."); detail() is the library's own text, for the debug log.
class MovieWriterError : public std::runtime_error {
public:
    enum class Cause { diskFull, storage, encoding };
    MovieWriterError(Cause cause, const std::string& sentence, std::string detail)
        : std::runtime_error(sentence), cause_(cause), detail_(std::move(detail)) {}
    Cause cause() const { return cause_; }
    const std::string& detail() const { return detail_; }

private:
    Cause cause_;
    std::string detail_;
};

// Numbered as the platform's writer status, which callers report.
enum class MovieWriterStatus { unknown = 0, writing = 1, completed = 2, failed = 3, cancelled = 4 };

// One appended sample, as the writer accepted it.
struct MovieWriterAppend {
    int track = 0;
    MediaTime presentationTime;
    MediaTime duration;
    bool again = false;  // appendAgain
    bool operator==(const MovieWriterAppend&) const = default;
};

// A QuickTime movie written in real time, one encoding thread per track. Use it from one
// thread at a time (the caller's serial queue), except endSession, which any thread may call;
// encoding and muxing run on the writer's own threads.
//
// Sequence: setMetadata and addTrack, startWriting, startSession(at: first time), append
// samples while a track isReadyForMoreMediaData, endSession(at: end time), markAsFinished per
// track, finishWriting. Times are host-clock presentation times; the movie starts at the
// session's start time, and samples at or after its end time are dropped before they are
// encoded (call endSession as soon as the end is known).
//
// The movie is written in fragments of about a second, each readable on its own, so a full
// disk or a killed process keeps everything up to the last complete fragment. The file is
// created exclusively when the writer is made (an existing file is never touched). A writer
// that fails keeps what it wrote (error() says why, as a MovieWriterError) when a picture
// reached a whole fragment, and removes a movie without one, which no reader could show;
// cancelWriting, and a writer dropped while still writing, remove the file.
class MovieWriter {
public:
    struct Operations {
        std::function<bool(const MovieTrackFormat&)> addTrack;  // false: the track cannot be added
        // A text of the whole movie, stored under its own key; false once writing has started.
        std::function<bool(const std::string& key, const std::string& value)> setMetadata;
        std::function<bool()> startWriting;                      // false: see error()
        std::function<void(MediaTime)> startSession;
        // How many more samples the track's queue takes now (a sound track: 1 or 0); also 1 once
        // the writer failed, so an append learns why.
        std::function<int(int track)> room;
        // Never blocks; false: refused. `again`: the picture is the one the track took last,
        // whose conversion the encoder may use once more.
        std::function<bool(int track, const SampleBuffer&, bool again)> append;
        std::function<void(MediaTime)> endSession;
        std::function<void(int track)> markAsFinished;
        std::function<void(std::function<void()> completion)> finishWriting;  // completion on a writer thread
        std::function<void()> cancelWriting;
        std::function<MovieWriterStatus()> status;
        std::function<std::exception_ptr()> error;
        // Pictures the video track accepted that are not in the movie yet: waiting for the
        // encoder, inside it, or the packet that waits for its successor. 0 for sound.
        std::function<int(int track)> picturesHeld;
        // A picture lies in a whole fragment of the file, the part a failure or a kill keeps.
        std::function<bool()> keepsPicture;
    };

    // Scripted answers of the in-memory writer.
    struct NullScript {
        std::function<bool(const MovieTrackFormat&)> canAdd = [](const MovieTrackFormat&) { return true; };
        bool startFails = false;
        std::function<bool(int track)> ready = [](int) { return true; };
        // Samples a ready track takes in a row.
        std::function<int(int track)> room = [](int) { return 1000; };
        std::function<bool(int track)> accepts = [](int) { return true; };
        // With this set, a refused sample fails the writer with it, as a write error would.
        std::exception_ptr refusalError;
        // The status finishing ends in; failed carries finishError.
        MovieWriterStatus finishStatus = MovieWriterStatus::completed;
        std::exception_ptr finishError;
        std::function<int(int track)> held = [](int) { return 0; };
        // Whether a failed writer's file keeps a picture; a completed one always does.
        bool keepsPicture = true;
    };

    // Creates the file exclusively; throws std::runtime_error when it exists or cannot be made.
    // `commit` puts the finished file under its name, on disk unless the caller asks for less: a
    // scratch movie needs no sync, since nothing deletes a take on the strength of its commit.
    static std::shared_ptr<MovieWriter> create(
        const std::string& path,
        ExclusiveOutputFile::CommitOperations commit = ExclusiveOutputFile::CommitOperations::durable());
    static std::shared_ptr<MovieWriter> create_null(NullScript script);
    static std::shared_ptr<MovieWriter> create_null();

    explicit MovieWriter(Operations operations);

    // Returns the new track's number (0, 1, ... in the order added), or -1 when it cannot be added.
    int addTrack(const MovieTrackFormat& format);
    // Before startWriting. Readers find the value in the container's metadata under `key`.
    bool setMetadata(const std::string& key, const std::string& value) { return operations_.setMetadata(key, value); }
    bool startWriting() { return operations_.startWriting(); }
    void startSession(MediaTime start) { operations_.startSession(start); }
    bool isReadyForMoreMediaData(int track) const { return room(track) > 0; }
    int room(int track) const { return operations_.room(track); }
    bool append(int track, const SampleBuffer& sample);
    // The picture this track took last, again at the sample's time (a still screen's repeat):
    // not converted anew.
    bool appendAgain(int track, const SampleBuffer& sample);
    void endSession(MediaTime end) { operations_.endSession(end); }
    void markAsFinished(int track) { operations_.markAsFinished(track); }
    void finishWriting(std::function<void()> completion) { operations_.finishWriting(std::move(completion)); }
    void cancelWriting() { operations_.cancelWriting(); }
    MovieWriterStatus status() const { return operations_.status(); }
    std::exception_ptr error() const { return operations_.error(); }
    int picturesHeld(int track) const { return operations_.picturesHeld(track); }
    bool keepsPicture() const { return operations_.keepsPicture(); }

    OutputTracker<MovieWriterAppend> track_appends() { return appends_.track(); }

private:
    Operations operations_;
    int tracks_ = 0;
    OutputListener<MovieWriterAppend> appends_;
};

// What the screen track's encoder trades for speed; chosen by bench/scratch_writer_bench so
// that 1080p at 60 fps keeps up on two cores together with the other tracks.
extern const char* const kScratchVideoPreset;

}  // namespace yux::platform

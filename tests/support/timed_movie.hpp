#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/test_movie_generator.hpp"

namespace yux::testing {

// Movies whose pictures and sounds sit at chosen times, in the scratch layout (handler names
// "yux.source.<kind>", camera alpha stacked below its picture), written straight with libavformat:
// idle gaps, late pictures, a still screen, audio that starts late, a flash with a beep.
struct TimedPicture {
    double seconds = 0;
    Rgb color;
    // The picture's right half in another colour (writeTimedMovie's screen), so a crop shows which half it kept.
    std::optional<Rgb> rightHalf;
};

struct TimedTone {
    double start = 0;  // seconds of the movie
    double end = 0;
    double hz = 1000;
    double amplitude = 0.5;
};

struct TimedAudioTrack {
    std::string kind = "systemAudio";
    double start = 0;  // the track's first sample; before it the track has no media
    double end = 0;
    std::vector<TimedTone> tones;  // silence elsewhere
};

struct TimedMovieOptions {
    int width = 320;
    int height = 180;
    double durationSeconds = 3;
    // Each picture shows until the next; the last one until durationSeconds.
    std::vector<TimedPicture> screen;
    // A camera picture at each time: picture k is a small opaque square at cameraSquareCenter(k)
    // over a transparent picture, so every exported camera picture can be told apart.
    std::vector<double> camera;
    std::vector<TimedAudioTrack> audio;
    // Stored in the movie's metadata as the scratch writer stores the screen's nominal rate.
    std::optional<std::string> screenFrameRate;
};

inline constexpr Rgb kCameraSquareColor{255, 255, 255};
struct Point2 {
    int x = 0, y = 0;
};
// Where camera picture k puts its square (k < 180 for a 320 × 180 movie).
Point2 cameraSquareCenter(int k);

void writeTimedMovie(const std::string& path, const TimedMovieOptions& options);

// A take written by the recorder's own movie writer, fragmented as it writes takes: the screen's
// pictures at their times (sent only on change, as an idle screen sends them) and a 440 Hz tone of
// system audio up to `seconds`, where the take stops. `frameRate` is stored as the screen's
// nominal rate.
void writeScratchTake(const std::string& path, const std::vector<TimedPicture>& screen, double seconds,
                      const std::string& frameRate = "60");

// The index of the camera picture each picture of the first video track shows (-1: none found).
std::vector<int> cameraPicturesShown(const std::string& path, int count);

// Each picture of the first video track: its time (seconds) and the colour of its pixel (x, y).
struct ShownPicture {
    double seconds = 0;
    Rgb color;
};
std::vector<ShownPicture> picturesAt(const std::string& path, int x, int y);
// The time of the first of those pictures near `color`, or -1.
double firstPictureShowing(const std::string& path, Rgb color, int x, int y);

// Presentation times (seconds) of every picture of the first video track, from its packets.
std::vector<double> pictureTimes(const std::string& path);
// Those pictures as stored: each packet's time (seconds) and size (bytes), in time order; of a
// killed take, those that lie whole in the file.
struct StoredPicture {
    double seconds = 0;
    int bytes = 0;
};
std::vector<StoredPicture> storedPictures(const std::string& path);

// The first output second at which the first audio track's level rises above `threshold`, or -1.
double firstSoundAt(const std::string& path, double threshold = 0.1);

}  // namespace yux::testing

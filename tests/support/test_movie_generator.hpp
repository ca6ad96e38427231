#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/media/ffmpeg_support.hpp"

namespace yux::testing {

// Small movies in the scratch layout: screen H.264, optional camera H.264 with its alpha stacked
// below the picture, system audio and optional microphone AAC 48 kHz stereo, each track titled
// "yux.source.<kind>". Written by the recorder's own movie writer, fed as a capture would feed it;
// bench movies and raw streams are encoded directly, for speed and for layouts it never writes.
struct TestMovieOptions {
    int width = 320;
    int height = 180;
    int frameRate = 30;
    double durationSeconds = 3.0;
    bool screen = true;  // false: audio only (through the movie writer)
    bool camera = false;
    bool systemAudio = true;
    bool microphone = false;
    double systemToneHz = 440.0;
    double systemAmplitude = 0.5;
    double microphoneToneHz = 880.0;
    double microphoneAmplitude = 0.5;  // 0 writes silence
    // Bench movies: fast encoder settings at a screen recording's bit rate, and a detailed
    // picture (scrolling noise below, a box of fresh noise) that needs those bits.
    bool benchContent = false;
    // libavformat muxer name; "h264" writes a raw stream of the screen alone (no duration).
    std::string container = "mov";
};

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
};

// The screen's colour during second `second` of the movie (changes every whole second).
Rgb screenColorAt(int second);
// The camera bubble: this colour inside a circle, transparent outside.
inline constexpr Rgb kCameraColor{220, 40, 220};
struct Circle {
    double centerX = 0, centerY = 0, radius = 0;
};
Circle bubbleCircle(int width, int height);

void writeTestMovie(const std::string& path, const TestMovieOptions& options);

// Reading back what an export wrote.
// The colour of pixel (x, y) of the first video track's picture showing at `seconds`.
Rgb pixelAt(const std::string& path, double seconds, int x, int y);
struct AudioSummary {
    std::int64_t frames = 0;  // stereo frames at the track's rate
    double rms = 0;
    double peak = 0;
};
// The first audio track, decoded whole.
AudioSummary readAudio(const std::string& path);
bool near(Rgb a, Rgb b, int tolerance = 12);

// Pieces of the generators above, for movies of other shapes (support/timed_movie).
struct MovieEncoder {
    platform::ffmpeg::CodecContext context;
    AVStream* stream = nullptr;
};
// An AAC track of `output` in the scratch settings (48 kHz stereo, 192000 bit/s) with this handler name.
MovieEncoder openScratchAudio(AVFormatContext* output, const std::string& handler);
// Planar float stereo at 48 kHz, `count` samples, for that encoder.
platform::ffmpeg::Frame scratchAudioFrame(int count);
// Y, U, V of an RGB colour (limited range BT.601, as the scratch writer's converter does).
void toYuv(Rgb c, std::uint8_t& y, std::uint8_t& u, std::uint8_t& v);

}  // namespace yux::testing

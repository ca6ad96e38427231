#pragma once

#include <cstdint>
#include <vector>

#include "platform/media/media_time.hpp"
#include "platform/media/pixel_buffer.hpp"
#include "platform/media/movie_writer.hpp"
#include "platform/media/sample_buffer.hpp"
#include "support/media_time_printer.hpp"  // tests that make samples compare their times

// Test media made from a few lines of code, never checked in.
namespace yux::testing {

// An opaque picture of diagonal colour bars that move by `step` pixels per frame.
platform::PixelBuffer movingPattern(int width, int height, int frame, int step = 8);

// A transparent picture with an opaque round bubble (radius in pixels) at its centre.
platform::PixelBuffer cameraBubble(int width, int height, int radius);

// `frames` samples of a sine tone, interleaved, every channel alike, starting at sample `offset`.
platform::AudioBuffer sineTone(double frequency, int frames, int sampleRate = 48000, int channels = 2,
                               platform::AudioSampleFormat format = platform::AudioSampleFormat::float32,
                               std::int64_t offset = 0, double amplitude = 0.5);

platform::SampleBuffer videoSample(platform::MediaTime time, platform::PixelBuffer picture,
                                   platform::MediaTime duration = platform::MediaTime(1, 60));
platform::SampleBuffer audioSample(platform::MediaTime time, platform::AudioBuffer audio);

// The level (RMS-like, 0...1) of one frequency in the first channel of interleaved float audio.
double toneLevel(const platform::AudioBuffer& audio, double frequency);

// Host-clock style times: `seconds` after a fixed base far from zero, in nanoseconds.
platform::MediaTime hostTime(double seconds);

// Finishes the writer and blocks until its completion has run.
void finishWritingAndWait(platform::MovieWriter& writer);

}  // namespace yux::testing

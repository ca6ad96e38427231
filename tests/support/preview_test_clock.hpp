#pragma once

// For preview player tests: a clock the test moves by hand, and the index of a test movie's
// picture read back from the picture itself.

#include <atomic>
#include <functional>
#include <memory>

#include "platform/media/pixel_buffer.hpp"

namespace yux::testing {

// Seconds, far from zero; only advance() moves it.
struct ManualClock {
    std::shared_ptr<std::atomic<double>> now = std::make_shared<std::atomic<double>>(100.0);
    std::function<double()> function() const {
        auto value = now;
        return [value] { return value->load(); };
    }
    void advance(double seconds) { now->store(now->load() + seconds); }
};

// writeTestMovie's screen carries a dark bar that moves 4 pixels a picture from the left edge:
// its position is the picture's index (below 75 for a 320-pixel-wide movie). -1: no bar.
inline int frameIndexOf(const platform::PixelBuffer& picture) {
    const std::uint8_t* row = picture.row(2);
    for (int x = 0; x < picture.width(); ++x) {
        const std::uint8_t* p = row + 4 * x;
        if (p[0] < 40 && p[1] < 40 && p[2] < 40) return (x + 1) / 4;
    }
    return -1;
}

}  // namespace yux::testing

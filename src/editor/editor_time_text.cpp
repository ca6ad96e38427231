#include "editor/editor_time_text.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace yux {

std::string editorTimeText(double seconds) {
    // Held far below where tenths would overflow a 64-bit count.
    double clamped = std::isfinite(seconds) && seconds > 0 ? std::min(seconds, 1e15) : 0;
    long long tenths = std::llround(clamped * 10);
    long long minutes = tenths / 600;
    double rest = static_cast<double>(tenths % 600) / 10;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%04.1f", minutes, rest);
    return text;
}

}  // namespace yux

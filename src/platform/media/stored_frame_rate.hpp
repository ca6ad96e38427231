#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace yux::platform {

// The scratch writer stores the screen track's nominal rate (frames per second, decimal text) in
// the movie's metadata under this key: the pictures of a still or idle screen come far apart, so
// the rate cannot be told from the track's own timing.
inline constexpr std::string_view kScreenFrameRateKey = "yux.screen.frameRate";

// The stored rate of the movie at `path`; none when the movie stores none, its text is not a
// positive number, or the movie cannot be opened.
std::optional<double> storedScreenFrameRate(const std::string& path);

}  // namespace yux::platform

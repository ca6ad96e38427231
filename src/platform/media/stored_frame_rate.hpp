#pragma once

#include <optional>
#include <string>

namespace yux::platform {

// The screen track's nominal rate as the scratch writer stores it (kNominalScreenFrameRateKey):
// the pictures of a still or idle screen come far apart, so the track's own timing cannot tell
// it. None when the movie stores none, its text is not a positive number, or the movie cannot be
// opened.
std::optional<double> storedScreenFrameRate(const std::string& path);

}  // namespace yux::platform

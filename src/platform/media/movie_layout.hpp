#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace yux::platform {

// What a QuickTime movie's own boxes say that the media library does not keep, read without the
// library: whether the movie is fragmented, whether every track can be told apart, and how long
// the last sample of each track's fragments lasts. The library takes a fragmented track's length
// as the larger of its header's claim and its fragments' end, so a header that lies would win;
// the fragments' own last sample length lets the readers end the track where its samples end.
struct MovieLayout {
    bool fragmented = false;
    // The movie box (the header that lists every track) lies whole in the file.
    bool movieBoxWhole = false;
    // A track of the first movie box has no track header or an ID past 2^31 - 1.
    bool unidentifiedTrack = false;
    // Where a fragment cut short by the end of the file begins (a killed recording): the library
    // refuses a movie that ends inside a fragment's index, so readers leave it out. None when
    // the file ends elsewhere.
    std::optional<std::uint64_t> wholeBytes;
    // By track ID: the length of the last sample of the track's fragments, in the track's ticks.
    // Tracks without fragment samples are absent.
    std::map<std::uint32_t, std::int64_t> lastSampleTicks;
    // By track ID: how many of the track's samples the last fragment holds (absent: none), so a
    // reader tells a take cut inside its last fragment from data missing before it.
    std::map<std::uint32_t, std::int64_t> lastFragmentSamples;

    // A file that cannot be read, or that is no movie, gives an empty layout.
    static MovieLayout read(const std::string& path);
};

}  // namespace yux::platform

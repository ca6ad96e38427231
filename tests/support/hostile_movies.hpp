#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Damaged and foreign movies, made from a movie the test wrote itself.
namespace yux::testing {

struct RemuxOptions {
    std::string movflags{};                // e.g. "frag_keyframe+empty_moov+default_base_moof"
    std::map<int, int> trackIDs{};         // stream index -> track id to store
    std::map<int, std::string> titles{};   // stream index -> handler name to store instead
    bool editList = false;                 // keep a start before 0 (fragmented files drop it)
};
// Copies every stream of `source` into a new QuickTime file without decoding.
void remuxMovie(const std::string& source, const std::string& destination, const RemuxOptions& options = {});

// The byte ranges of the payload of every top-level box of this type ("mdat", "moov").
struct ByteRange {
    std::size_t offset = 0;
    std::size_t size = 0;
};
std::vector<ByteRange> topLevelBoxes(const std::string& bytes, const char* type);

// Inverts `count` bytes chosen by `seed` inside the media data (the index stays intact).
void flipMediaBytes(const std::string& path, std::uint32_t seed, int count);
// Makes the movie header claim `seconds` (the tracks keep their own lengths).
void setHeaderDuration(const std::string& path, double seconds);

// An audio-only movie of one MP3 stream: `stereoSeconds` of a stereo tone followed by
// `monoSeconds` of a mono one, as two recordings joined end to end would be.
void writeChannelChangeMovie(const std::string& path, double stereoSeconds, double monoSeconds);

// A movie with 3 s of a small picture track and an AAC track that starts at 1 s and carries a
// 440 Hz tone from 1 s to 2 s.
void writeLateToneMovie(const std::string& path);

}  // namespace yux::testing

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
// Makes the media header of track `track` (0-based, in the order stored; -1: every track) claim
// `ticks` of its time scale; the samples stay as they are.
void setTrackHeaderDuration(const std::string& path, std::uint64_t ticks, int track = -1);

// Moves every fragment of one track `ticks` later, as a damaged fragment index would place it.
void delayFragments(const std::string& path, std::uint32_t trackID, std::uint64_t ticks);

// Cuts the file short as a killed recording leaves it: inside the index of its last fragment
// ("moof") or inside that fragment's media data.
enum class FragmentCut { index, media };
void cutLastFragment(const std::string& path, FragmentCut where);
// Cuts the file short inside the data of the first sample of stream `stream` at `seconds` or later.
void cutInsideSample(const std::string& path, int stream, double seconds);
// Points the sample data of the `fragment`-th fragment (0-based) past the end of the file, as if
// data were missing from the middle of a fragmented movie.
void moveFragmentDataPastEnd(const std::string& path, int fragment);
// Keeps the index and the first `share` of the media data of a movie with one "mdat" box.
void cutMediaData(const std::string& path, double share);

// An audio-only movie of one MP3 stream: `stereoSeconds` of a stereo tone followed by
// `monoSeconds` of a mono one, as two recordings joined end to end would be.
void writeChannelChangeMovie(const std::string& path, double stereoSeconds, double monoSeconds);

// A movie with 3 s of a small picture track and an AAC track that starts at 1 s and carries a
// 440 Hz tone from 1 s to 2 s.
void writeLateToneMovie(const std::string& path);

}  // namespace yux::testing

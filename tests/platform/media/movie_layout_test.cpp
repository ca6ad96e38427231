#include "platform/media/movie_layout.hpp"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/temporary_directory.hpp"

using yux::platform::MovieLayout;

namespace {

std::string number(std::uint64_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    return out;
}
std::string box(const char* type, const std::string& payload) { return number(payload.size() + 8, 4) + type + payload; }
std::string full(std::uint32_t flags) { return number(flags, 4); }  // version 0 and flags

std::string track(std::uint32_t id) { return box("trak", box("tkhd", full(0) + number(0, 8) + number(id, 4) + std::string(68, '\0'))); }
// With the fragment defaults of track 1.
std::string movie(const std::string& tracks, std::uint32_t defaultTicks = 100) {
    std::string trackDefaults = full(0) + number(1, 4) + number(1, 4) + number(defaultTicks, 4) + number(0, 8);
    std::string extends = box("mvex", box("trex", trackDefaults));
    return box("ftyp", "qt  ") + box("moov", tracks + extends);
}
// A fragment of one track: the header's flags and optional fields, then one run.
std::string fragment(const std::string& header, const std::string& run) {
    return box("moof", box("mfhd", full(0) + number(1, 4)) + box("traf", box("tfhd", header) + box("trun", run))) +
           box("mdat", std::string(16, '\0'));
}
std::string runWithTicks(std::initializer_list<std::uint32_t> ticks) {
    std::string run = full(0x101) + number(ticks.size(), 4) + number(0, 4);
    for (auto t : ticks) run += number(t, 4);
    return run;
}

struct Case {
    const char* name;
    std::string bytes;
    bool fragmented;
    bool unidentified;
    std::map<std::uint32_t, std::int64_t> lastSampleTicks;
    std::map<std::uint32_t, std::int64_t> lastFragmentSamples;
    std::optional<std::uint64_t> wholeBytes;
};

}  // namespace

TEST(MovieLayout, ReadsWhatFragmentsSayOfTheirLastSamples) {
    const std::string header = full(0) + number(1, 4);
    const std::string plain = box("ftyp", "qt  ") + box("moov", track(1));
    const std::string twoFragments =
        movie(track(1)) + fragment(header, runWithTicks({5, 6, 7})) + fragment(header, runWithTicks({8, 9}));
    std::string cutFragment = fragment(header, runWithTicks({1, 2, 3, 4}));
    cutFragment.resize(20);
    // A run that counts 1000 samples holds two.
    std::string overlong = full(0x100) + number(1000, 4) + number(11, 4) + number(12, 4);
    // Base data offset (8 bytes) stored before the default length; a run without lengths.
    std::string defaultLength = full(0x09) + number(1, 4) + number(0, 8) + number(40, 4);
    std::string plainRun = full(0x1) + number(2, 4) + number(0, 4);
    const std::vector<Case> cases{
        {"plain", plain, false, false, {}, {}, {}},
        {"own ticks", movie(track(1)) + fragment(header, runWithTicks({10, 20, 30})), true, false, {{1, 30}}, {{1, 3}}, {}},
        {"fragment default", movie(track(1)) + fragment(defaultLength, plainRun), true, false, {{1, 40}}, {{1, 2}}, {}},
        {"movie default", movie(track(1), 100) + fragment(header, full(0) + number(2, 4)), true, false, {{1, 100}}, {{1, 2}}, {}},
        {"count past the run", movie(track(1)) + fragment(header, overlong), true, false, {{1, 12}}, {{1, 2}}, {}},
        {"last of two", twoFragments, true, false, {{1, 9}}, {{1, 2}}, {}},
        {"cut fragment", twoFragments + cutFragment, true, false, {{1, 9}}, {{1, 2}}, twoFragments.size()},
        {"no track header", movie(box("trak", ""), 100), true, true, {}, {}, {}},
        {"track ID past 2^31", movie(track(0x80000000u)), true, true, {}, {}, {}},
    };
    yux::testing::TemporaryDirectory folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = folder.file("movie.mov");
        yux::testing::writeWholeFile(path, c.bytes);
        auto layout = MovieLayout::read(path);
        EXPECT_EQ(layout.fragmented, c.fragmented);
        EXPECT_EQ(layout.unidentifiedTrack, c.unidentified);
        EXPECT_EQ(layout.lastSampleTicks, c.lastSampleTicks);
        EXPECT_EQ(layout.lastFragmentSamples, c.lastFragmentSamples);
        EXPECT_EQ(layout.wholeBytes, c.wholeBytes);
    }
    auto missing = MovieLayout::read(folder.file("missing.mov"));
    EXPECT_FALSE(missing.fragmented);
    EXPECT_TRUE(missing.lastSampleTicks.empty());
}

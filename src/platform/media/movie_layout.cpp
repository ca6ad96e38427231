#include "platform/media/movie_layout.hpp"

#include <algorithm>
#include <fstream>
#include <optional>
#include <vector>

namespace yux::platform {

namespace {

// Reads are served from a window this large: a fragment's index boxes take a few kilobytes, so
// one read covers them, where a seek per number would cost a system call each.
constexpr std::size_t kWindowBytes = 16 * 1024;

// trun flags: fields present before the samples, and in each sample.
constexpr std::uint32_t kRunDataOffset = 0x001;
constexpr std::uint32_t kRunFirstSampleFlags = 0x004;
constexpr std::uint32_t kRunSampleDuration = 0x100;
constexpr std::uint32_t kRunSampleFields[] = {0x100, 0x200, 0x400, 0x800};
// tfhd flags: optional fields in the order they are stored, with their sizes.
constexpr std::uint32_t kFragmentDefaultDuration = 0x08;
constexpr std::pair<std::uint32_t, int> kFragmentHeaderFields[] = {{0x01, 8}, {0x02, 4}, {0x08, 4}, {0x10, 4}, {0x20, 4}};

// The movie's boxes as the library reads them: a size of 0 runs to the end of the parent, a size
// of 1 is followed by a 64-bit one, and a box never runs past its parent.
struct Box {
    std::uint64_t offset = 0;  // of its header
    std::uint64_t payload = 0;
    std::uint64_t end = 0;
    bool cut = false;  // its size runs past its parent
    char type[4] = {};
    bool is(const char* name) const { return std::equal(type, type + 4, name); }
};

class BoxReader {
public:
    explicit BoxReader(const std::string& path) : file_(path, std::ios::binary) {
        file_.seekg(0, std::ios::end);
        size_ = file_ ? static_cast<std::uint64_t>(file_.tellg()) : 0;
    }
    std::uint64_t size() const { return size_; }

    std::optional<std::uint64_t> number(std::uint64_t at, int bytes) {
        if (at > size_ || size_ - at < static_cast<std::uint64_t>(bytes)) return std::nullopt;
        if (at < windowStart_ || at + bytes > windowStart_ + window_.size()) {
            if (!fill(at)) return std::nullopt;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value = (value << 8) | window_[at - windowStart_ + i];
        return value;
    }

    // The box at `at` inside a parent ending at `end`; none where the walk stops.
    std::optional<Box> box(std::uint64_t at, std::uint64_t end) {
        if (at + 8 > end) return std::nullopt;
        auto size = number(at, 4);
        auto type = number(at + 4, 4);
        if (!size || !type) return std::nullopt;
        Box box;
        box.offset = at;
        for (int i = 0; i < 4; ++i) box.type[i] = static_cast<char>((*type >> (8 * (3 - i))) & 0xff);
        std::uint64_t header = 8;
        if (*size == 1 && at + 16 <= end) {
            auto wide = number(at + 8, 8);
            if (!wide) return std::nullopt;
            size = wide;
            header = 16;
        } else if (*size == 0) {
            size = end - at;
        }
        if (*size < header) return std::nullopt;
        box.cut = *size > end - at;
        box.payload = at + header;
        box.end = at + std::min(*size, end - at);
        return box;
    }

    // Calls visit(box) for each child; the walk ends when it returns false.
    template <typename Visit>
    void children(std::uint64_t from, std::uint64_t end, Visit visit) {
        for (std::uint64_t at = from; auto child = box(at, end);) {
            if (!visit(*child)) return;
            if (child->end <= at) return;
            at = child->end;
        }
    }

private:
    bool fill(std::uint64_t at) {
        window_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kWindowBytes, size_ - at)));
        windowStart_ = at;
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(at));
        if (file_.read(reinterpret_cast<char*>(window_.data()), static_cast<std::streamsize>(window_.size()))) return true;
        window_.clear();
        return false;
    }

    std::ifstream file_;
    std::uint64_t size_ = 0;
    std::vector<unsigned char> window_;
    std::uint64_t windowStart_ = 0;
};

// The samples a run describes whole, and how long the last of them lasts (none when it says
// nothing and no default is known).
struct Run {
    std::int64_t samples = 0;
    std::optional<std::int64_t> lastTicks;
};

Run readRun(BoxReader& reader, const Box& run, std::optional<std::int64_t> fallback) {
    auto flags = reader.number(run.payload, 4);
    auto count = reader.number(run.payload + 4, 4);
    if (!flags || !count || *count == 0) return {};
    std::uint64_t first = run.payload + 8;
    if (*flags & kRunDataOffset) first += 4;
    if (*flags & kRunFirstSampleFlags) first += 4;
    std::uint64_t record = 0;
    for (auto field : kRunSampleFields) {
        if (*flags & field) record += 4;
    }
    if (first > run.end) return {};
    // A count past the box (damage) ends at the last record that fits.
    std::uint64_t whole = record == 0 ? *count : std::min<std::uint64_t>(*count, (run.end - first) / record);
    if (whole == 0) return {};
    Run result{static_cast<std::int64_t>(whole), fallback};
    if (*flags & kRunSampleDuration) {
        auto ticks = reader.number(first + (whole - 1) * record, 4);
        result.lastTicks = ticks ? std::optional<std::int64_t>(static_cast<std::int64_t>(*ticks)) : std::nullopt;
    }
    return result;
}

using TrackDefaults = std::map<std::uint32_t, std::int64_t>;  // sample length by track ID, from "trex"

void readMovie(BoxReader& reader, const Box& movie, MovieLayout& layout, TrackDefaults& defaults) {
    reader.children(movie.payload, movie.end, [&](const Box& part) {
        if (part.is("mvex") || part.is("moof")) layout.fragmented = true;
        if (part.is("mvex")) {
            reader.children(part.payload, part.end, [&](const Box& extends) {
                auto id = reader.number(extends.payload + 4, 4);
                auto ticks = reader.number(extends.payload + 12, 4);
                if (!extends.is("trex") || !id || !ticks) return true;
                defaults[static_cast<std::uint32_t>(*id)] = static_cast<std::int64_t>(*ticks);
                return true;
            });
        }
        if (!part.is("trak")) return true;
        std::optional<std::uint64_t> trackID;
        reader.children(part.payload, part.end, [&](const Box& header) {
            if (!header.is("tkhd")) return true;
            auto version = reader.number(header.payload, 1);
            // Read as the library does, even past a box too short to hold it.
            trackID = reader.number(header.payload + (version == 1u ? 20 : 12), 4).value_or(0);
            return true;
        });
        if (!trackID || *trackID > 0x7fffffffu) layout.unidentifiedTrack = true;
        return true;
    });
}

void readTrackFragment(BoxReader& reader, const Box& trackFragment, MovieLayout& layout, const TrackDefaults& defaults) {
    std::optional<std::uint32_t> trackID;
    std::optional<std::int64_t> fragmentDefault;
    reader.children(trackFragment.payload, trackFragment.end, [&](const Box& piece) {
        if (piece.is("tfhd")) {
            auto flags = reader.number(piece.payload, 4);
            auto id = reader.number(piece.payload + 4, 4);
            if (!flags || !id) return false;
            trackID = static_cast<std::uint32_t>(*id);
            std::uint64_t at = piece.payload + 8;
            for (auto [flag, bytes] : kFragmentHeaderFields) {
                if (!(*flags & flag)) continue;
                if (flag == kFragmentDefaultDuration) {
                    auto ticks = reader.number(at, bytes);
                    if (ticks) fragmentDefault = static_cast<std::int64_t>(*ticks);
                }
                at += static_cast<std::uint64_t>(bytes);
            }
            return true;
        }
        if (!piece.is("trun") || !trackID) return true;
        auto fallback = fragmentDefault;
        if (!fallback) {
            auto found = defaults.find(*trackID);
            fallback = found != defaults.end() ? found->second : 0;
        }
        Run run = readRun(reader, piece, fallback);
        if (run.samples == 0) return true;
        layout.lastFragmentSamples[*trackID] += run.samples;
        if (run.lastTicks) layout.lastSampleTicks[*trackID] = *run.lastTicks;
        else layout.lastSampleTicks.erase(*trackID);
        return true;
    });
}

}  // namespace

MovieLayout MovieLayout::read(const std::string& path) {
    BoxReader reader(path);
    MovieLayout layout;
    TrackDefaults defaults;
    bool movieSeen = false;
    reader.children(0, reader.size(), [&](const Box& top) {
        if (top.is("moov") && !movieSeen) {
            movieSeen = true;  // the library skips any later one
            layout.movieBoxWhole = !top.cut;
            readMovie(reader, top, layout, defaults);
        }
        if (!top.is("moof")) return true;
        layout.fragmented = true;
        if (top.cut) {
            layout.wholeBytes = top.offset;
            return false;
        }
        layout.lastFragmentSamples.clear();
        reader.children(top.payload, top.end, [&](const Box& part) {
            if (part.is("traf")) readTrackFragment(reader, part, layout, defaults);
            return true;
        });
        return true;
    });
    return layout;
}

}  // namespace yux::platform

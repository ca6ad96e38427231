#pragma once

// The trim editor's time line: contiguous sections over the whole source, a trim range (the part
// to export) and an undo history. All times are seconds of the source recording.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "model/recording_crop.hpp"
#include "model/recording_source.hpp"

namespace yux {

// Defined in trim_selection.hpp, which builds on the sections here.
struct TrimSelection;

class RecordingEdit {
public:
    struct Section {
        double start = 0;
        double end = 0;
        // Playback rate in the export: 2 plays the stretch twice as fast.
        double speed = 1.0;
        // False: removed from the export.
        bool kept = true;

        double duration() const { return end - start; }
        bool operator==(const Section&) const = default;
    };

    enum class Edge { start, end };

    struct Range {
        double lower = 0;
        double upper = 0;
        bool operator==(const Range&) const = default;
    };

    // The only speeds a section may be given.
    static constexpr double speeds[] = {0.5, 1.0, 1.5, 2.0, 4.0};
    // A split leaves both parts at least this long.
    static constexpr double splitMargin = 0.05;

    // Throws AppError::outputFinalizationFailed("Invalid recording duration") unless the duration
    // is finite and positive.
    explicit RecordingEdit(double duration);

    const std::vector<Section>& sections() const { return sections_; }
    const Range& range() const { return range_; }
    double duration() const { return duration_; }
    double minimumRange() const;
    bool canUndo() const { return !history_.empty(); }

    // The first section ending after t; the last one when none does.
    std::size_t index(double t) const;
    // Kept sections cut to the trim range, in time order.
    std::vector<Section> keptSections() const;
    double keptDuration() const;
    double outputDuration() const;
    // Includes what lies outside the trim range.
    double removedDuration() const;
    // Where source time t lands in the export.
    double resultTime(double t) const;
    // Where preview playback continues from source time t; nothing when playback is over.
    std::optional<double> playbackTime(double t) const;
    // What the export takes: the kept sections with the crop and the track levels (by track id).
    TrimSelection selection(const RecordingCrop& crop, const std::map<std::int32_t, RecordingAudioLevel>& audioLevels) const;

    void setRange(double start, double end);
    // One step of a trim-handle drag; the other handle never moves.
    void moveEdge(Edge edge, double t);
    // A drag between these two calls is one undo step.
    void beginRangeGesture();
    void endRangeGesture();

    void split(double t);
    // Never removes the last kept material inside the trim range.
    void toggleRemoval(double t);
    void setSpeed(double speed, double t);

    void undo();

    bool operator==(const RecordingEdit&) const = default;

private:
    struct Snapshot {
        std::vector<Section> sections;
        Range range;
        bool operator==(const Snapshot&) const = default;
    };

    Snapshot snapshot() const { return {sections_, range_}; }
    // Toggles removal when no speed is given.
    void change(double t, std::optional<double> speed);
    void cutAt(double t);
    void merge();

    double duration_;
    std::vector<Section> sections_;
    Range range_;
    std::vector<Snapshot> history_;
    std::optional<Snapshot> rangeGesture_;
};

}  // namespace yux

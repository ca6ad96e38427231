#pragma once

// The trim time line of a command's edit list. RecordingEdit keeps an undo snapshot per step and
// looks sections up one by one, which costs the square of the edit count; a command may list
// tens of thousands of edits, so they are replayed here with the same rules and outcome in
// about n log n steps.

#include <map>
#include <set>
#include <vector>

#include "model/recording_edit.hpp"

namespace yux::automation {

class AutomationEditTimeline {
public:
    using Section = RecordingEdit::Section;

    // The whole recording as one section, trimmed as RecordingEdit::setRange(start, end) trims;
    // throws what RecordingEdit(duration) throws.
    AutomationEditTimeline(double duration, double start, double end);

    // Each step acts as RecordingEdit's step of the same name; false when the step leaves the
    // sections as they were.
    bool split(double t);
    bool toggleRemoval(double t);
    bool setSpeed(double speed, double t);

    const RecordingEdit::Range& range() const { return range_; }
    std::vector<Section> sections() const;
    // Kept sections cut to the trim range, in time order.
    std::vector<Section> keptSections() const;

private:
    using Sections = std::map<double, Section>;

    Sections::iterator at(double t);
    bool change(double t, std::optional<double> speed);
    void cutAt(double t);
    // Joins every pair of neighbours that agree, given where such pairs may be.
    void merge(std::set<double> boundaries);
    bool keptInRange(const Section& section) const;
    Sections::iterator insert(const Section& section);
    void erase(Sections::iterator section);

    RecordingEdit::Range range_;
    // By start; contiguous from 0 to the duration.
    Sections sections_;
    // How many kept sections reach into the trim range.
    std::size_t keptInRange_ = 0;
    // Boundaries made since the last merge between neighbours that agree.
    std::set<double> unmerged_;
};

}  // namespace yux::automation

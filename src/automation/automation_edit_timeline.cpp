#include "automation/automation_edit_timeline.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace yux::automation {

AutomationEditTimeline::AutomationEditTimeline(double duration, double start, double end) {
    RecordingEdit trimmed(duration);
    trimmed.setRange(start, end);
    range_ = trimmed.range();
    insert(Section{0, duration, 1.0, true});
}

bool AutomationEditTimeline::keptInRange(const Section& section) const {
    return section.kept && std::max(section.start, range_.lower) < std::min(section.end, range_.upper);
}

AutomationEditTimeline::Sections::iterator AutomationEditTimeline::insert(const Section& section) {
    if (keptInRange(section)) ++keptInRange_;
    return sections_.emplace(section.start, section).first;
}

void AutomationEditTimeline::erase(Sections::iterator section) {
    if (keptInRange(section->second)) --keptInRange_;
    sections_.erase(section);
}

// The first section ending after t; the last one when none does.
AutomationEditTimeline::Sections::iterator AutomationEditTimeline::at(double t) {
    auto after = sections_.upper_bound(t);
    return after == sections_.begin() ? after : std::prev(after);
}

bool AutomationEditTimeline::split(double t) {
    if (!std::isfinite(t) || !(range_.lower < t && t < range_.upper)) return false;
    const auto found = at(t);
    const Section section = found->second;
    if (!(t - section.start >= RecordingEdit::splitMargin && section.end - t >= RecordingEdit::splitMargin)) return false;
    erase(found);
    insert(Section{section.start, t, section.speed, section.kept});
    insert(Section{t, section.end, section.speed, section.kept});
    unmerged_.insert(t);
    return true;
}

bool AutomationEditTimeline::toggleRemoval(double t) { return change(t, std::nullopt); }

bool AutomationEditTimeline::setSpeed(double speed, double t) {
    if (std::find(std::begin(RecordingEdit::speeds), std::end(RecordingEdit::speeds), speed) ==
        std::end(RecordingEdit::speeds))
        return false;
    return change(t, speed);
}

bool AutomationEditTimeline::change(double t, std::optional<double> speed) {
    if (!std::isfinite(t) || !(range_.lower <= t && t <= range_.upper)) return false;
    // A time on the upper edge picks the section that ends there.
    const double probe = std::min(t, std::nextafter(range_.upper, -std::numeric_limits<double>::infinity()));
    const Section target = at(probe)->second;
    if (speed) {
        if (target.speed == *speed) return false;
    } else if (target.kept && keptInRange_ == (keptInRange(target) ? 1u : 0u)) {
        // It holds all that is kept.
        return false;
    }
    cutAt(range_.lower);
    cutAt(range_.upper);
    const auto found = at(probe);
    Section changed = found->second;
    erase(found);
    if (speed) {
        changed.speed = *speed;
    } else {
        changed.kept = !changed.kept;
    }
    insert(changed);
    std::set<double> boundaries = std::move(unmerged_);
    unmerged_.clear();
    boundaries.insert(changed.start);
    boundaries.insert(changed.end);
    merge(std::move(boundaries));
    return true;
}

void AutomationEditTimeline::cutAt(double t) {
    const auto found = at(t);
    const Section section = found->second;
    if (!(section.start < t && t < section.end)) return;
    erase(found);
    insert(Section{section.start, t, section.speed, section.kept});
    insert(Section{t, section.end, section.speed, section.kept});
    unmerged_.insert(t);
}

void AutomationEditTimeline::merge(std::set<double> boundaries) {
    for (const double boundary : boundaries) {
        const auto next = sections_.find(boundary);
        if (next == sections_.end() || next == sections_.begin()) continue;
        const auto previous = std::prev(next);
        if (previous->second.kept != next->second.kept || previous->second.speed != next->second.speed) continue;
        Section joined = previous->second;
        joined.end = next->second.end;
        erase(next);
        erase(previous);
        insert(joined);
    }
}

std::vector<AutomationEditTimeline::Section> AutomationEditTimeline::sections() const {
    std::vector<Section> list;
    list.reserve(sections_.size());
    for (const auto& entry : sections_) list.push_back(entry.second);
    return list;
}

std::vector<AutomationEditTimeline::Section> AutomationEditTimeline::keptSections() const {
    std::vector<Section> kept;
    for (const auto& entry : sections_) {
        const Section& section = entry.second;
        if (!section.kept) continue;
        const double start = std::max(section.start, range_.lower);
        const double end = std::min(section.end, range_.upper);
        if (start < end) kept.push_back({start, end, section.speed, true});
    }
    return kept;
}

}  // namespace yux::automation

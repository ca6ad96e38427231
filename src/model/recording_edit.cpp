#include "model/recording_edit.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/app_error.hpp"
#include "model/trim_selection.hpp"

namespace yux {

namespace {

// The trim range never gets shorter than this (or than the whole recording, if shorter).
constexpr double kMinimumRangeSeconds = 0.5;
// Playback skips a kept section that ends within this of the current time.
constexpr double kPlaybackLookAhead = 0.001;

}  // namespace

RecordingEdit::RecordingEdit(double duration) : duration_(duration) {
    if (!std::isfinite(duration) || !(duration > 0)) {
        throw AppError::outputFinalizationFailed("Invalid recording duration");
    }
    sections_ = {Section{0, duration, 1.0, true}};
    range_ = {0, duration};
}

double RecordingEdit::minimumRange() const { return std::min(duration_, kMinimumRangeSeconds); }

std::size_t RecordingEdit::index(double t) const {
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        if (sections_[i].end > t) return i;
    }
    return sections_.size() - 1;
}

std::vector<RecordingEdit::Section> RecordingEdit::keptSections() const {
    std::vector<Section> kept;
    for (const auto& section : sections_) {
        if (!section.kept) continue;
        double start = std::max(section.start, range_.lower);
        double end = std::min(section.end, range_.upper);
        if (start < end) kept.push_back({start, end, section.speed, true});
    }
    return kept;
}

double RecordingEdit::keptDuration() const {
    double total = 0;
    for (const auto& section : keptSections()) total += section.duration();
    return total;
}

double RecordingEdit::outputDuration() const {
    double total = 0;
    for (const auto& section : keptSections()) total += section.duration() / section.speed;
    return total;
}

double RecordingEdit::removedDuration() const { return duration_ - keptDuration(); }

double RecordingEdit::resultTime(double t) const {
    double total = 0;
    for (const auto& section : keptSections()) {
        total += std::max(0.0, std::min(section.end, t) - section.start) / section.speed;
    }
    return total;
}

std::optional<double> RecordingEdit::playbackTime(double t) const {
    for (const auto& section : keptSections()) {
        if (section.end > t + kPlaybackLookAhead) return section.start <= t ? t : section.start;
    }
    return std::nullopt;
}

TrimSelection RecordingEdit::selection(const RecordingCrop& crop,
                                       const std::map<std::int32_t, RecordingAudioLevel>& audioLevels) const {
    return {keptSections(), crop, audioLevels};
}

void RecordingEdit::setRange(double start, double end) {
    if (!std::isfinite(start) || !std::isfinite(end)) return;
    const double m = minimumRange();
    const double lower = std::max(std::min(start, duration_ - m), 0.0);
    const double upper = std::max(std::min(end, duration_), lower + m);
    const Range next{lower, upper};
    if (next == range_) return;
    if (!rangeGesture_) history_.push_back(snapshot());
    range_ = next;
}

void RecordingEdit::moveEdge(Edge edge, double t) {
    if (!std::isfinite(t)) return;
    const double m = minimumRange();
    if (edge == Edge::start) {
        setRange(std::min(t, range_.upper - m), range_.upper);
    } else {
        setRange(range_.lower, std::max(t, range_.lower + m));
    }
}

void RecordingEdit::beginRangeGesture() { rangeGesture_ = snapshot(); }

void RecordingEdit::endRangeGesture() {
    if (rangeGesture_ && rangeGesture_->range != range_) history_.push_back(*rangeGesture_);
    rangeGesture_.reset();
}

void RecordingEdit::split(double t) {
    if (!std::isfinite(t) || !(range_.lower < t && t < range_.upper)) return;
    const std::size_t i = index(t);
    const Section section = sections_[i];
    if (!(t - section.start >= splitMargin && section.end - t >= splitMargin)) return;
    history_.push_back(snapshot());
    sections_[i].end = t;
    sections_.insert(sections_.begin() + static_cast<std::ptrdiff_t>(i) + 1, Section{t, section.end, section.speed, section.kept});
}

void RecordingEdit::toggleRemoval(double t) { change(t, std::nullopt); }

void RecordingEdit::setSpeed(double speed, double t) {
    if (std::find(std::begin(speeds), std::end(speeds), speed) == std::end(speeds)) return;
    change(t, speed);
}

void RecordingEdit::change(double t, std::optional<double> speed) {
    if (!std::isfinite(t) || !(range_.lower <= t && t <= range_.upper)) return;
    // A time on the upper edge picks the section that ends there.
    const double probe = std::min(t, std::nextafter(range_.upper, -std::numeric_limits<double>::infinity()));
    const Section target = sections_[index(probe)];
    if (speed) {
        if (target.speed == *speed) return;
    } else if (target.kept) {
        const auto kept = keptSections();
        const bool holdsAllKept = std::all_of(kept.begin(), kept.end(), [&](const Section& section) {
            return section.start >= target.start && section.end <= target.end;
        });
        if (holdsAllKept) return;
    }
    history_.push_back(snapshot());
    // A change never reaches outside the trim range.
    cutAt(range_.lower);
    cutAt(range_.upper);
    Section& changed = sections_[index(probe)];
    if (speed) {
        changed.speed = *speed;
    } else {
        changed.kept = !changed.kept;
    }
    merge();
}

void RecordingEdit::cutAt(double t) {
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        Section& section = sections_[i];
        if (section.start < t && t < section.end) {
            Section tail{t, section.end, section.speed, section.kept};
            section.end = t;
            sections_.insert(sections_.begin() + static_cast<std::ptrdiff_t>(i) + 1, tail);
            return;
        }
    }
}

void RecordingEdit::merge() {
    std::vector<Section> merged;
    for (const auto& section : sections_) {
        if (!merged.empty() && merged.back().kept == section.kept && merged.back().speed == section.speed) {
            merged.back().end = section.end;
        } else {
            merged.push_back(section);
        }
    }
    sections_ = std::move(merged);
}

void RecordingEdit::undo() {
    if (history_.empty()) return;
    sections_ = std::move(history_.back().sections);
    range_ = history_.back().range;
    history_.pop_back();
}

}  // namespace yux

#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "model/recording_crop.hpp"
#include "model/recording_edit.hpp"
#include "model/recording_source.hpp"

namespace yux {

// What the user chose to export: the stretches of the source in edit order, the crop, and the
// level of each audio track by track id (tracks without an entry have no level set).
struct TrimSelection {
    std::vector<RecordingEdit::Section> sections;
    RecordingCrop crop;
    std::map<std::int32_t, RecordingAudioLevel> audioLevels;

    TrimSelection() = default;
    TrimSelection(std::vector<RecordingEdit::Section> sections, RecordingCrop crop,
                  std::map<std::int32_t, RecordingAudioLevel> audioLevels)
        : sections(std::move(sections)), crop(std::move(crop)), audioLevels(std::move(audioLevels)) {}
    // One kept section at speed 1, the whole frame, no levels.
    TrimSelection(double startSeconds, double endSeconds)
        : sections{RecordingEdit::Section{startSeconds, endSeconds, 1.0, true}} {}

    // The first section's start and the last section's end; 0 without sections.
    double startSeconds() const { return sections.empty() ? 0 : sections.front().start; }
    double endSeconds() const { return sections.empty() ? 0 : sections.back().end; }
    // Source time used, over every section whatever its kept flag.
    double sourceDurationSeconds() const;
    // Length of the exported result: each section's source time divided by its speed.
    double durationSeconds() const;

    bool operator==(const TrimSelection&) const = default;
};

}  // namespace yux

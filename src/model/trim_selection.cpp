#include "model/trim_selection.hpp"

namespace yux {

double TrimSelection::sourceDurationSeconds() const {
    double total = 0;
    for (const auto& section : sections) total += section.end - section.start;
    return total;
}

double TrimSelection::durationSeconds() const {
    double total = 0;
    for (const auto& section : sections) total += (section.end - section.start) / section.speed;
    return total;
}

}  // namespace yux

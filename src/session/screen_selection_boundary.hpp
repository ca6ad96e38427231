#pragma once

#include <variant>
#include <vector>

#include <QCoroTask>

#include "model/app_error.hpp"
#include "model/capture_target.hpp"
#include "model/display_bounds.hpp"

namespace yux {

// How one interactive selection ended.
struct ScreenSelectionOutcome {
    struct Failed {
        AppError error;
        bool operator==(const Failed&) const = default;
    };
    struct Confirmed {
        RecordingSelection selection;
        bool operator==(const Confirmed&) const = default;
    };
    // The preference to keep: the one passed in, or as the user left it on the overlay.
    struct Cancelled {
        CapturePreference preference;
        bool operator==(const Cancelled&) const = default;
    };

    std::variant<Failed, Confirmed, Cancelled> value;

    static ScreenSelectionOutcome failed(AppError error) { return {Failed{std::move(error)}}; }
    static ScreenSelectionOutcome confirmed(RecordingSelection selection) { return {Confirmed{std::move(selection)}}; }
    static ScreenSelectionOutcome cancelled(CapturePreference preference) { return {Cancelled{std::move(preference)}}; }

    bool operator==(const ScreenSelectionOutcome&) const = default;
};

// What the recording tray reports.
enum class RecordingOverlayAction { stopRequested, closed };

// The selection overlay and the recording tray, as the session drives them.
class ScreenSelectionBoundary {
public:
    virtual ~ScreenSelectionBoundary() = default;

    // Returns exactly once per call.
    virtual QCoro::Task<ScreenSelectionOutcome> startSelection(CapturePreference initialPreference,
                                                               std::vector<DisplayBounds> displays) = 0;
    // A pending startSelection returns soon afterwards.
    virtual QCoro::Task<void> cancelSelection() = 0;
    virtual QCoro::Task<void> showRecordingControls() = 0;
    virtual QCoro::Task<void> showStoppingControls() = 0;
    // Harmless when nothing is shown.
    virtual QCoro::Task<void> hideOverlay() = 0;
    // Waits for the tray's next action; `closed` once no further action can come.
    virtual QCoro::Task<RecordingOverlayAction> nextRecordingOverlayAction() = 0;
};

}  // namespace yux

#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QPointer>
#include <QUuid>

#include "selection/selection_overlay_presenter.hpp"
#include "session/screen_selection_boundary.hpp"

namespace yux {

// The session's selection served by the on-screen overlay: one presenter at a time, kept from
// a confirmed selection through the recording controls until the overlay is hidden.
class InteractiveScreenSelection : public ScreenSelectionBoundary {
public:
    // `escapeKey` is used for every selection; without one each presenter gets a live one.
    InteractiveScreenSelection(ScreenSelectionGeometry geometry, std::unique_ptr<GlobalHotKey> escapeKey,
                               CaptureInputsController* inputs = nullptr,
                               CameraOverlayPresenter* cameraOverlay = nullptr,
                               SelectionOverlayServices services = {});
    ~InteractiveScreenSelection() override;

    QCoro::Task<ScreenSelectionOutcome> startSelection(CapturePreference initialPreference,
                                                       std::vector<DisplayBounds> displays) override;
    QCoro::Task<void> cancelSelection() override;
    QCoro::Task<void> showRecordingControls() override;
    QCoro::Task<void> showStoppingControls() override;
    QCoro::Task<void> hideOverlay() override;
    QCoro::Task<RecordingOverlayAction> nextRecordingOverlayAction() override;

    SelectionOverlayPresenter* activePresenter() const { return activePresenter_.get(); }
    GlobalHotKey* escapeKey() const { return suppliedEscapeKey_.get(); }

private:
    ScreenSelectionGeometry geometry_;
    std::unique_ptr<GlobalHotKey> suppliedEscapeKey_;
    QPointer<CaptureInputsController> inputs_;
    QPointer<CameraOverlayPresenter> cameraOverlay_;
    SelectionOverlayServices services_;
    std::unique_ptr<SelectionOverlayPresenter> activePresenter_;
    std::optional<QUuid> requestID_;
};

}  // namespace yux

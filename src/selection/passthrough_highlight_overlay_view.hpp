#pragma once

#include <vector>

#include <QPointer>
#include <QWidget>

#include "selection/capture_target_outline.hpp"
#include "selection/overlay_painting.hpp"
#include "selection/selection_overlay_view_model.hpp"

namespace yux {

enum class PassthroughHighlightOverlayMode { recording, stopping };

// The click-through highlight while recording: the outside dimmed (only with translucency) and
// the captured region outlined in red, fainter while stopping.
class PassthroughHighlightOverlayView : public QWidget {
    Q_OBJECT

public:
    PassthroughHighlightOverlayView(SelectionOverlayViewModel* model, PassthroughHighlightOverlayMode mode,
                                    OverlayPaintMode paintMode, QWidget* parent = nullptr);
    void setMode(PassthroughHighlightOverlayMode mode);
    PassthroughHighlightOverlayMode mode() const { return mode_; }
    void setPaintMode(OverlayPaintMode mode);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<CaptureTargetOutline> outlines() const;
    void updateMask();

    QPointer<SelectionOverlayViewModel> model_;
    PassthroughHighlightOverlayMode mode_;
    OverlayPaintMode paintMode_;
};

}  // namespace yux

#pragma once

#include <memory>

#include <QImage>
#include <QWidget>

#include "selection/selection_overlay_view_model.hpp"

namespace yux::testing {

// A selection over one 800 × 600 display whose area is `rect`, as the recording views see it.
inline std::unique_ptr<SelectionOverlayViewModel> areaModel(CaptureRect rect) {
    const DisplayBounds display{DisplayID{"1"}, 0, 0, 800, 600};
    CapturePreference preference;
    preference.lastArea = SelectedCaptureArea{display.displayID, rect};
    return std::make_unique<SelectionOverlayViewModel>(std::vector<DisplayBounds>{display}, preference,
                                                       DesktopApplicationCatalog::create_null({}));
}

// The widget and its children as painted, over transparency.
inline QImage rendered(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

}  // namespace yux::testing

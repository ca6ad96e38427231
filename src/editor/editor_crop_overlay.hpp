#pragma once

#include <memory>
#include <optional>

#include <QWidget>

#include "model/geometry.hpp"

namespace yux {

class ExportEditorSession;

// The crop over the preview picture: dims the outside; while editing, moves by its frame and
// resizes by its four corners.
class EditorCropOverlay : public QWidget {
    Q_OBJECT

public:
    static constexpr double kHandleSize = 12;

    explicit EditorCropOverlay(std::shared_ptr<ExportEditorSession> model, QWidget* parent = nullptr);

    // The crop in the overlay's points.
    QRectF viewRect() const;
    bool isShown() const;
    // Painting is cut at the rounded corners of `frame`, an ancestor.
    void setCornerFrame(const QWidget* frame, qreal radius) {
        cornerFrame_ = frame;
        cornerRadius_ = radius;
    }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::shared_ptr<ExportEditorSession> model_;
    // What the press hit: a corner 0…3 (top-left, top-right, bottom-left, bottom-right) or the frame (-1).
    std::optional<int> grip_;
    QPointF pressAt_;
    // The crop's pixel rectangle when the drag began; every step starts from it.
    std::optional<Rect> dragStart_;
    const QWidget* cornerFrame_ = nullptr;
    qreal cornerRadius_ = 0;
};

}  // namespace yux

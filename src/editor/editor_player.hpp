#pragma once

#include <memory>

#include <QImage>
#include <QWidget>

#include "platform/media/preview_player.hpp"

namespace yux {

// The preview picture: the player's newest picture, aspect-fit on the backdrop, no controls.
class EditorPlayer : public QWidget {
    Q_OBJECT

public:
    explicit EditorPlayer(std::shared_ptr<platform::PreviewPlayer> player, QWidget* parent = nullptr);
    ~EditorPlayer() override;

    const QImage& picture() const { return picture_; }
    // Where a picture of `size` lands in `area`: centred, aspect kept.
    static QRectF fit(QSizeF size, QRectF area);
    // Painting is cut at the rounded corners of `frame`, an ancestor.
    void setCornerFrame(const QWidget* frame, qreal radius) {
        cornerFrame_ = frame;
        cornerRadius_ = radius;
    }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void takePicture();

    std::shared_ptr<platform::PreviewPlayer> player_;
    QImage picture_;
    const QWidget* cornerFrame_ = nullptr;
    qreal cornerRadius_ = 0;
};

}  // namespace yux

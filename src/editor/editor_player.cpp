#include "editor/editor_player.hpp"

#include <QPainter>
#include <QPointer>

#include "editor/editor_style.hpp"
#include "platform/async/main_thread.hpp"

namespace yux {

EditorPlayer::EditorPlayer(std::shared_ptr<platform::PreviewPlayer> player, QWidget* parent)
    : QWidget(parent), player_(std::move(player)) {
    QPointer<EditorPlayer> self(this);
    // The listener runs on a worker thread: hop to the main thread before touching the view.
    player_->setPictureListener([self] {
        platform::postToMain([self] {
            if (self) self->takePicture();
        });
    });
}

EditorPlayer::~EditorPlayer() { player_->setPictureListener({}); }

QRectF EditorPlayer::fit(QSizeF size, QRectF area) {
    if (size.isEmpty() || area.isEmpty()) return {};
    QSizeF fitted = size.scaled(area.size(), Qt::KeepAspectRatio);
    return {area.center().x() - fitted.width() / 2, area.center().y() - fitted.height() / 2, fitted.width(),
            fitted.height()};
}

void EditorPlayer::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    player_->setViewSize(width() * devicePixelRatio(), height() * devicePixelRatio());
}

void EditorPlayer::takePicture() {
    auto picture = player_->takeNewestPicture();
    if (!picture || !picture->isValid()) return;
    // B, G, R, A bytes are ARGB32 words on this little-endian machine; copy out of the buffer.
    QImage image(picture->data(), picture->width(), picture->height(), static_cast<qsizetype>(picture->stride()),
                 QImage::Format_ARGB32);
    picture_ = image.copy();
    update();
}

void EditorPlayer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::SmoothPixmapTransform | QPainter::Antialiasing);
    EditorStyle::clipToRoundedFrame(painter, this, cornerFrame_, cornerRadius_);
    painter.fillRect(rect(), EditorStyle::previewBackdrop());
    if (!picture_.isNull()) painter.drawImage(fit(picture_.size(), rect()), picture_);
}

}  // namespace yux

#pragma once

#include <QWidget>

class QVariantAnimation;

namespace yux::platform {

// An indeterminate progress indicator: a ring of spokes whose bright spoke goes round while
// the spinner is visible.
class ActivitySpinner : public QWidget {
    Q_OBJECT

public:
    explicit ActivitySpinner(int diameter, QWidget* parent = nullptr);
    bool isSpinning() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QVariantAnimation* turn_;
    int step_ = 0;
};

}  // namespace yux::platform

#pragma once

#include <QString>
#include <QWidget>

#include "capture/permission_gate_controller.hpp"

class QLabel;
class QVariantAnimation;

namespace yux {

// The gate's green confirmation: "Access enabled" and the gate's message, over the whole window.
class PermissionGrantedView : public QWidget {
    Q_OBJECT

public:
    explicit PermissionGrantedView(const QString& message, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The content of the permission gate's window: the request (why, two numbered steps, the
// buttons) or the green confirmation, with a close button in the corner over both. Exactly
// kWidth wide and as high as its content. It reads the gate's state and only calls actions.
class PermissionGateView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 440;

    PermissionGateView(const PermissionGateContent& content, const PermissionGateViewState& state,
                       PermissionGateActions actions, bool reduceMotion, QWidget* parent = nullptr);

    // What the gate says as a whole (also its accessible name).
    QString statusLabel() const;
    // The confirmation is the one shown (or fading in).
    bool showsConfirmation() const { return showsConfirmation_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* makeRequestView(bool reduceMotion);
    QWidget* makeStepRow(int number, QWidget* content);
    void showState();
    void crossFade();
    void fitHeight();

    PermissionGateContent content_;
    const PermissionGateViewState& state_;
    PermissionGateActions actions_;
    QWidget* request_ = nullptr;
    QWidget* granted_ = nullptr;
    QWidget* corner_ = nullptr;
    QWidget* preparing_ = nullptr;
    QLabel* unavailable_ = nullptr;
    QVariantAnimation* fade_ = nullptr;
    bool showsConfirmation_ = false;
};

}  // namespace yux

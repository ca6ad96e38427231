#include "capture/permission_gate_view.hpp"

#include <QAbstractButton>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>

#include "platform/desktop/activity_spinner.hpp"
#include "platform/desktop/symbol_painter.hpp"
#include "platform/desktop/view_style.hpp"

namespace yux {

using platform::Symbol;
using platform::SymbolPainter;
using platform::SymbolView;
using platform::pixelFont;

namespace {

// Sizes in logical pixels.
constexpr int kPadding = 32;
constexpr int kItemSpacing = 18;
constexpr int kHeadingSpacing = 6;
constexpr int kStepSpacing = 16;
constexpr int kBadgeSpacing = 12;
constexpr int kBadgeSide = 22;
constexpr int kStepLineSpacing = 8;
constexpr int kLargeControlHeight = 32;
constexpr int kCornerInset = 12;
constexpr int kCornerSymbol = 12;
constexpr int kCornerPadding = 8;
constexpr int kGrantedPadding = 40;
constexpr int kGrantedSpacing = 14;
// The small caption font of the step line above the title.
constexpr int kCaptionSize = 10;
// The confirmation's fade, and one press-and-release of the pulsing hand.
constexpr int kFadeMilliseconds = 250;
constexpr int kHintPulseMilliseconds = 1600;
// The hand at the depth of its pulse.
constexpr qreal kHintPressedScale = 0.85;
constexpr qreal kHintPressedOpacity = 0.65;

// Content texts are shown as they are: never read as markup.
QLabel* makeLabel(const QString& text, int pixels, QFont::Weight weight, const QColor& colour, Qt::Alignment alignment,
                  QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(pixelFont(pixels, weight));
    label->setWordWrap(true);
    label->setAlignment(alignment);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}


// The accent disc with a step's number.
class StepBadge : public QWidget {
public:
    StepBadge(int number, QWidget* parent) : QWidget(parent), number_(number) { setFixedSize(kBadgeSide, kBadgeSide); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Highlight));
        painter.drawEllipse(rect());
        painter.setPen(Qt::white);
        painter.setFont(pixelFont(12, QFont::Bold));
        painter.drawText(rect(), Qt::AlignCenter, QString::number(number_));
    }

private:
    int number_;
};

// Buttons of the gate, painted alike on every desktop.
class GateButton : public QAbstractButton {
public:
    enum class Look { prominent, bordered, plain };

    GateButton(const QString& text, Look look, QWidget* parent) : QAbstractButton(parent), look_(look) {
        setText(text);
        setFont(pixelFont(13, look == Look::prominent ? QFont::DemiBold : QFont::Normal));
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(look == Look::plain ? QSizePolicy::Fixed : QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    // A hand after the text that pulses like a finger tapping, unless motion is to be reduced.
    void addClickHint(bool reduceMotion) {
        hint_ = true;
        if (reduceMotion) return;
        pulse_ = new QVariantAnimation(this);
        pulse_->setObjectName("click-hint-pulse");
        pulse_->setStartValue(0.0);
        pulse_->setEndValue(1.0);
        pulse_->setDuration(kHintPulseMilliseconds);
        pulse_->setLoopCount(-1);
        connect(pulse_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            // Eases in and out of the press, then back out of it.
            pressed_ = (1 - std::cos(2 * M_PI * value.toDouble())) / 2;
            update();
        });
    }

    QSize sizeHint() const override {
        QFontMetrics metrics(font());
        int width = metrics.horizontalAdvance(text()) + 2 * horizontalPadding();
        if (hint_) width += hintSide() + hintSpacing();
        return {width, look_ == Look::plain ? metrics.height() + 8 : kLargeControlHeight};
    }

protected:
    void showEvent(QShowEvent* event) override {
        QAbstractButton::showEvent(event);
        if (pulse_ != nullptr) pulse_->start();
    }
    void hideEvent(QHideEvent* event) override {
        if (pulse_ != nullptr) pulse_->stop();
        QAbstractButton::hideEvent(event);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPalette& colours = palette();
        QColor ink = colours.color(QPalette::ButtonText);
        QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        switch (look_) {
            case Look::prominent: {
                QColor fill = colours.color(QPalette::Active, QPalette::Highlight);
                if (isDown()) fill = fill.darker(115);
                if (!isEnabled()) fill.setAlphaF(0.45);
                painter.setPen(Qt::NoPen);
                painter.setBrush(fill);
                painter.drawRoundedRect(frame, 6, 6);
                ink = colours.color(QPalette::Active, QPalette::HighlightedText);
                break;
            }
            case Look::bordered: {
                QColor fill = colours.color(QPalette::Button);
                if (isDown()) fill = fill.darker(110);
                painter.setPen(QPen(colours.color(QPalette::Mid), 1));
                painter.setBrush(fill);
                painter.drawRoundedRect(frame, 6, 6);
                break;
            }
            case Look::plain:
                ink = platform::secondaryColour(colours);
                if (isDown()) ink = colours.color(QPalette::WindowText);
                break;
        }
        // A disabled prominent button shows by its paler fill; its text stays readable.
        if (!isEnabled() && look_ != Look::prominent) ink.setAlphaF(ink.alphaF() * 0.6);
        painter.setPen(ink);
        painter.setFont(font());
        QFontMetrics metrics(font());
        const int textWidth = metrics.horizontalAdvance(text());
        const int contentWidth = textWidth + (hint_ ? hintSpacing() + hintSide() : 0);
        const int left = (width() - contentWidth) / 2;
        painter.drawText(QRect(left, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, this->text());
        if (hint_) {
            const qreal scale = 1 - (1 - kHintPressedScale) * pressed_;
            const qreal side = hintSide() * scale;
            const QPointF centre(left + textWidth + hintSpacing() + hintSide() / 2.0, height() / 2.0);
            painter.setOpacity(1 - (1 - kHintPressedOpacity) * pressed_);
            SymbolPainter::paint(painter, Symbol::handTapFill,
                                 QRectF(centre.x() - side / 2, centre.y() - side / 2, side, side), ink);
        }
    }

private:
    int horizontalPadding() const { return look_ == Look::plain ? 6 : 14; }
    static int hintSide() { return 18; }
    static int hintSpacing() { return 8; }

    Look look_;
    bool hint_ = false;
    QVariantAnimation* pulse_ = nullptr;
    qreal pressed_ = 0;
};

// The round close button in the top trailing corner.
class CornerButton : public QAbstractButton {
public:
    explicit CornerButton(QWidget* parent) : QAbstractButton(parent) {
        const int side = kCornerSymbol + 2 * kCornerPadding;
        setFixedSize(side, side);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(isDown() ? 0.2 : 0.1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawEllipse(rect());
        QRectF mark(kCornerPadding, kCornerPadding, kCornerSymbol, kCornerSymbol);
        SymbolPainter::paint(painter, Symbol::xmark, mark, palette().color(QPalette::WindowText));
    }
};

}  // namespace

PermissionGateView::PermissionGateView(const PermissionGateContent& content, const PermissionGateViewState& state,
                                       PermissionGateActions actions, bool reduceMotion, QWidget* parent)
    : QWidget(parent), content_(content), state_(state), actions_(std::move(actions)) {
    setObjectName("permission-gate");
    setFixedWidth(kWidth);
    setAutoFillBackground(true);
    auto* stack = new QGridLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    request_ = makeRequestView(reduceMotion);
    granted_ = new PermissionGrantedView(QString::fromStdString(content_.enabledMessage), this);
    // Both share one place; the hidden one keeps its room, so the window does not jump.
    for (QWidget* child : {request_, granted_}) {
        stack->addWidget(child, 0, 0);
        QSizePolicy policy = child->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        child->setSizePolicy(policy);
        child->setGraphicsEffect(new QGraphicsOpacityEffect(child));
        child->graphicsEffect()->setEnabled(false);
    }

    auto* corner = new CornerButton(this);
    corner->setObjectName("permission-gate-close");
    const bool skips = static_cast<bool>(actions_.skip);
    corner->setAccessibleName(skips ? tr("Skip for now and close") : tr("Close setup and quit"));
    corner->setToolTip(skips ? tr("Skip for now") : tr("Close setup and quit"));
    connect(corner, &QAbstractButton::clicked, this, [this, skips] { (skips ? actions_.skip : actions_.quit)(); });
    corner_ = corner;

    fade_ = new QVariantAnimation(this);
    fade_->setStartValue(0.0);
    fade_->setEndValue(1.0);
    fade_->setDuration(kFadeMilliseconds);
    fade_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(fade_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        auto* incoming = showsConfirmation_ ? granted_ : request_;
        auto* outgoing = showsConfirmation_ ? request_ : granted_;
        static_cast<QGraphicsOpacityEffect*>(incoming->graphicsEffect())->setOpacity(value.toDouble());
        static_cast<QGraphicsOpacityEffect*>(outgoing->graphicsEffect())->setOpacity(1 - value.toDouble());
    });
    connect(fade_, &QVariantAnimation::finished, this, [this] {
        (showsConfirmation_ ? request_ : granted_)->hide();
        request_->graphicsEffect()->setEnabled(false);
        granted_->graphicsEffect()->setEnabled(false);
    });

    connect(&state_, &PermissionGateViewState::isGrantedChanged, this, &PermissionGateView::crossFade);
    connect(&state_, &PermissionGateViewState::isPreparingChanged, this, &PermissionGateView::showState);
    connect(&state_, &PermissionGateViewState::settingsUnavailableChanged, this, &PermissionGateView::showState);
    showsConfirmation_ = state_.isGranted();
    (showsConfirmation_ ? request_ : granted_)->hide();
    showState();
}

QString PermissionGateView::statusLabel() const {
    if (state_.isGranted()) return tr("Access enabled");
    if (state_.settingsUnavailable()) return unavailable_->text();
    return tr("%1 access required").arg(QString::fromStdString(content_.permissionName));
}

QWidget* PermissionGateView::makeRequestView(bool reduceMotion) {
    auto* view = new QWidget(this);
    view->setObjectName("permission-gate-request");
    view->setAutoFillBackground(true);
    auto* items = new QVBoxLayout(view);
    items->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    items->setSpacing(kItemSpacing);
    const QPalette& colours = palette();

    items->addWidget(new SymbolView(Symbol::checkmarkShieldFill, 52, colours.color(QPalette::Highlight), view), 0,
                     Qt::AlignHCenter);

    auto* heading = new QVBoxLayout();
    heading->setSpacing(kHeadingSpacing);
    if (content_.progress) {
        auto* progress = makeLabel(QString::fromStdString(*content_.progress), kCaptionSize, QFont::Normal, platform::secondaryColour(colours),
                                   Qt::AlignCenter, view);
        progress->setObjectName("permission-gate-progress");
        heading->addWidget(progress);
    }
    auto* title = makeLabel(QString::fromStdString(content_.title), 20, QFont::Bold, colours.color(QPalette::WindowText),
                            Qt::AlignCenter, view);
    title->setObjectName("permission-gate-title");
    heading->addWidget(title);
    auto* explanation = makeLabel(QString::fromStdString(content_.explanation), 13, QFont::Normal, platform::secondaryColour(colours),
                                  Qt::AlignCenter, view);
    explanation->setObjectName("permission-gate-explanation");
    heading->addWidget(explanation);
    items->addLayout(heading);

    auto* steps = new QVBoxLayout();
    steps->setSpacing(kStepSpacing);
    const QString permission = QString::fromStdString(content_.permissionName);
    GateButton* first = nullptr;
    if (actions_.requestAccess) {
        first = new GateButton(tr("Enable %1").arg(permission), GateButton::Look::prominent, view);
        first->setObjectName("permission-gate-request-access");
        first->addClickHint(reduceMotion);
        connect(first, &QAbstractButton::clicked, this, [this] { actions_.requestAccess(); });
        connect(&state_, &PermissionGateViewState::isPreparingChanged, first,
                [this, first] { first->setEnabled(!state_.isPreparing()); });
        first->setEnabled(!state_.isPreparing());
    } else {
        first = new GateButton(tr("Open Settings"), GateButton::Look::prominent, view);
        first->setObjectName("permission-gate-open-settings");
        connect(first, &QAbstractButton::clicked, this, [this] { actions_.openSettings(); });
    }
    steps->addWidget(makeStepRow(1, first));

    auto* second = new QWidget(view);
    auto* lines = new QVBoxLayout(second);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(kStepLineSpacing);
    auto* give = makeLabel(tr("Give “%1” access:").arg(QString::fromStdString(content_.appName)), 13, QFont::Normal,
                           colours.color(QPalette::WindowText), Qt::AlignLeft, second);
    give->setObjectName("permission-gate-step-two");
    lines->addWidget(give);
    auto* instructions = makeLabel(QString::fromStdString(content_.instructions), 12, QFont::Normal, platform::secondaryColour(colours),
                                   Qt::AlignLeft, second);
    instructions->setObjectName("permission-gate-instructions");
    lines->addWidget(instructions);
    steps->addWidget(makeStepRow(2, second));
    items->addLayout(steps);

    preparing_ = new QWidget(view);
    preparing_->setObjectName("permission-gate-preparing");
    auto* preparingRow = new QHBoxLayout(preparing_);
    preparingRow->setContentsMargins(0, 0, 0, 0);
    preparingRow->setSpacing(8);
    preparingRow->addStretch();
    preparingRow->addWidget(new platform::ActivitySpinner(16, preparing_));
    auto* confirming = makeLabel(tr("Confirming access…"), 13, QFont::Normal, platform::secondaryColour(colours), Qt::AlignLeft, preparing_);
    confirming->setWordWrap(false);
    preparingRow->addWidget(confirming);
    preparingRow->addStretch();
    preparing_->setAccessibleName(confirming->text());
    items->addWidget(preparing_);

    unavailable_ = makeLabel(tr("Could not open Settings. Open your desktop's settings manually."), 12, QFont::Normal,
                             platform::systemRed(), Qt::AlignCenter, view);
    unavailable_->setObjectName("permission-gate-settings-unavailable");
    items->addWidget(unavailable_);

    if (actions_.skip) {
        auto* skip = new GateButton(tr("Skip for now"), GateButton::Look::bordered, view);
        skip->setObjectName("permission-gate-skip");
        connect(skip, &QAbstractButton::clicked, this, [this] { actions_.skip(); });
        items->addWidget(skip);
    }
    auto* quit = new GateButton(tr("Quit"), GateButton::Look::plain, view);
    quit->setObjectName("permission-gate-quit");
    connect(quit, &QAbstractButton::clicked, this, [this] { actions_.quit(); });
    items->addWidget(quit, 0, Qt::AlignHCenter);
    return view;
}

QWidget* PermissionGateView::makeStepRow(int number, QWidget* content) {
    auto* row = new QWidget(content->parentWidget());
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kBadgeSpacing);
    layout->addWidget(new StepBadge(number, row), 0, Qt::AlignTop);
    content->setParent(row);
    layout->addWidget(content, 1, Qt::AlignTop);
    return row;
}

PermissionGrantedView::PermissionGrantedView(const QString& message, QWidget* parent) : QWidget(parent) {
    setObjectName("permission-gate-granted");
    auto* items = new QVBoxLayout(this);
    items->setContentsMargins(kGrantedPadding, kGrantedPadding, kGrantedPadding, kGrantedPadding);
    items->setSpacing(kGrantedSpacing);
    items->addStretch();
    items->addWidget(new SymbolView(Symbol::checkmarkCircleFill, 56, Qt::white, this), 0, Qt::AlignHCenter);
    auto* enabled = makeLabel(tr("Access enabled"), 22, QFont::Bold, Qt::white, Qt::AlignCenter, this);
    enabled->setAccessibleName(enabled->text());
    items->addWidget(enabled);
    QColor soft(Qt::white);
    soft.setAlphaF(0.9);
    auto* text = makeLabel(message, 14, QFont::Normal, soft, Qt::AlignCenter, this);
    text->setObjectName("permission-gate-enabled-message");
    items->addWidget(text);
    items->addStretch();
}

void PermissionGrantedView::paintEvent(QPaintEvent*) {
    // The confirmation's green, under the whole window.
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, QColor::fromRgbF(0.18f, 0.62f, 0.32f));
    gradient.setColorAt(1, QColor::fromRgbF(0.12f, 0.52f, 0.26f));
    painter.fillRect(rect(), gradient);
}

void PermissionGateView::showState() {
    preparing_->setVisible(state_.isPreparing());
    unavailable_->setVisible(state_.settingsUnavailable());
    setAccessibleName(statusLabel());
    fitHeight();
}

void PermissionGateView::crossFade() {
    const bool confirm = state_.isGranted();
    if (confirm == showsConfirmation_) return;
    showsConfirmation_ = confirm;
    auto* incoming = confirm ? granted_ : request_;
    auto* outgoing = confirm ? request_ : granted_;
    fade_->stop();
    for (QWidget* child : {incoming, outgoing}) child->graphicsEffect()->setEnabled(true);
    static_cast<QGraphicsOpacityEffect*>(incoming->graphicsEffect())->setOpacity(0);
    static_cast<QGraphicsOpacityEffect*>(outgoing->graphicsEffect())->setOpacity(1);
    incoming->show();
    outgoing->show();
    corner_->raise();
    fade_->start();
    showState();
}

void PermissionGateView::fitHeight() {
    auto* stack = layout();
    const int height = stack->hasHeightForWidth() ? stack->totalHeightForWidth(kWidth) : stack->totalSizeHint().height();
    setFixedHeight(height);
}

void PermissionGateView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    corner_->move(width() - kCornerInset - corner_->width(), kCornerInset);
    corner_->raise();
}

}  // namespace yux

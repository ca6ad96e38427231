#include "capture/capture_input_controls.hpp"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtDebug>

#include "platform/desktop/activity_spinner.hpp"
#include "platform/desktop/symbol_painter.hpp"
#include "platform/desktop/view_style.hpp"

namespace yux {

using platform::Symbol;
using platform::SymbolPainter;
using platform::pixelFont;
using platform::systemGreen;
using platform::systemOrange;

namespace {

// Sizes in logical pixels.
constexpr int kCompactSpacing = 8;
constexpr int kFullSpacing = 12;
constexpr int kPartSpacing = 4;
constexpr int kCompactPartSpacing = 1;
constexpr int kSwitchWidth = 32;
constexpr int kSwitchHeight = 18;
constexpr int kKnobInset = 2;
constexpr int kMeterHeight = 3;
constexpr int kCompactMeterWidth = 24;
constexpr int kMenuPadding = 4;
constexpr int kIconSide = 16;
// The compact shape sits in a 28-point row of the overlay's bars: its icon row, the 4-point gap
// and the 3-point meter fit in that height, and its icons leave the bar's label room for a size.
constexpr int kCompactRowHeight = 20;
constexpr int kCompactToggleWidth = 20;
constexpr int kCompactMenuWidth = 14;
constexpr int kCompactSignWidth = 13;
constexpr int kSpinnerSide = 12;
constexpr int kTitlePixels = 13;
constexpr int kCaptionPixels = 10;

Symbol symbolOf(CaptureInputKind kind) {
    return kind == CaptureInputKind::microphone ? Symbol::micFill : Symbol::videoFill;
}

QString titleOf(CaptureInputKind kind) {
    return kind == CaptureInputKind::microphone ? CaptureInputControls::tr("Microphone") : CaptureInputControls::tr("Camera");
}

QString nameOf(CaptureInputKind kind) { return QString::fromUtf8(textOf(kind).data(), static_cast<int>(textOf(kind).size())); }

const std::optional<std::string>& preferredID(const CaptureInputPreferences& preferences, CaptureInputKind kind) {
    return kind == CaptureInputKind::microphone ? preferences.microphoneDeviceID : preferences.cameraDeviceID;
}

// The row that switches one input: its icon and title, and a switch at the trailing end.
class ToggleRow : public QAbstractButton {
public:
    ToggleRow(CaptureInputsController& inputs, CaptureInputKind kind, QWidget* parent)
        : QAbstractButton(parent), inputs_(inputs), kind_(kind) {
        setCheckable(true);
        setText(titleOf(kind));
        setFont(pixelFont(kTitlePixels));
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override {
        return {kIconSide + 6 + fontMetrics().horizontalAdvance(text()) + 12 + kSwitchWidth,
                std::max(kSwitchHeight, fontMetrics().height()) + 6};
    }

protected:
    // The controller decides; a press only asks it.
    void nextCheckState() override {}
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled()) painter.setOpacity(0.45);
        const QColor ink = palette().color(QPalette::Active, QPalette::WindowText);
        const int middle = height() / 2;
        SymbolPainter::paint(painter, symbolOf(kind_), QRectF(0, middle - kIconSide / 2.0, kIconSide, kIconSide), ink);
        painter.setPen(ink);
        painter.setFont(font());
        const int textLeft = kIconSide + 6;
        painter.drawText(QRect(textLeft, 0, width() - textLeft - kSwitchWidth - 6, height()),
                         Qt::AlignVCenter | Qt::AlignLeft, fontMetrics().elidedText(text(), Qt::ElideRight,
                                                                                    width() - textLeft - kSwitchWidth - 6));
        const bool on = inputs_.enabled(kind_);
        const QRectF capsule(width() - kSwitchWidth, middle - kSwitchHeight / 2.0, kSwitchWidth, kSwitchHeight);
        painter.setPen(Qt::NoPen);
        painter.setBrush(on ? palette().color(QPalette::Active, QPalette::Highlight) : platform::secondaryColour(palette(), 0.3));
        painter.drawRoundedRect(capsule, kSwitchHeight / 2.0, kSwitchHeight / 2.0);
        const QRectF knobFrame(on ? capsule.right() - kSwitchHeight : capsule.left(), capsule.top(), kSwitchHeight,
                               kSwitchHeight);
        painter.setBrush(Qt::white);
        painter.drawEllipse(knobFrame.adjusted(kKnobInset, kKnobInset, -kKnobInset, -kKnobInset));
    }

private:
    CaptureInputsController& inputs_;
    CaptureInputKind kind_;
};

// The compact shape's switch: the kind's icon, green while the input is on.
class IconToggle : public QAbstractButton {
public:
    IconToggle(CaptureInputsController& inputs, CaptureInputKind kind, QWidget* parent)
        : QAbstractButton(parent), inputs_(inputs), kind_(kind) {
        setCheckable(true);
        setFixedSize(kCompactToggleWidth, kCompactRowHeight);
        // On an overlay the keyboard belongs to the overlay: Space must not toggle an input.
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void nextCheckState() override {}
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (!isEnabled()) painter.setOpacity(0.45);
        const QRectF icon((width() - kIconSide) / 2.0, (height() - kIconSide) / 2.0, kIconSide, kIconSide);
        SymbolPainter::paint(painter, symbolOf(kind_), icon,
                             inputs_.enabled(kind_) ? systemGreen() : platform::secondaryColour(palette()));
    }

private:
    CaptureInputsController& inputs_;
    CaptureInputKind kind_;
};

// A device menu's button: the chosen device's name (cut in the middle when it is too long)
// in a thin outline, or only the menu's indicator.
class DeviceMenuButton : public QToolButton {
public:
    DeviceMenuButton(bool titled, QWidget* parent) : QToolButton(parent), titled_(titled) {
        setPopupMode(QToolButton::InstantPopup);
        setFont(pixelFont(kTitlePixels));
        setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override {
        if (!titled_) return {kCompactMenuWidth, kCompactRowHeight};
        return {2 * kMenuPadding + fontMetrics().horizontalAdvance(text()) + 4 + chevron(),
                2 * kMenuPadding + fontMetrics().height()};
    }
    QSize minimumSizeHint() const override {
        if (!titled_) return sizeHint();
        return {2 * kMenuPadding + fontMetrics().horizontalAdvance(QStringLiteral("M…M")) + 4 + chevron(),
                sizeHint().height()};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled()) painter.setOpacity(0.45);
        const QColor ink = palette().color(QPalette::Active, QPalette::WindowText);
        if (!titled_) {
            SymbolPainter::paint(painter, Symbol::chevronDown, QRectF(rect()).adjusted(2, 0, -2, 0), platform::secondaryColour(palette()));
            return;
        }
        painter.setPen(QPen(platform::secondaryColour(palette(), 0.3), 1));
        painter.setBrush(isDown() ? platform::secondaryColour(palette(), 0.15) : QColor(Qt::transparent));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        const int textWidth = width() - 2 * kMenuPadding - 4 - chevron();
        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(QRect(kMenuPadding, 0, textWidth, height()), Qt::AlignVCenter | Qt::AlignLeft,
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, textWidth));
        const QRectF indicator(width() - kMenuPadding - chevron(), 0, chevron(), height());
        SymbolPainter::paint(painter, Symbol::chevronDown, indicator, platform::secondaryColour(palette()));
    }

private:
    static int chevron() { return 10; }
    bool titled_;
};

// The microphone's level: a thin track with a green bar as long as the level.
class LevelMeter : public QWidget {
public:
    LevelMeter(CaptureInputsController& inputs, bool compact, QWidget* parent) : QWidget(parent), inputs_(inputs) {
        setFixedHeight(kMeterHeight);
        if (compact) setFixedWidth(kCompactMeterWidth);
        else setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const qreal radius = height() / 2.0;
        QColor track(Qt::gray);
        track.setAlphaF(0.2);
        painter.setBrush(track);
        painter.drawRoundedRect(QRectF(rect()), radius, radius);
        const qreal level = std::clamp(inputs_.level(), 0.0, 1.0);
        const qreal filled = width() * level;
        if (filled <= 0) return;
        painter.setBrush(systemGreen());
        painter.drawRoundedRect(QRectF(0, 0, filled, height()), std::min(radius, filled / 2), radius);
    }

private:
    CaptureInputsController& inputs_;
};

// Why an input does not work, in orange; pressing it opens the input's settings.
class MessageButton : public QAbstractButton {
public:
    explicit MessageButton(QWidget* parent) : QAbstractButton(parent) {
        setFont(pixelFont(kCaptionPixels));
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(text()) + 2, fontMetrics().height() + 2}; }
    QSize minimumSizeHint() const override { return {fontMetrics().horizontalAdvance(QStringLiteral("M…")), sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(isDown() ? systemOrange().darker(130) : systemOrange());
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft, fontMetrics().elidedText(text(), Qt::ElideRight, width()));
    }
};

// The compact shape's sign that an input has something to say; the text is its tooltip.
class WarningSign : public QWidget {
public:
    explicit WarningSign(QWidget* parent) : QWidget(parent) { setFixedSize(kCompactSignWidth, kCompactRowHeight); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        SymbolPainter::paint(painter, Symbol::exclamationmarkTriangleFill, QRectF(0, (height() - 12) / 2.0, width(), 12),
                             systemOrange());
    }
};

}  // namespace

struct CaptureInputControls::Input {
    CaptureInputKind kind;
    QWidget* column = nullptr;
    QAbstractButton* toggle = nullptr;
    DeviceMenuButton* menu = nullptr;
    QLabel* noDevice = nullptr;
    QWidget* meter = nullptr;
    QAbstractButton* messageButton = nullptr;
    QLabel* settingsHelp = nullptr;
    QWidget* messageSign = nullptr;
};

CaptureInputControls::CaptureInputControls(CaptureInputsController& inputs, bool compact, QWidget* parent)
    : QWidget(parent),
      inputs_(inputs),
      compact_(compact),
      actions_([](const std::string& failure) { qWarning("An input action failed: %s", failure.c_str()); }) {
    setObjectName(compact ? "capture-input-controls-compact" : "capture-input-controls");
    QBoxLayout* layout = compact ? static_cast<QBoxLayout*>(new QHBoxLayout(this)) : new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(compact ? kCompactSpacing : kFullSpacing);
    // Compact, the view is always as large as what it shows, so its bar can follow each change.
    if (compact) layout->setSizeConstraint(QLayout::SetFixedSize);
    for (CaptureInputKind kind : kAllCaptureInputKinds) {
        auto input = std::make_unique<Input>();
        input->kind = kind;
        buildInput(*input);
        // Icon rows line up; the microphone's meter hangs below its row.
        layout->addWidget(input->column, 0, compact ? Qt::AlignTop : Qt::Alignment());
        rows_.push_back(std::move(input));
    }

    spinner_ = new platform::ActivitySpinner(kSpinnerSide, this);
    spinner_->setObjectName("capture-input-busy");

    auto refreshToggles = [this] {
        for (auto& input : rows_) {
            const bool on = inputs_.enabled(input->kind);
            input->toggle->setChecked(on);
            input->toggle->setAccessibleDescription(on ? tr("On") : tr("Off"));
            input->toggle->update();
            rebuildMenu(*input);
        }
    };
    connect(&inputs_, &CaptureInputsController::preferencesChanged, this, refreshToggles);
    connect(&inputs_, &CaptureInputsController::microphonesChanged, this, [this] { rebuildDeviceLine(*rows_[0]); });
    connect(&inputs_, &CaptureInputsController::camerasChanged, this, [this] { rebuildDeviceLine(*rows_[1]); });
    connect(&inputs_, &CaptureInputsController::microphoneMessageChanged, this, [this] { showMessage(*rows_[0]); });
    connect(&inputs_, &CaptureInputsController::cameraMessageChanged, this, [this] { showMessage(*rows_[1]); });
    connect(&inputs_, &CaptureInputsController::settingsHelpChanged, this, [this] {
        for (auto& input : rows_) showMessage(*input);
    });
    // The level changes ten times a second: only the meter repaints.
    connect(&inputs_, &CaptureInputsController::levelChanged, this, [this] { rows_[0]->meter->update(); });
    connect(&inputs_, &CaptureInputsController::lockedChanged, this, &CaptureInputControls::showAvailability);
    connect(&inputs_, &CaptureInputsController::busyChanged, this, &CaptureInputControls::showAvailability);

    refreshToggles();
    for (auto& input : rows_) {
        rebuildDeviceLine(*input);
        showMessage(*input);
    }
    showAvailability();
}

CaptureInputControls::~CaptureInputControls() = default;

void CaptureInputControls::buildInput(Input& input) {
    const CaptureInputKind kind = input.kind;
    const QString name = nameOf(kind);
    input.column = new QWidget(this);
    auto* parts = new QVBoxLayout(input.column);
    parts->setContentsMargins(0, 0, 0, 0);
    parts->setSpacing(kPartSpacing);

    if (compact_) {
        auto* row = new QHBoxLayout();
        row->setSpacing(kCompactPartSpacing);
        input.toggle = new IconToggle(inputs_, kind, input.column);
        input.toggle->setAccessibleName(tr("Toggle %1").arg(name));
        input.toggle->setToolTip(titleOf(kind));
        row->addWidget(input.toggle);
        input.menu = new DeviceMenuButton(false, input.column);
        input.menu->setFocusPolicy(Qt::NoFocus);
        row->addWidget(input.menu);
        // The warning sign goes beside the icon, where it fits the row's height.
        input.messageSign = new WarningSign(input.column);
        input.messageSign->setObjectName("capture-input-" + name + "-message");
        row->addWidget(input.messageSign);
        parts->addLayout(row);
    } else {
        input.toggle = new ToggleRow(inputs_, kind, input.column);
        input.toggle->setAccessibleName(titleOf(kind));
        parts->addWidget(input.toggle);
        input.menu = new DeviceMenuButton(true, input.column);
        parts->addWidget(input.menu, 0, Qt::AlignLeft);
        input.noDevice = new QLabel(tr("No device connected"), input.column);
        input.noDevice->setObjectName("capture-input-" + name + "-no-device");
        input.noDevice->setFont(pixelFont(kCaptionPixels));
        QPalette colours = input.noDevice->palette();
        colours.setColor(QPalette::WindowText, platform::secondaryColour(colours));
        input.noDevice->setPalette(colours);
        parts->addWidget(input.noDevice);
    }
    input.toggle->setObjectName("capture-input-" + name);
    connect(input.toggle, &QAbstractButton::clicked, this, [this, kind] { actions_.start(inputs_.toggle(kind)); });
    input.menu->setObjectName("capture-input-" + name + "-device");
    input.menu->setMenu(new QMenu(input.menu));

    if (kind == CaptureInputKind::microphone) {
        input.meter = new LevelMeter(inputs_, compact_, input.column);
        input.meter->setObjectName("capture-input-" + name + "-level");
        parts->addWidget(input.meter);
    }

    if (!compact_) {
        auto* message = new MessageButton(input.column);
        message->setObjectName("capture-input-" + name + "-message");
        connect(message, &QAbstractButton::clicked, this, [this, kind] { inputs_.openSettings(kind); });
        input.messageButton = message;
        parts->addWidget(message, 0, Qt::AlignLeft);
        input.settingsHelp = new QLabel(input.column);
        input.settingsHelp->setObjectName("capture-input-" + name + "-help");
        input.settingsHelp->setFont(pixelFont(kCaptionPixels));
        input.settingsHelp->setWordWrap(true);
        input.settingsHelp->setTextFormat(Qt::PlainText);
        QPalette helpColours = input.settingsHelp->palette();
        helpColours.setColor(QPalette::WindowText, platform::secondaryColour(helpColours));
        input.settingsHelp->setPalette(helpColours);
        parts->addWidget(input.settingsHelp);
    }
}

void CaptureInputControls::rebuildDeviceLine(Input& input) {
    input.menu->setVisible(!inputs_.devices(input.kind).empty());
    showNoDevice(input);
    rebuildMenu(input);
}

void CaptureInputControls::showNoDevice(Input& input) {
    if (input.noDevice == nullptr) return;
    // The message line may already say the same words; once is enough.
    const auto& message = inputs_.message(input.kind);
    const bool said = message && QString::fromStdString(*message) == input.noDevice->text();
    input.noDevice->setVisible(inputs_.devices(input.kind).empty() && !said);
}

void CaptureInputControls::rebuildMenu(Input& input) {
    const CaptureInputKind kind = input.kind;
    const auto& devices = inputs_.devices(kind);
    const auto& preferred = preferredID(inputs_.preferences(), kind);
    const auto& selected = inputs_.selectedID(kind);
    QString title = tr("Choose device");
    QMenu* menu = input.menu->menu();
    menu->clear();
    for (const auto& device : devices) {
        const QString deviceName = QString::fromStdString(device.name);
        if (preferred == device.id) title = deviceName;
        QAction* choice = menu->addAction(deviceName);
        if (selected == device.id) choice->setIcon(SymbolPainter::icon(Symbol::checkmark, palette().color(QPalette::WindowText)));
        connect(choice, &QAction::triggered, this,
                [this, kind, id = device.id] { actions_.start(inputs_.select(kind, id)); });
    }
    menu->addSeparator();
    connect(menu->addAction(tr("Turn off")), &QAction::triggered, this,
            [this, kind] { actions_.start(inputs_.select(kind, std::nullopt)); });
    if (!compact_) {
        input.menu->setText(title);
        input.menu->setToolTip(title);
        input.menu->updateGeometry();
    } else {
        input.menu->setToolTip(title);
    }
}

void CaptureInputControls::showMessage(Input& input) {
    const auto& message = inputs_.message(input.kind);
    const QString text = message ? QString::fromStdString(*message) : QString();
    const auto& help = inputs_.settingsHelp(input.kind);
    QWidget* line = compact_ ? input.messageSign : static_cast<QWidget*>(input.messageButton);
    if (input.messageButton != nullptr) input.messageButton->setText(text);
    if (input.settingsHelp != nullptr) {
        input.settingsHelp->setText(QString::fromStdString(help.value_or("")));
        input.settingsHelp->setVisible(message.has_value() && help.has_value());
    }
    line->setToolTip(help && compact_ ? text + QLatin1Char('\n') + QString::fromStdString(*help) : text);
    line->setAccessibleName(text);
    line->setVisible(message.has_value());
    if (input.messageButton != nullptr) input.messageButton->updateGeometry();
    showNoDevice(input);
}

void CaptureInputControls::showAvailability() {
    const bool held = inputs_.locked() || inputs_.busy();
    for (auto& input : rows_) {
        input->toggle->setEnabled(!held);
        input->menu->setEnabled(!held);
    }
    spinner_->setVisible(inputs_.busy());
    spinner_->raise();
}

void CaptureInputControls::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    spinner_->move(width() - spinner_->width(), 0);
    spinner_->raise();
}

}  // namespace yux

#include "shell/recording_shortcut_recorder.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "model/app_error.hpp"
#include "platform/desktop/view_style.hpp"
#include "shell/app_inspector_kit.hpp"
#include "shell/panel_style.hpp"

namespace yux {

namespace {

QFont captionFont() { return panel_style::font(10); }

// The hot key's resumption runs to its end even when the control is gone meanwhile; a model
// that is an object may go too, and is then left alone.
QCoro::Task<void> resume(ShortcutRecordingModel* model, bool persist) {
    QPointer<QObject> alive(dynamic_cast<QObject*>(model));
    const bool guarded = !alive.isNull();
    co_await model->setShortcutRecording(false);
    if (guarded && !alive) co_return;
    if (persist) model->persistSettings();
}

// The shortcut as a small rounded key cap. Locked during a recording it is drawn whole at half
// opacity over its usual colours: the palette's disabled text on the grey pill is unreadable.
class KeyCap : public QLabel {
public:
    static constexpr qreal kLockedOpacity = 0.5;

    explicit KeyCap(QWidget* parent) : QLabel(parent) {
        setFont(panel_style::font(11, QFont::DemiBold));
        setContentsMargins(6, 2, 6, 2);
        setTextFormat(Qt::PlainText);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(isEnabled() ? 1.0 : kLockedOpacity);
        painter.setPen(Qt::NoPen);
        painter.setBrush(platform::secondaryColour(palette(), 0.15));
        painter.drawRoundedRect(QRectF(rect()), 4, 4);
        painter.setPen(palette().color(QPalette::Active, QPalette::WindowText));
        painter.setFont(font());
        painter.drawText(contentsRect(), static_cast<int>(alignment()), text());
    }
};

}  // namespace

bool isModifierKey(int key) {
    switch (key) {
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Meta:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
        case Qt::Key_Hyper_L:
        case Qt::Key_Hyper_R:
        case Qt::Key_CapsLock:
        case Qt::Key_NumLock:
        case Qt::Key_ScrollLock:
            return true;
        default:
            return false;
    }
}

// Caps Lock, keypad and the rest are left out.
static std::uint32_t shortcutModifiers(Qt::KeyboardModifiers modifiers) {
    std::uint32_t mask = 0;
    if (modifiers & Qt::MetaModifier) mask |= RecordingShortcut::command;
    if (modifiers & Qt::ShiftModifier) mask |= RecordingShortcut::shift;
    if (modifiers & Qt::AltModifier) mask |= RecordingShortcut::option;
    if (modifiers & Qt::ControlModifier) mask |= RecordingShortcut::control;
    return mask;
}

ShortcutKeys shortcutKeysOf(const QKeyEvent& press) {
    ShortcutKeys keys;
    keys.modifiers = shortcutModifiers(press.modifiers());
    if (press.nativeScanCode() <= 0xFF) keys.keyCode = X11KeyMap::keyCode(static_cast<std::uint8_t>(press.nativeScanCode()));
    return keys;
}

RecordingShortcutRecorder::RecordingShortcutRecorder(ShortcutRecordingModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);

    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    auto* symbol = new SymbolLabel(platform::Symbol::command, 12, platform::secondaryColour(palette()), this);
    auto* symbolBox = new QWidget(this);
    symbolBox->setFixedWidth(16);
    auto* symbolLayout = new QHBoxLayout(symbolBox);
    symbolLayout->setContentsMargins(0, 0, 0, 0);
    symbolLayout->addWidget(symbol, 0, Qt::AlignCenter);
    top->addWidget(symbolBox);
    auto* title = new QLabel(tr("Shortcut"), this);
    title->setFont(panel_style::font(12));
    top->addWidget(title);
    top->addStretch(1);
    keyCap_ = new KeyCap(this);
    top->addWidget(keyCap_);
    change_ = panel_style::accentButton(QString(), this);
    change_->setFont(title->font());
    connect(change_, &QPushButton::clicked, this, [this] {
        if (recording_) finish(false);
        else begin();
    });
    top->addWidget(change_);
    stack->addLayout(top);

    recordingRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(recordingRow_);
    row->setContentsMargins(22, 0, 0, 0);
    row->setSpacing(4);
    auto* hint = new QLabel(tr("Esc cancels."), recordingRow_);
    hint->setFont(captionFont());
    QPalette hintPalette = hint->palette();
    hintPalette.setColor(QPalette::WindowText, platform::secondaryColour(palette()));
    hint->setPalette(hintPalette);
    row->addWidget(hint);
    reset_ = panel_style::accentButton(tr("Reset to ") + QString::fromStdString(RecordingShortcut::defaultShortcut().label()),
                         recordingRow_);
    reset_->setFont(captionFont());
    connect(reset_, &QPushButton::clicked, this, [this] {
        model_.setRecordingShortcut(RecordingShortcut::defaultShortcut());
        finish(true);
    });
    row->addWidget(reset_);
    row->addStretch(1);
    stack->addWidget(recordingRow_);

    retry_ = new QPushButton(tr("Retry saving shortcut"), this);
    retry_->setFont(captionFont());
    connect(retry_, &QPushButton::clicked, this, [this] { model_.persistSettings(); });
    stack->addWidget(retry_, 0, Qt::AlignLeft);

    messageLabel_ = new QLabel(this);
    messageLabel_->setFont(captionFont());
    messageLabel_->setWordWrap(true);
    messageLabel_->setTextFormat(Qt::PlainText);
    QPalette messagePalette = messageLabel_->palette();
    messagePalette.setColor(QPalette::WindowText, platform::systemRed());
    messageLabel_->setPalette(messagePalette);
    stack->addWidget(messageLabel_);

    refresh();
}

RecordingShortcutRecorder::~RecordingShortcutRecorder() { finish(false); }

void RecordingShortcutRecorder::refresh() {
    const QString shown = recording_ ? tr("Press keys\u2026") : QString::fromStdString(model_.recordingShortcut().label());
    keyCap_->setText(shown);
    keyCap_->setAccessibleName(shown);
    change_->setText(recording_ ? tr("Cancel") : tr("Change"));
    change_->setAccessibleName(recording_ ? tr("Cancel recording shortcut") : tr("Change recording shortcut"));
    recordingRow_->setVisible(recording_);
    retry_->setVisible(!recording_ && model_.isUnsavedSettings());
    messageLabel_->setVisible(message_.has_value());
    messageLabel_->setText(message_.value_or(QString()));
}

void RecordingShortcutRecorder::begin() {
    if (recording_) return;
    recording_ = true;
    message_.reset();
    refresh();
    tasks_.start(capture(++attempt_));
}

QCoro::Task<void> RecordingShortcutRecorder::capture(std::uint64_t attempt) {
    QPointer<RecordingShortcutRecorder> self(this);
    ShortcutRecordingModel& model = model_;
    const bool ok = co_await model.setShortcutRecording(true);
    if (!self) co_return;
    // A refusal is said even when the capture was cancelled meanwhile; a newer capture under way
    // is left alone.
    if (!ok && (attempt == attempt_ || !recording_)) {
        recording_ = false;
        if (auto blocking = model_.blockingMessage()) message_ = QString::fromStdString(*blocking);
        else message_.reset();
        refresh();
        co_return;
    }
    // Cancelled meanwhile (a later finish or begin).
    if (!ok || attempt != attempt_ || !recording_) co_return;
    capturing_ = true;
    qApp->installEventFilter(this);
}

void RecordingShortcutRecorder::stopListening() {
    if (!capturing_) return;
    capturing_ = false;
    qApp->removeEventFilter(this);
}

void RecordingShortcutRecorder::finish(bool persist) {
    ++attempt_;
    stopListening();
    if (!recording_) return;
    recording_ = false;
    tasks_.start(resume(&model_, persist));
    refresh();
}

void RecordingShortcutRecorder::setPanelVisible(bool visible) {
    const bool hidden = panelVisible_ && !visible;
    panelVisible_ = visible;
    if (hidden) finish(false);
}

void RecordingShortcutRecorder::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    finish(false);
}

void RecordingShortcutRecorder::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Locked while a recording runs: a capture under way ends unsaved.
    if (event->type() == QEvent::EnabledChange && !isEnabled()) finish(false);
}

bool RecordingShortcutRecorder::eventFilter(QObject* watched, QEvent* event) {
    if (!capturing_) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Keeps menu shortcuts (Ctrl+Q …) from taking the press before it reaches us.
        event->accept();
        return true;
    }
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    const auto& press = static_cast<const QKeyEvent&>(*event);
    // A repeat counts as a press: a key held since before the capture began is taken too.
    if (!isModifierKey(press.key())) receive(press);
    return true;
}

void RecordingShortcutRecorder::receive(const QKeyEvent& press) {
    const auto [keyCode, modifiers] = shortcutKeysOf(press);
    if (keyCode == RecordingShortcut::escapeKeyCode && modifiers == 0) {
        finish(false);
        return;
    }
    std::optional<RecordingShortcut> shortcut;
    if (keyCode) {
        try {
            shortcut.emplace(*keyCode, modifiers);
        } catch (const AppError&) {
        }
    }
    if (!shortcut) {
        message_ = rejectedKeyMessage();
        refresh();
        return;
    }
    model_.setRecordingShortcut(*shortcut);
    finish(true);
}

}  // namespace yux

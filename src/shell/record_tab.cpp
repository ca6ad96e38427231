#include "shell/record_tab.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "capture/capture_input_controls.hpp"
#include "platform/desktop/view_style.hpp"
#include "shell/app_inspector_kit.hpp"
#include "shell/panel_style.hpp"
#include "shell/recording_shortcut_recorder.hpp"

namespace yux {

namespace {

QColor systemBlue() { return QColor(0, 122, 255); }

}  // namespace

RecordTabLook RecordTabLook::of(const RecordingSessionState& state, bool settingsAvailable) {
    using Symbol = platform::Symbol;
    RecordTabLook look{QString::fromStdString(state.panelStatusText()), {}, {}, Symbol::circleFill,
                       Colour::accent, true, false, false};
    struct Case {
        QColor dot;
        const char* label;
        Symbol symbol;
        Colour colour;
        bool primaryEnabled;
        bool folderLocked;
        bool shortcutLocked;
    };
    const Case chosen = std::visit(
        [](const auto& value) -> Case {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, RecordingSessionState::Recording>)
                return {platform::systemRed(), "STOP RECORDING", Symbol::stopFill, Colour::red, true, true, true};
            else if constexpr (std::is_same_v<T, RecordingSessionState::PendingTrim>)
                return {platform::systemOrange(), "TRIMMING...", Symbol::ellipsis, Colour::secondary, false, true, true};
            else if constexpr (std::is_same_v<T, RecordingSessionState::Failed>)
                return {platform::systemRed(), "RECORD AREA", Symbol::circleFill, Colour::accent, true, false, false};
            else if constexpr (std::is_same_v<T, RecordingSessionState::Idle>)
                return {platform::systemGreen(), "RECORD AREA", Symbol::circleFill, Colour::accent, true, false, false};
            else if constexpr (std::is_same_v<T, RecordingSessionState::Selecting>)
                return {systemBlue(), "CANCEL", Symbol::xmark, Colour::secondary, true, false, true};
            else
                return {platform::systemOrange(), "STOPPING...", Symbol::ellipsis, Colour::secondary, false, true, true};
        },
        state.value());
    look.statusDot = chosen.dot;
    look.label = QString::fromLatin1(chosen.label);
    look.symbol = chosen.symbol;
    look.colour = chosen.colour;
    look.primaryEnabled = chosen.primaryEnabled;
    look.saveFolderChangeDisabled = chosen.folderLocked;
    look.shortcutControlsDisabled = chosen.shortcutLocked;
    if (!settingsAvailable) {
        // Without settings the button asks for a folder, in the state's colour.
        look.label = QStringLiteral("CHOOSE SAVE FOLDER");
        look.symbol = Symbol::folderBadgePlus;
    }
    return look;
}

QString homeShortenedPath(const QString& path, const QString& home) {
    QString root = home;
    while (root.size() > 1 && root.endsWith('/')) root.chop(1);
    if (root.isEmpty() || root == QStringLiteral("/")) return path;
    if (path == root) return QStringLiteral("~");
    if (path.startsWith(root + '/')) return QStringLiteral("~") + path.mid(root.size());
    return path;
}

PrimaryRecordButton::PrimaryRecordButton(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PrimaryRecordButton::present(const QString& label, platform::Symbol symbol, const QColor& fill,
                                  const QString& badge) {
    setText(label);
    setAccessibleName(label);
    symbol_ = symbol;
    fill_ = fill;
    badge_ = badge;
    updateGeometry();
    update();
}

QFont PrimaryRecordButton::labelFont() const {
    QFont font = panel_style::font(13, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
    return font;
}

QFont PrimaryRecordButton::badgeFont() const { return panel_style::font(10); }

QSize PrimaryRecordButton::sizeHint() const {
    const QFontMetrics metrics(labelFont());
    int width = 10 + 8 + metrics.horizontalAdvance(text()) + 40;
    if (!badge_.isEmpty()) width += 8 + QFontMetrics(badgeFont()).horizontalAdvance(badge_) + 12;
    return {width, metrics.height() + 20};
}

void PrimaryRecordButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(drawnOpacity());
    const QRectF box(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDown() ? fill_.darker(115) : fill_);
    painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);

    // Icon, label and badge side by side, centred as one.
    const QFontMetricsF labelMetrics(labelFont());
    const QFontMetricsF badgeMetrics(badgeFont());
    const qreal icon = 10;
    const qreal labelWidth = labelMetrics.horizontalAdvance(text());
    const qreal badgeWidth = badge_.isEmpty() ? 0 : badgeMetrics.horizontalAdvance(badge_) + 12;
    const qreal total = icon + 8 + labelWidth + (badge_.isEmpty() ? 0 : 8 + badgeWidth);
    qreal x = box.center().x() - total / 2;
    const qreal middle = box.center().y();
    platform::SymbolPainter::paint(painter, symbol_, QRectF(x, middle - icon / 2, icon, icon), Qt::white);
    x += icon + 8;
    painter.setPen(Qt::white);
    painter.setFont(labelFont());
    painter.drawText(QRectF(x, box.top(), labelWidth + 2, box.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    x += labelWidth + 8;
    if (!badge_.isEmpty()) {
        const QRectF pill(x, middle - badgeMetrics.height() / 2 - 2, badgeWidth, badgeMetrics.height() + 4);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 46));
        painter.drawRoundedRect(pill, pill.height() / 2, pill.height() / 2);
        painter.setPen(QColor(255, 255, 255, 191));
        painter.setFont(badgeFont());
        painter.drawText(pill, Qt::AlignCenter, badge_);
    }
}

StatusDot::StatusDot(int diameter, QColor colour, QWidget* parent) : QWidget(parent), colour_(std::move(colour)) {
    setFixedSize(diameter, diameter);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void StatusDot::setColour(const QColor& colour) {
    colour_ = colour;
    update();
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour_);
    painter.drawEllipse(QRectF(rect()));
}

RecordTab::RecordTab(MenuBarPanelViewModel& model, CaptureInputsController* inputs, QString home, QWidget* parent)
    : QWidget(parent), model_(model), home_(std::move(home)) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(14);

    notice_ = new QLabel(this);
    notice_->setObjectName("blockingNotice");
    notice_->setWordWrap(true);
    notice_->setTextFormat(Qt::PlainText);
    notice_->setFont(panel_style::font(10));
    notice_->setStyleSheet(QStringLiteral("QLabel#blockingNotice { color: rgba(215, 0, 21, 242);"
                                          " background: rgba(215, 0, 21, 20); border: 1px solid rgba(215, 0, 21, 64);"
                                          " border-radius: 8px; padding: 8px; }"));
    stack->addWidget(notice_);

    auto* status = new QHBoxLayout;
    status->setSpacing(6);
    statusDot_ = new StatusDot(8, platform::systemGreen(), this);
    status->addWidget(statusDot_);
    statusText_ = new QLabel(this);
    statusText_->setFont(panel_style::font(12));
    panel_style::setTextColour(*statusText_, platform::secondaryColour(palette()));
    status->addWidget(statusText_);
    status->addStretch(1);
    stack->addLayout(status);

    primary_ = new PrimaryRecordButton(this);
    connect(primary_, &QAbstractButton::clicked, this, [this] {
        emit primaryActionRequested();
        model_.performPrimaryRecordAction();
    });
    stack->addWidget(primary_);

    stack->addWidget(panel_style::divider(this));

    if (inputs) {
        inputControls_ = new CaptureInputControls(*inputs, false, this);
        stack->addWidget(inputControls_);
    }

    auto* folder = new QHBoxLayout;
    folder->setSpacing(0);
    auto* folderIconBox = new QWidget(this);
    folderIconBox->setFixedWidth(16);
    auto* folderIconLayout = new QHBoxLayout(folderIconBox);
    folderIconLayout->setContentsMargins(0, 0, 0, 0);
    folderIconLayout->addWidget(new SymbolLabel(platform::Symbol::folder, 10, platform::secondaryColour(palette())),
                                0, Qt::AlignCenter);
    folder->addWidget(folderIconBox);
    folder->addSpacing(5);
    auto* saveTo = new QLabel(tr("Save to:"), this);
    saveTo->setFont(panel_style::font(12));
    panel_style::setTextColour(*saveTo, platform::secondaryColour(palette()));
    folder->addWidget(saveTo);
    folder->addStretch(1);
    folderText_ = new panel_style::MiddleElidedLabel(this);
    folderText_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    folderText_->setFont(panel_style::font(12));
    folderText_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    folder->addWidget(folderText_, 1);
    folder->addSpacing(6);
    folderButton_ = panel_style::accentButton(QString(), this);
    folderButton_->setFont(panel_style::font(11));
    connect(folderButton_, &QPushButton::clicked, this, [this] { model_.chooseSaveFolder(); });
    folder->addWidget(folderButton_);
    stack->addLayout(folder);

    recorder_ = new RecordingShortcutRecorder(model_, this);
    stack->addWidget(recorder_);
    placeholder_ = new QLabel(tr("Choose a save folder first to configure the shortcut."), this);
    placeholder_->setWordWrap(true);
    placeholder_->setFont(panel_style::font(10));
    panel_style::setTextColour(*placeholder_, platform::secondaryColour(palette()));
    stack->addWidget(placeholder_);

    connect(&model_, &MenuBarPanelViewModel::changed, this, &RecordTab::refresh);
    refresh();
}

void RecordTab::setRecorderVisible(bool visible) { recorder_->setPanelVisible(visible); }

void RecordTab::refresh() {
    const MenuBarPanelState& state = model_.panelState();
    const bool available = state.settings.isAvailable();
    const RecordTabLook look = RecordTabLook::of(state.recordingState, available);

    notice_->setVisible(state.blockingMessage.has_value());
    notice_->setText(QString::fromStdString(state.blockingMessage.value_or("")));

    statusDot_->setColour(look.statusDot);
    statusText_->setText(look.statusText);

    QColor fill = palette().color(QPalette::Active, QPalette::Highlight);
    if (look.colour == RecordTabLook::Colour::red) fill = platform::systemRed();
    if (look.colour == RecordTabLook::Colour::secondary) fill = platform::secondaryColour(palette());
    const bool badge = state.recordingState.isIdle() && model_.persistedSettings().has_value();
    primary_->present(look.label, look.symbol, fill,
                      badge ? QString::fromStdString(model_.recordingShortcut().label()) : QString());
    primary_->setEnabled(look.primaryEnabled);

    if (auto path = model_.saveFolderPath()) {
        folderText_->setText(homeShortenedPath(QString::fromStdString(*path), home_));
        panel_style::setTextColour(*folderText_, palette().color(QPalette::Active, QPalette::WindowText));
        folderButton_->setText(tr("Change"));
    } else {
        folderText_->setText(tr("Not set"));
        panel_style::setTextColour(*folderText_, platform::secondaryColour(palette(), 0.6));
        folderButton_->setText(tr("Choose"));
    }
    folderText_->setToolTip(QString::fromStdString(model_.saveFolderPath().value_or("")));
    folderButton_->setEnabled(!look.saveFolderChangeDisabled);

    const bool persisted = model_.persistedSettings().has_value();
    recorder_->setVisible(persisted);
    recorder_->setEnabled(!look.shortcutControlsDisabled);
    recorder_->refresh();
    placeholder_->setVisible(!persisted);
}

}  // namespace yux

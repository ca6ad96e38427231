#include "selection/selection_overlay_view.hpp"

#include <algorithm>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCursor>
#include <QFontMetricsF>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>

#include "capture/capture_input_controls.hpp"
#include "platform/desktop/symbol_painter.hpp"
#include "platform/desktop/tabular_digits_label.hpp"
#include "selection/camera_overlay_presenter.hpp"
#include "selection/capture_target_outline.hpp"
#include "selection/screen_selection_cursor_catalog.hpp"

#include "platform/desktop/view_style.hpp"

namespace yux {

namespace {

constexpr double kPickerButtonHeight = 24;
constexpr double kPickerPadding = 2;
constexpr double kPickerButtonPadding = 11;
constexpr double kSpacing = 6;
constexpr double kStack = 4;
constexpr double kPillHeight = 28;
constexpr double kLabelAbove = 29;
// The label goes above the target only when the target's top is this far below the display's.
constexpr double kLabelRoomAbove = 62;

const std::pair<CaptureMode, const char*> kModes[] = {
    {CaptureMode::area, "Area"}, {CaptureMode::app, "App"}, {CaptureMode::screen, "Screen"}};

QFont pickerFont() { return platform::pixelFont(13, QFont::Medium); }
// Buttons and menu items take "&" as a mnemonic mark; an application's name shows it as it is.
QString literalTitle(QString title) { return title.replace(QLatin1Char('&'), QStringLiteral("&&")); }

QFont labelFont(int size, bool semibold) { return platform::pixelFont(size, semibold ? QFont::DemiBold : QFont::Normal); }

double pickerButtonWidth(const char* title) {
    return QFontMetricsF(pickerFont()).horizontalAdvance(QString::fromUtf8(title)) + 2 * kPickerButtonPadding;
}

std::string text(Point p) {
    std::ostringstream out;
    out << "(" << p.x << ", " << p.y << ")";
    return out.str();
}

std::string text(const std::optional<Rect>& r) {
    if (!r) return "nil";
    std::ostringstream out;
    out << "(" << r->x << ", " << r->y << ", " << r->width << ", " << r->height << ")";
    return out.str();
}

// One of the picker's three painted buttons, as assistive technology sees it: a button named by
// its title, checked while its mode is the selected one, pressed through its action.
class CaptureModeButtonAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    CaptureModeButtonAccessible(CaptureModePicker* picker, CaptureMode mode, const char* title)
        : picker_(picker), mode_(mode), title_(QString::fromUtf8(title)) {}

    bool isValid() const override { return picker_; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return picker_ ? picker_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(picker_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override { return t == QAccessible::Name ? title_ : QString(); }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.checkable = true;
        state.selectable = true;
        const bool chosen = picker_ && picker_->selectedMode() == mode_;
        state.checked = chosen;
        state.selected = chosen;
        if (!picker_ || !picker_->isVisible()) state.invisible = true;
        return state;
    }
    QRect rect() const override {
        if (!picker_) return {};
        const QRect local = picker_->buttonRect(mode_).toRect();
        return QRect(picker_->mapToGlobal(local.topLeft()), local.size());
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction() && picker_) picker_->choose(mode_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<CaptureModePicker> picker_;
    CaptureMode mode_;
    QString title_;
};

// The picker as a group of its three buttons, in order.
class CaptureModePickerAccessible : public QAccessibleWidget {
public:
    explicit CaptureModePickerAccessible(CaptureModePicker* picker) : QAccessibleWidget(picker, QAccessible::Grouping) {
        for (const auto& [mode, title] : kModes)
            buttons_.push_back(QAccessible::registerAccessibleInterface(new CaptureModeButtonAccessible(picker, mode, title)));
    }
    ~CaptureModePickerAccessible() override {
        for (const auto id : buttons_) QAccessible::deleteAccessibleInterface(id);
    }
    int childCount() const override { return static_cast<int>(buttons_.size()); }
    QAccessibleInterface* child(int index) const override {
        return index >= 0 && index < childCount() ? QAccessible::accessibleInterface(buttons_[static_cast<std::size_t>(index)])
                                                  : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (std::size_t i = 0; i < buttons_.size(); ++i)
            if (QAccessible::accessibleInterface(buttons_[i]) == child) return static_cast<int>(i);
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (int i = 0; i < childCount(); ++i)
            if (child(i)->rect().contains(x, y)) return child(i);
        return nullptr;
    }

private:
    std::vector<QAccessible::Id> buttons_;
};

QAccessibleInterface* pickerAccessible(const QString& className, QObject* object) {
    auto* picker = qobject_cast<CaptureModePicker*>(object);
    return picker && className == QLatin1String(CaptureModePicker::staticMetaObject.className())
               ? new CaptureModePickerAccessible(picker)
               : nullptr;
}

}  // namespace

CaptureModePicker::CaptureModePicker(std::function<void(CaptureMode)> onSelect, QWidget* parent)
    : QWidget(parent), onSelect_(std::move(onSelect)) {
    // Qt keeps factories for the whole process; one is enough for every picker.
    static const bool installed = (QAccessible::installFactory(pickerAccessible), true);
    (void)installed;
    double width = 2 * kPickerPadding;
    for (const auto& [mode, title] : kModes) width += pickerButtonWidth(title);
    setFixedSize(static_cast<int>(std::ceil(width)), static_cast<int>(kPickerButtonHeight + 2 * kPickerPadding));
    setCursor(Qt::ArrowCursor);
}

void CaptureModePicker::setSelectedMode(CaptureMode mode) {
    if (std::exchange(selected_, mode) != mode && QAccessible::isActive()) {
        QAccessible::State changed;
        changed.checked = true;
        changed.selected = true;
        if (auto* picker = QAccessible::queryAccessibleInterface(this))
            for (int i = 0; i < picker->childCount(); ++i) {
                QAccessibleStateChangeEvent event(picker->child(i), changed);
                QAccessible::updateAccessibility(&event);
            }
    }
    update();
}

void CaptureModePicker::choose(CaptureMode mode) {
    if (onSelect_) onSelect_(mode);
}

QRectF CaptureModePicker::buttonRect(CaptureMode mode) const {
    double x = kPickerPadding;
    for (const auto& [m, title] : kModes) {
        const double w = pickerButtonWidth(title);
        if (m == mode) return QRectF(x, kPickerPadding, w, kPickerButtonHeight);
        x += w;
    }
    return {};
}

void CaptureModePicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(continuousRoundedRect(QRectF(rect()), 8), OverlayColours::white(0.08));
    painter.setFont(pickerFont());
    for (const auto& [mode, title] : kModes) {
        const QRectF r = buttonRect(mode);
        if (mode == selected_) painter.fillPath(continuousRoundedRect(r, 6), OverlayColours::white(0.2));
        painter.setPen(Qt::white);
        painter.drawText(r, Qt::AlignCenter, QString::fromUtf8(title));
    }
}

std::optional<CaptureMode> CaptureModePicker::modeAt(QPointF point) const {
    for (const auto& [mode, title] : kModes)
        if (buttonRect(mode).contains(point)) return mode;
    return std::nullopt;
}

void CaptureModePicker::mousePressEvent(QMouseEvent* event) {
    event->accept();
    pressed_ = event->button() == Qt::LeftButton ? modeAt(event->position()) : std::nullopt;
}

void CaptureModePicker::mouseMoveEvent(QMouseEvent* event) { event->accept(); }

void CaptureModePicker::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    const auto pressed = std::exchange(pressed_, std::nullopt);
    if (event->button() != Qt::LeftButton || !pressed || modeAt(event->position()) != pressed) return;
    choose(*pressed);
}

PillButtonWidget::PillButtonWidget(PillButton look, std::function<void()> onClick, QWidget* parent)
    : QWidget(parent), look_(std::move(look)), onClick_(std::move(onClick)) {
    setFixedSize(static_cast<int>(std::ceil(pillWidth(look_))), static_cast<int>(kPillHeight));
    setCursor(Qt::ArrowCursor);
}

void PillButtonWidget::setEnabledLook(bool enabled) {
    if (look_.enabled == enabled) return;
    look_.enabled = enabled;
    update();
}

void PillButtonWidget::click() {
    if (look_.enabled && onClick_) onClick_();
}

void PillButtonWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintPill(painter, QRectF(rect()), look_);
}

void PillButtonWidget::mousePressEvent(QMouseEvent*) {
    if (!look_.enabled) return;
    held_ = true;
    look_.pressed = true;
    update();
}

void PillButtonWidget::mouseMoveEvent(QMouseEvent* event) {
    // Held, the button looks pressed only while the pointer is over it: a release there clicks.
    if (!held_) return;
    const bool inside = rect().contains(event->position().toPoint());
    if (look_.pressed == inside) return;
    look_.pressed = inside;
    update();
}

void PillButtonWidget::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasHeld = held_;
    held_ = false;
    look_.pressed = false;
    update();
    if (wasHeld && rect().contains(event->position().toPoint())) click();
}

SelectionControlBar::SelectionControlBar(SelectionOverlayViewModel* model, std::function<void()> onRecord,
                                         std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent), model_(model) {
    cancel_ = new PillButtonWidget(PillButton{"Cancel", OverlayColours::white(0.1), Qt::white, false, true, false, "esc"},
                                   std::move(onCancel), this);
    picker_ = new CaptureModePicker([this](CaptureMode mode) {
        if (model_) model_->setMode(mode);
    }, this);
    menuButton_ = new QToolButton(this);
    menuButton_->setPopupMode(QToolButton::InstantPopup);
    menuButton_->setAutoRaise(true);
    menuButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    menuButton_->setLayoutDirection(Qt::RightToLeft);  // the chevron after the title
    menuButton_->setIcon(platform::SymbolPainter::icon(platform::Symbol::chevronDown, Qt::white, 10));
    menuButton_->setIconSize(QSize(10, 10));
    menuButton_->setFocusPolicy(Qt::NoFocus);
    menuButton_->setStyleSheet(QStringLiteral(
        "QToolButton { color: white; border: none; padding: 0 4px; } QToolButton::menu-indicator { image: none; }"));
    menu_ = new QMenu(menuButton_);
    menuButton_->setMenu(menu_);
    connect(menu_, &QMenu::aboutToShow, this, [this] { rebuildMenu(); });
    if (model_ && model_->inputs()) {
        inputsSlot_ = new CaptureInputControls(*model_->inputs(), true, this);
        inputsSlot_->setPalette(darkPanelPalette(inputsSlot_->palette()));
        inputsSlot_->adjustSize();
        inputsSlot_->installEventFilter(this);
    } else {
        inputsSlot_ = new QWidget(this);
        inputsSlot_->resize(0, 0);
    }
    record_ = new PillButtonWidget(
        PillButton{"Record", OverlayColours::record(), OverlayColours::recordInk(), false, true, false, "\u21a9"},
        std::move(onRecord), this);
    setCursor(Qt::ArrowCursor);
}

void SelectionControlBar::rebuildMenu() {
    menu_->clear();
    if (!model_) return;
    if (model_->mode() == CaptureMode::app) {
        std::set<std::string> identifiers;
        for (const auto& window : model_->windows()) identifiers.insert(window.bundleIdentifier);
        for (const auto& identifier : identifiers) {
            std::string title = identifier;
            for (const auto& window : model_->windows())
                if (window.bundleIdentifier == identifier) {
                    title = window.applicationName;
                    break;
                }
            menu_->addAction(literalTitle(QString::fromStdString(title)),
                             [this, identifier] { if (model_) model_->selectApplication(identifier); });
        }
        return;
    }
    for (CaptureRatio ratio : kAllCaptureRatios)
        menu_->addAction(QString::fromUtf8(textOf(ratio).data(), static_cast<qsizetype>(textOf(ratio).size())), [this, ratio] { if (model_) model_->chooseRatio(ratio); });
}

void SelectionControlBar::refresh(Size size) {
    size_ = size;
    resize(static_cast<int>(size.width), static_cast<int>(size.height));
    if (!model_) return;
    picker_->setSelectedMode(model_->mode());
    const bool app = model_->mode() == CaptureMode::app;
    const bool busy = model_->inputs() && model_->inputs()->busy();
    record_->setEnabledLook(model_->canConfirm() && !busy);
    const QString label = QString::fromStdString(model_->targetLabel());
    menuButton_->setFont(labelFont(12, false));
    if (app) {
        menuButton_->setText(literalTitle(label));
        menuButton_->setToolTip(QStringLiteral("Click a window or choose an application"));
    } else {
        menuButton_->setText(QString::fromUtf8(textOf(model_->ratio()).data(), static_cast<qsizetype>(textOf(model_->ratio()).size())));
        menuButton_->setToolTip({});
    }
    menuButton_->adjustSize();

    const double w = size.width;
    const double h = size.height;
    const double pad = 6;
    const double group1 = cancel_->width() + kSpacing + picker_->width();
    const double trailing = inputsSlot_->width() + (inputsSlot_->width() > 0 ? kSpacing : 0) + record_->width();
    const auto placeCentredY = [](QWidget* widget, double x, double cy) {
        widget->move(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(cy - widget->height() / 2.0)));
    };
    if (h <= 40) {
        const double cy = h / 2;
        double x = pad;
        placeCentredY(cancel_, x, cy);
        x += cancel_->width() + kSpacing;
        placeCentredY(picker_, x, cy);
        x += picker_->width() + kSpacing;
        placeCentredY(menuButton_, x, cy);
        x += menuButton_->width() + kSpacing;
        const double right = w - pad - trailing;
        labelRect_ = app ? QRectF() : QRectF(x, 0, std::max(0.0, right - kSpacing - x), h);
        if (app) {
            menuButton_->resize(static_cast<int>(std::max(0.0, right - kSpacing - menuButton_->x())), menuButton_->height());
            fitMenuLabel(label);
        }
        placeCentredY(inputsSlot_, right, cy);
        placeCentredY(record_, w - pad - record_->width(), cy);
        return;
    }
    // Group 1 on its own row, then group 2 in one row (width ≥ 360) or two.
    const bool split = w < 360;
    const double rows = split ? 3 : 2;
    const double rowHeight = kPillHeight;
    const double top = (h - (rows * rowHeight + (rows - 1) * kStack)) / 2;
    double cy = top + rowHeight / 2;
    double x = (w - group1) / 2;
    placeCentredY(cancel_, x, cy);
    placeCentredY(picker_, x + cancel_->width() + kSpacing, cy);
    cy += rowHeight + kStack;
    placeCentredY(menuButton_, pad, cy);
    const double menuRight = pad + menuButton_->width() + kSpacing;
    if (split) {
        labelRect_ = app ? QRectF() : QRectF(menuRight, cy - rowHeight / 2, w - pad - menuRight, rowHeight);
        cy += rowHeight + kStack;
        const double start = (w - trailing) / 2;
        placeCentredY(inputsSlot_, start, cy);
        placeCentredY(record_, start + trailing - record_->width(), cy);
    } else {
        const double right = w - pad - trailing;
        labelRect_ = app ? QRectF() : QRectF(menuRight, cy - rowHeight / 2, std::max(0.0, right - kSpacing - menuRight), rowHeight);
        placeCentredY(inputsSlot_, right, cy);
        placeCentredY(record_, w - pad - record_->width(), cy);
    }
    if (app) {
        menuButton_->resize(static_cast<int>(std::max(40.0, w - 2 * pad - (split ? 0 : trailing + kSpacing))), menuButton_->height());
        fitMenuLabel(label);
    }
}

void SelectionControlBar::fitMenuLabel(const QString& label) {
    // One line: a label wider than the menu is cut with an ellipsis, not at the menu's edge.
    const QString text = literalTitle(label);
    menuButton_->setText(text);
    const int hint = menuButton_->sizeHint().width();
    if (hint <= menuButton_->width()) return;
    const QFontMetrics metrics(menuButton_->font());
    const int room = menuButton_->width() - (hint - metrics.horizontalAdvance(label));
    menuButton_->setText(literalTitle(metrics.elidedText(label, Qt::ElideRight, std::max(0, room))));
}

void SelectionControlBar::mousePressEvent(QMouseEvent* event) { event->accept(); }
void SelectionControlBar::mouseMoveEvent(QMouseEvent* event) { event->accept(); }
void SelectionControlBar::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }

void SelectionControlBar::enterEvent(QEnterEvent*) {
    // What lies under the bar cannot be clicked, so it is not highlighted either.
    if (model_) model_->setHoveredApplication(std::nullopt);
}

bool SelectionControlBar::eventFilter(QObject* watched, QEvent* event) {
    // The input controls grow and shrink with their state (a device menu, a warning sign).
    if (watched == inputsSlot_ && event->type() == QEvent::Resize && size_.width > 0) refresh(size_);
    return false;
}

void SelectionControlBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintTraySurface(painter, QRectF(rect()));
    if (!model_ || labelRect_.isEmpty()) return;
    painter.setPen(QColor::fromRgbF(0.96f, 0.96f, 0.96f));
    painter.setFont(labelFont(12, true));
    const QString label = QString::fromStdString(model_->targetLabel());
    if (platform::tabularDigitsWidth(painter.font(), label) <= labelRect_.width()) {
        platform::drawTabularDigits(painter, labelRect_, Qt::AlignCenter, label);
        return;
    }
    painter.drawText(labelRect_, Qt::AlignCenter,
                     QFontMetricsF(painter.font()).elidedText(label, Qt::ElideRight, labelRect_.width()));
}

SelectionOverlayView::SelectionOverlayView(ScreenSelectionGeometry geometry, SelectionOverlayViewModel* model,
                                           CameraOverlayPresenter* cameraOverlay, std::function<void()> onRecord,
                                           std::function<void()> onCancel, OverlayPaintMode paintMode,
                                           platform::SystemLog log)
    : geometry_(geometry), model_(model), cameraOverlay_(cameraOverlay), paintMode_(paintMode), log_(std::move(log)) {
    setMouseTracking(true);
    // In both modes: the mode follows the compositing manager while the window stays.
    setAttribute(Qt::WA_TranslucentBackground);
    bar_ = new SelectionControlBar(model, std::move(onRecord), std::move(onCancel), this);
    if (model_) {
        const Rect frame = model_->displayFrame();
        resize(static_cast<int>(frame.width), static_cast<int>(frame.height));
        connect(model_, &SelectionOverlayViewModel::changed, this, [this] {
            relayout();
            update();
        });
    }
    relayout();
}

void SelectionOverlayView::setFrozenBackground(QImage picture) {
    frozen_ = std::move(picture);
    update();
}

void SelectionOverlayView::setPaintMode(OverlayPaintMode mode) {
    paintMode_ = mode;
    if (mode == OverlayPaintMode::translucent) frozen_ = QImage();
    update();
}

Size SelectionOverlayView::controlsSize() const {
    if (!model_) return {};
    return OverlayTrayLayout::controlSize(SelectionControlBar::kPreferredWidth, model_->displayFrame(),
                                          model_->previewRect(), model_->menuBarHeight());
}

void SelectionOverlayView::relayout() {
    if (!model_) return;
    const Rect d = model_->displayFrame();
    if (width() != static_cast<int>(d.width) || height() != static_cast<int>(d.height))
        resize(static_cast<int>(d.width), static_cast<int>(d.height));
    const Size size = controlsSize();
    bar_->refresh(size);
    const Rect place = OverlayTrayLayout::placement(model_->previewRect(), d, size, model_->menuBarHeight());
    bar_->move(static_cast<int>(std::lround(place.midX() - size.width / 2)),
               static_cast<int>(std::lround(place.midY() - size.height / 2)));
}

QRectF SelectionOverlayView::targetLabelRect() const {
    if (!model_) return {};
    const auto r = model_->previewRect();
    if (!r || model_->mode() == CaptureMode::screen) return {};
    const Rect d = model_->displayFrame();
    const QFontMetricsF metrics(labelFont(11, false));
    const double w = platform::tabularDigitsWidth(labelFont(11, false), QString::fromStdString(model_->targetLabel())) + 14;
    const double h = metrics.height() + 8;
    const double top = r->minY() - d.minY();
    const double y = top >= kLabelRoomAbove ? top - kLabelAbove : std::max(model_->menuBarHeight() + 8, top + 12);
    return QRectF(r->minX() - d.minX() + 8, y, w, h);
}

void SelectionOverlayView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    clearOverlay(painter, rect(), paintMode_);
    if (paintMode_ == OverlayPaintMode::opaque && !frozen_.isNull()) painter.drawImage(rect(), frozen_);
    if (!model_) return;
    const Rect d = model_->displayFrame();
    const auto rects = model_->captureRects();
    paintOutsideDim(painter, rects, d, 0.38);
    const bool area = model_->mode() == CaptureMode::area;
    const bool app = model_->mode() == CaptureMode::app;
    for (const Rect& rect : rects) paintTargetOutline(painter, {rect, d, Qt::white, area, area, app});
    const auto& hovered = model_->hoveredApplication();
    if (app && hovered && hovered != model_->capturePreference().lastApplication) {
        for (const auto& window : model_->windows())
            if (window.bundleIdentifier == *hovered)
                paintTargetOutline(painter, {rectOf(window.frame), d, OverlayColours::hover(), true, false, true});
    }
    const QRectF label = targetLabelRect();
    if (!label.isEmpty()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(continuousRoundedRect(label, 6), OverlayColours::black(0.66));
        painter.setPen(Qt::white);
        painter.setFont(labelFont(11, false));
        platform::drawTabularDigits(painter, label, Qt::AlignCenter, QString::fromStdString(model_->targetLabel()));
    }
}

Point SelectionOverlayView::global(QPointF local) const {
    const Rect d = model_ ? model_->displayFrame() : Rect{};
    return {d.minX() + local.x(), d.minY() + local.y()};
}

void SelectionOverlayView::hover(QPointF local) {
    if (!model_) return;
    const Point g = global(local);
    if (cameraOverlay_) {
        if (auto shape = cameraOverlay_->cursor(g)) {
            setCursor(ScreenSelectionCursorCatalog::cursor(*shape));
            return;
        }
    }
    switch (model_->mode()) {
        case CaptureMode::app: {
            std::optional<std::string> hovered;
            for (const auto& window : model_->windows())
                if (rectOf(window.frame).contains(g)) {
                    hovered = window.bundleIdentifier;
                    break;
                }
            model_->setHoveredApplication(hovered);
            setCursor(Qt::PointingHandCursor);
            break;
        }
        case CaptureMode::area: setCursor(ScreenSelectionCursorCatalog::cursor(geometry_.mode(g, model_->rect()))); break;
        case CaptureMode::screen: break;
    }
}

void SelectionOverlayView::leave() {
    if (!model_) return;
    model_->setHoveredApplication(std::nullopt);
    const QPointF pos = QCursor::pos();
    if (cameraOverlay_) {
        if (auto shape = cameraOverlay_->cursor({pos.x(), pos.y()})) {
            setCursor(ScreenSelectionCursorCatalog::cursor(*shape));
            return;
        }
    }
    setCursor(Qt::ArrowCursor);
}

void SelectionOverlayView::tap(QPointF local) {
    if (!model_ || model_->mode() != CaptureMode::app) return;
    const Point g = global(local);
    for (const auto& window : model_->windows())
        if (rectOf(window.frame).contains(g)) {
            model_->selectApplication(window.bundleIdentifier);
            return;
        }
}

void SelectionOverlayView::dragChanged(QPointF startLocal, QPointF currentLocal) {
    if (!model_ || model_->mode() != CaptureMode::area) return;
    const Point start = global(startLocal);
    const Point current = global(currentLocal);
    if (cameraOverlay_ && cameraOverlay_->dragging()) {
        if (auto shape = cameraOverlay_->cursor(current)) setCursor(ScreenSelectionCursorCatalog::cursor(*shape));
        return;
    }
    if (!dragStart_) {
        dragStart_ = start;
        startRect_ = model_->rect();
        dragMode_ = geometry_.mode(start, model_->rect());
        log_.info("SelectionOverlay", "capture_area_gesture_start point=" + text(start) + " rect=" +
                                          text(model_->rect()) + " mode=" + describe(*dragMode_));
    }
    if (!dragMode_) return;
    const Rect startingRect = startRect_.value_or(Rect{dragStart_->x, dragStart_->y, 0, 0});
    model_->setRect(geometry_.updatedRect(*dragMode_, startingRect, *dragStart_, current, model_->displayFrame(),
                                          model_->ratio()));
}

void SelectionOverlayView::dragEnded() {
    dragStart_.reset();
    startRect_.reset();
    dragMode_.reset();
}

void SelectionOverlayView::mousePressEvent(QMouseEvent* event) {
    // Whatever came before, a press starts afresh: a drag whose release went elsewhere must
    // not go on from where it was.
    dragEnded();
    pressPoint_.reset();
    dragging_ = false;
    if (event->button() == Qt::LeftButton) pressPoint_ = event->position();
}

void SelectionOverlayView::mouseMoveEvent(QMouseEvent* event) {
    if (pressPoint_ && !(event->buttons() & Qt::LeftButton)) {
        // The release never came here.
        dragEnded();
        pressPoint_.reset();
        dragging_ = false;
    }
    if (pressPoint_) {
        // A drag starts once the pointer moved at least a point.
        if (!dragging_ && QLineF(*pressPoint_, event->position()).length() >= 1) dragging_ = true;
        if (dragging_) dragChanged(*pressPoint_, event->position());
        return;
    }
    hover(event->position());
}

void SelectionOverlayView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressPoint_) return;
    if (dragging_) dragEnded();
    else tap(event->position());
    pressPoint_.reset();
    dragging_ = false;
}

void SelectionOverlayView::leaveEvent(QEvent*) { leave(); }

}  // namespace yux

#include "editor/floating_trim_preview_window.hpp"

#include <algorithm>
#include <coroutine>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "editor/export_editor_view.hpp"
#include "editor/export_progress_sheet.hpp"
#include "model/recording_shortcut.hpp"
#include "platform/async/main_thread.hpp"
#include "platform/async/sleep.hpp"

namespace yux {

namespace {

constexpr std::uint32_t kSpaceKey = 49;
constexpr std::uint32_t kIKey = 34;
constexpr std::uint32_t kOKey = 31;
// How often a quit looks whether a cancelled export has ended.
constexpr std::chrono::milliseconds kQuitPollInterval{50};

std::uint32_t storedModifiers(Qt::KeyboardModifiers modifiers) {
    std::uint32_t bits = 0;
    if (modifiers & Qt::ShiftModifier) bits |= RecordingShortcut::shift;
    if (modifiers & Qt::ControlModifier) bits |= RecordingShortcut::control;
    if (modifiers & Qt::AltModifier) bits |= RecordingShortcut::option;
    if (modifiers & Qt::MetaModifier) bits |= RecordingShortcut::command;
    return bits;
}

// The modifier flags that the debug log's key lines carry: caps lock, shift, control, Alt and
// Super at bits 16 to 20, fixed so that a reader of the log decodes them the same on any desktop.
// The stored shortcuts have bits of their own. Caps Lock is the X11 lock mask.
std::uint64_t eventModifierFlags(Qt::KeyboardModifiers modifiers, quint32 x11State) {
    constexpr quint32 kX11LockMask = 2;
    std::uint64_t flags = 0;
    if (x11State & kX11LockMask) flags |= 1u << 16;
    if (modifiers & Qt::ShiftModifier) flags |= 1u << 17;
    if (modifiers & Qt::ControlModifier) flags |= 1u << 18;
    if (modifiers & Qt::AltModifier) flags |= 1u << 19;
    if (modifiers & Qt::MetaModifier) flags |= 1u << 20;
    return flags;
}

// Dims the window behind the sheet and takes the clicks meant for it.
class SheetBackdrop : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0, 0, 0, 90));
    }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }
    void wheelEvent(QWheelEvent* event) override { event->accept(); }
};

}  // namespace

bool isTrimWindowKey(std::uint32_t keyCode) { return keyCode == kSpaceKey || keyCode == kIKey || keyCode == kOKey; }

TrimWindowKeyAction trimWindowKeyAction(const TrimWindowKeyFacts& facts) {
    if (!isTrimWindowKey(facts.keyCode)) return TrimWindowKeyAction::passOn;
    if (facts.hasSheet || facts.textFieldFocused || (facts.modifiers & RecordingShortcut::modifierMask) ||
        facts.exporting)
        return TrimWindowKeyAction::passOn;
    if (facts.autoRepeat) return TrimWindowKeyAction::swallow;
    switch (facts.keyCode) {
        case kOKey: return TrimWindowKeyAction::setEnd;
        case kIKey: return TrimWindowKeyAction::setStart;
        default: return TrimWindowKeyAction::toggle;
    }
}

// Window.

TrimPreviewWindowController::TrimPreviewWindowController(std::shared_ptr<ExportEditorSession> model,
                                                         QWidget* content)
    : QWidget(nullptr, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint |
                           Qt::CustomizeWindowHint),
      contentController_(std::move(model)) {
    setWindowTitle(QStringLiteral("Recording — Export"));
    // The editor's Undo button owns Ctrl+Z here; the application's menu adds no second one.
    setProperty("yuxOwnsUndo", true);
    setFixedSize(kWidth, kHeight);
    auto weakSelf = QPointer<TrimPreviewWindowController>(this);
    auto closeAction = [weakSelf] {
        if (weakSelf) weakSelf->closeWindow();
    };
    content_ = content ? content : new ExportEditorView(contentController_, closeAction);
    content_->setParent(this);
    content_->setGeometry(rect());

    backdrop_ = new SheetBackdrop(this);
    backdrop_->setGeometry(rect());
    sheet_ = new ExportProgressSheet(contentController_, closeAction, backdrop_);
    backdrop_->hide();

    auto* session = contentController_.get();
    connect(session, &ExportEditorSession::isExportingChanged, this, &TrimPreviewWindowController::refreshSheet);
    connect(session, &ExportEditorSession::savedChanged, this, &TrimPreviewWindowController::refreshSheet);
    connect(session, &ExportEditorSession::errorMessageChanged, this, &TrimPreviewWindowController::refreshAlert);
    refreshSheet();

    qApp->installEventFilter(this);
    keyboardMonitor_ = true;
}

TrimPreviewWindowController::~TrimPreviewWindowController() {
    if (keyboardMonitor_) qApp->removeEventFilter(this);
}

void TrimPreviewWindowController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    content_->setGeometry(rect());
    backdrop_->setGeometry(rect());
    sheet_->adjustSize();
    sheet_->move((width() - sheet_->width()) / 2, 0);
}

void TrimPreviewWindowController::refreshSheet() {
    bool wanted = sheet_->wanted();
    // Under the sheet, the alert or the question nothing is live: no clicks, no shortcuts.
    content_->setEnabled(!wanted && !alert_ && !discardQuestion_);
    if (wanted == backdrop_->isVisible()) return;
    backdrop_->setVisible(wanted);
    if (wanted) {
        backdrop_->raise();
        sheet_->adjustSize();
        sheet_->move((width() - sheet_->width()) / 2, 0);
        sheet_->setFocus();
    }
}

void TrimPreviewWindowController::refreshAlert() {
    const auto& message = contentController_->errorMessage();
    if (!message) {
        if (alert_) alert_->close();
        return;
    }
    if (alert_) {
        alert_->setText(QString::fromStdString(*message));
        return;
    }
    alert_ = new QMessageBox(QMessageBox::Warning, QStringLiteral("Export"), QString::fromStdString(*message),
                             QMessageBox::Ok, this);
    alert_->setWindowModality(Qt::WindowModal);
    alert_->setAttribute(Qt::WA_DeleteOnClose);
    std::weak_ptr<ExportEditorSession> weak = contentController_;
    connect(alert_, &QMessageBox::finished, this, [this, weak] {
        if (auto session = weak.lock()) session->clearErrorMessage();
        alert_ = nullptr;
        refreshSheet();
    });
    alert_->open();
    refreshSheet();
}

bool TrimPreviewWindowController::hasSheet() const { return backdrop_->isVisible() || alert_ || discardQuestion_; }

bool TrimPreviewWindowController::windowShouldClose() const { return !contentController_->isExporting(); }

void TrimPreviewWindowController::closeWindow() {
    bool sheetShown = hasSheet();
    contentController_->logCloseRequest(sheetShown);
    if (contentController_->isExporting()) return;
    if (alert_) alert_->close();
    if (discardQuestion_) discardQuestion_->close();
    backdrop_->hide();
    closeConfirmed_ = true;
    close();
}

void TrimPreviewWindowController::closeForQuit() {
    quitting_ = true;
    removeKeyboardMonitor();
    contentController_->cancelExport();
    if (contentController_->playing()) contentController_->togglePlayback();
    if (alert_) alert_->close();
    if (discardQuestion_) discardQuestion_->close();
    close();
}

void TrimPreviewWindowController::closeEvent(QCloseEvent* event) {
    if (quitting_) {
        // No outcome: the session keeps the take pending, noted for the next start.
        event->accept();
        return;
    }
    if (!windowShouldClose()) {
        event->ignore();
        return;
    }
    if (!closeConfirmed_ && !contentController_->hasSaved()) {
        event->ignore();
        askToDiscard();
        return;
    }
    event->accept();
    windowWillClose();
}

void TrimPreviewWindowController::askToDiscard() {
    if (discardQuestion_) {
        discardQuestion_->raise();
        discardQuestion_->activateWindow();
        return;
    }
    // One question at a time over the window.
    if (alert_) alert_->close();
    auto* question = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(kDiscardTitle),
                                     QString::fromUtf8(kDiscardTitle), QMessageBox::NoButton, this);
    question->setInformativeText(QString::fromUtf8(kDiscardText));
    // The question stands out above its explanation, which reads on one line.
    question->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { font-weight: bold; }"
                                           "QLabel#qt_msgbox_informativelabel { min-width: 340px; }"));
    auto* discard = question->addButton(QString::fromUtf8(kDiscardButton), QMessageBox::DestructiveRole);
    auto* keep = question->addButton(QString::fromUtf8(kKeepEditingButton), QMessageBox::RejectRole);
    question->setDefaultButton(keep);
    question->setEscapeButton(keep);
    question->setWindowModality(Qt::WindowModal);
    question->setAttribute(Qt::WA_DeleteOnClose);
    discardQuestion_ = question;
    connect(question, &QMessageBox::finished, this, [this, question, discard] {
        const bool discarding = question->clickedButton() == discard && !quitting_;
        discardQuestion_ = nullptr;
        refreshSheet();
        if (discarding) closeWindow();
    });
    question->open();
    refreshSheet();
}

void TrimPreviewWindowController::removeKeyboardMonitor() {
    if (!keyboardMonitor_) return;
    qApp->removeEventFilter(this);
    keyboardMonitor_ = false;
}

void TrimPreviewWindowController::windowWillClose() {
    removeKeyboardMonitor();
    // The outcome handler may release this window: keep the session until the call returns.
    auto session = contentController_;
    session->completeWithDiscardIfNeeded();
}

bool TrimPreviewWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    bool climbing = lastKey_ == event && lastReceiver_ && lastReceiver_ != widget && widget->isAncestorOf(lastReceiver_);
    lastKey_ = event;
    lastReceiver_ = widget;
    if (climbing) return false;

    auto keyCode = X11KeyMap::keyCode(static_cast<std::uint8_t>(key->nativeScanCode()));
    if (key->nativeScanCode() > 255 || !keyCode || !isTrimWindowKey(*keyCode)) return false;

    // Keys go to the focused widget first, so the first receiver is the responder.
    QWidget* responder = widget != this ? widget : nullptr;
    TrimWindowKeyFacts facts;
    facts.keyCode = *keyCode;
    facts.modifiers = storedModifiers(key->modifiers());
    facts.autoRepeat = key->isAutoRepeat();
    facts.hasSheet = hasSheet();
    facts.textFieldFocused = qobject_cast<QLineEdit*>(responder) || qobject_cast<QAbstractSpinBox*>(responder);
    facts.exporting = contentController_->isExporting();
    contentController_->logKeyboard(static_cast<int>(*keyCode), eventModifierFlags(key->modifiers(), key->nativeModifiers()),
                                    responder ? responder->metaObject()->className() : "");

    switch (trimWindowKeyAction(facts)) {
        case TrimWindowKeyAction::passOn: return false;
        case TrimWindowKeyAction::swallow: return true;
        case TrimWindowKeyAction::toggle: contentController_->togglePlayback(); return true;
        case TrimWindowKeyAction::setStart:
            contentController_->setEdge(RecordingEdit::Edge::start, contentController_->playhead());
            return true;
        case TrimWindowKeyAction::setEnd:
            contentController_->setEdge(RecordingEdit::Edge::end, contentController_->playhead());
            return true;
    }
    return false;
}

// Presenting.

struct FloatingTrimPreviewWindow::Presentation {
    std::unique_ptr<TrimPreviewWindowController> controller;
};

struct FloatingTrimPreviewWindow::Registry {
    // The newest window; a later presentation takes the slot.
    std::shared_ptr<Presentation> active;
    // Every window still open, so an earlier one replaced in the slot lives on until it closes
    // and reports its own outcome.
    std::vector<std::shared_ptr<Presentation>> open;
};

namespace {

// A result handed over once and awaited once, on the main thread.
struct OutcomeSlot {
    std::optional<TrimPreviewOutcome> outcome;
    std::coroutine_handle<> waiter;

    void resume(TrimPreviewOutcome value) {
        if (outcome) return;
        outcome = std::move(value);
        if (auto handle = std::exchange(waiter, {})) handle.resume();
    }
};

struct OutcomeAwaiter {
    std::shared_ptr<OutcomeSlot> slot;
    bool await_ready() const noexcept { return slot->outcome.has_value(); }
    void await_suspend(std::coroutine_handle<> handle) { slot->waiter = handle; }
    TrimPreviewOutcome await_resume() const { return *slot->outcome; }
};

}  // namespace

FloatingTrimPreviewWindow::FloatingTrimPreviewWindow(std::shared_ptr<DebugLogBoundary> debugLog)
    : FloatingTrimPreviewWindow(std::move(debugLog), [](std::string path, PendingRecordingArtifact artifact,
                                                         TrimPreviewSaveHandling* saveHandler,
                                                         std::shared_ptr<DebugLogBoundary> log,
                                                         ExportEditorSession::OutcomeHandler onOutcome) {
          return ExportEditorSession::open(std::move(path), std::move(artifact), saveHandler, std::move(log),
                                           std::move(onOutcome));
      }) {}

FloatingTrimPreviewWindow::FloatingTrimPreviewWindow(std::shared_ptr<DebugLogBoundary> debugLog, Opener opener)
    : debugLog_(std::move(debugLog)), opener_(std::move(opener)), registry_(std::make_shared<Registry>()) {}

FloatingTrimPreviewWindow::~FloatingTrimPreviewWindow() = default;

QCoro::Task<void> FloatingTrimPreviewWindow::closeForQuit() {
    // Held here: a window whose export ends may still be released meanwhile.
    const auto open = registry_->open;
    for (const auto& presentation : open) presentation->controller->closeForQuit();
    const auto exporting = [&open] {
        return std::any_of(open.begin(), open.end(),
                           [](const auto& presentation) { return presentation->controller->model().isExporting(); });
    };
    while (exporting()) co_await platform::sleepFor(kQuitPollInterval);
}

TrimPreviewWindowController* FloatingTrimPreviewWindow::activeWindow() const {
    return registry_->active ? registry_->active->controller.get() : nullptr;
}

std::string FloatingTrimPreviewWindow::expandTilde(const std::string& path) {
    if (path == "~") return QDir::homePath().toStdString();
    if (path.rfind("~/", 0) == 0) return QDir::homePath().toStdString() + path.substr(1);
    return path;
}

QCoro::Task<TrimPreviewOutcome> FloatingTrimPreviewWindow::presentTrimPreview(PendingRecordingArtifact artifact,
                                                                             TrimPreviewSaveHandling* saveHandler) {
    auto path = expandTilde(artifact.scratchPath());
    auto slot = std::make_shared<OutcomeSlot>();
    auto presentation = std::make_shared<Presentation>();
    std::weak_ptr<Presentation> weakPresentation = presentation;
    // The handler runs inside the window's own close: it hands the slot and the result over
    // through the event loop, so the window is released and the caller resumed after it returns.
    std::weak_ptr<Registry> weakRegistry = registry_;
    auto onOutcome = [weakRegistry, slot, weakPresentation](TrimPreviewOutcome outcome) {
        platform::postToMain([weakRegistry, slot, weakPresentation, outcome] {
            auto registry = weakRegistry.lock();
            auto mine = weakPresentation.lock();
            if (registry && mine) {
                // Only this presentation: a later window keeps the slot.
                if (registry->active == mine) registry->active.reset();
                std::erase(registry->open, mine);
            }
            slot->resume(outcome);
        });
    };

    std::shared_ptr<ExportEditorSession> session;
    try {
        auto opening = opener_(path, std::move(artifact), saveHandler, debugLog_, onOutcome);
        session = co_await opening;
    } catch (const AppError& error) {
        co_return TrimPreviewOutcome::failed(error);
    } catch (...) {
        co_return TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("trim preview failed"));
    }

    presentation->controller = std::make_unique<TrimPreviewWindowController>(session);
    registry_->active = presentation;
    registry_->open.push_back(presentation);
    auto* window = presentation->controller.get();
    window->show();
    if (auto* screen = window->screen()) {
        auto area = screen->availableGeometry();
        window->move(area.center() - window->rect().center());
    }
    window->raise();
    window->activateWindow();
    // Drop the local hold so the registry alone keeps the window alive.
    presentation.reset();

    OutcomeAwaiter waiting{slot};
    co_return co_await waiting;
}

}  // namespace yux

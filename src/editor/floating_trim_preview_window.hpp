#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QPointer>
#include <QWidget>

#include "editor/export_editor_session.hpp"
#include "session/trim_preview_boundary.hpp"

#include <QMessageBox>

namespace yux {

class ExportProgressSheet;

// What the window does with one key press.
enum class TrimWindowKeyAction { passOn, swallow, toggle, setStart, setEnd };

struct TrimWindowKeyFacts {
    std::uint32_t keyCode = 0;     // stored key code (49 Space, 34 I, 31 O)
    std::uint32_t modifiers = 0;   // stored modifier bits
    bool autoRepeat = false;
    bool hasSheet = false;
    bool textFieldFocused = false;
    bool exporting = false;
};

// Whether the key is one the window logs, and what it does with it.
bool isTrimWindowKey(std::uint32_t keyCode);
TrimWindowKeyAction trimWindowKeyAction(const TrimWindowKeyFacts& facts);

// The trim and export window around one editor session.
class TrimPreviewWindowController : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 1120;
    static constexpr int kHeight = 680;
    // The question before a close would throw away a take that was never exported.
    static constexpr const char* kDiscardTitle = "Discard this recording?";
    static constexpr const char* kDiscardText = "The recording has not been exported. It will be deleted.";
    static constexpr const char* kDiscardButton = "Discard";
    static constexpr const char* kKeepEditingButton = "Keep Editing";

    explicit TrimPreviewWindowController(std::shared_ptr<ExportEditorSession> model, QWidget* content = nullptr);
    ~TrimPreviewWindowController() override;

    ExportEditorSession& model() const { return *contentController_; }
    // The view's close action (Delete, the finished sheet's Close): closes without asking;
    // refused while exporting.
    void closeWindow();
    bool windowShouldClose() const;
    // Whether the sheet, the alert or the discard question covers the window.
    bool hasSheet() const;
    bool keyboardMonitorInstalled() const { return keyboardMonitor_; }
    ExportProgressSheet* sheet() const { return sheet_; }
    QMessageBox* alert() const { return alert_; }
    // Shown when the window is closed (title bar, window manager) before any export succeeded.
    QMessageBox* discardQuestion() const { return discardQuestion_; }
    // Yux quits: the window goes without asking and without an outcome, so the take stays
    // pending for the next start. A running export is cancelled.
    void closeForQuit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void windowWillClose();
    void refreshSheet();
    void refreshAlert();
    void askToDiscard();
    void removeKeyboardMonitor();

    std::shared_ptr<ExportEditorSession> contentController_;
    bool keyboardMonitor_ = false;
    QWidget* content_ = nullptr;
    QWidget* backdrop_ = nullptr;
    ExportProgressSheet* sheet_ = nullptr;
    QPointer<QMessageBox> alert_;
    QPointer<QMessageBox> discardQuestion_;
    // Set by the close action and by "Discard": the next close goes through.
    bool closeConfirmed_ = false;
    bool quitting_ = false;
    // The app filter sees a passed-on key again at each parent it climbs to; act on it once.
    const QEvent* lastKey_ = nullptr;
    QPointer<QWidget> lastReceiver_;
};

// Presents finished recordings in the trim window and waits for how it ended.
class FloatingTrimPreviewWindow : public TrimPreviewBoundary {
public:
    using Opener = std::function<QCoro::Task<std::shared_ptr<ExportEditorSession>>(
        std::string path, PendingRecordingArtifact artifact, TrimPreviewSaveHandling* saveHandler,
        std::shared_ptr<DebugLogBoundary> debugLog, ExportEditorSession::OutcomeHandler onOutcome)>;

    explicit FloatingTrimPreviewWindow(std::shared_ptr<DebugLogBoundary> debugLog);
    // Opens sessions through `opener` (tests give null services).
    FloatingTrimPreviewWindow(std::shared_ptr<DebugLogBoundary> debugLog, Opener opener);
    ~FloatingTrimPreviewWindow() override;

    QCoro::Task<TrimPreviewOutcome> presentTrimPreview(PendingRecordingArtifact artifact,
                                                       TrimPreviewSaveHandling* saveHandler) override;

    // Yux quits: every open window closes for quit; returns once their exports have ended.
    QCoro::Task<void> closeForQuit();

    // The open window, if any.
    TrimPreviewWindowController* activeWindow() const;

    // A leading "~" is the home folder.
    static std::string expandTilde(const std::string& path);

private:
    struct Presentation;
    struct Registry;
    std::shared_ptr<DebugLogBoundary> debugLog_;
    Opener opener_;
    std::shared_ptr<Registry> registry_;
};

}  // namespace yux

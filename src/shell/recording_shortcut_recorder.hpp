#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>

#include <QCoroTask>

#include "model/recording_shortcut.hpp"
#include "platform/async/detached_tasks.hpp"

class QKeyEvent;
class QLabel;
class QPushButton;

namespace yux {

class SymbolLabel;

// A key press as stored shortcut values: the key code of its physical key (none outside the
// key table) and its modifier bits (Super → command, Alt → option, Ctrl → control).
struct ShortcutKeys {
    std::optional<std::uint32_t> keyCode;
    std::uint32_t modifiers = 0;
};
ShortcutKeys shortcutKeysOf(const QKeyEvent& press);
// Shift, Ctrl, Super, the locks…: keys that make no shortcut alone.
bool isModifierKey(int qtKey);

// What the shortcut recorder needs of the panel's model: the shortcut being edited, whether it
// differs from the saved one, the coordinator's blocking message, the suspension of the global
// hot key, and saving.
class ShortcutRecordingModel {
public:
    virtual ~ShortcutRecordingModel() = default;
    virtual RecordingShortcut recordingShortcut() const = 0;
    virtual void setRecordingShortcut(const RecordingShortcut& shortcut) = 0;
    virtual bool isUnsavedSettings() const = 0;
    virtual std::optional<std::string> blockingMessage() const = 0;
    // True: the hot key is suspended (or resumed) and the panel state re-read.
    virtual QCoro::Task<bool> setShortcutRecording(bool recording) = 0;
    virtual void persistSettings() = 0;
};

// Shows the recording shortcut and lets the user press a new one. While capturing, the global
// hot key is suspended and every key press of the application comes here instead of to its
// widget; bare Escape cancels. Only an accepted combination, "Reset" and "Retry" save.
// Main thread only; the model outlives the control.
class RecordingShortcutRecorder : public QWidget {
    Q_OBJECT

public:
    explicit RecordingShortcutRecorder(ShortcutRecordingModel& model, QWidget* parent = nullptr);
    ~RecordingShortcutRecorder() override;

    void begin();
    void finish(bool persist);

    // Whether the record tab shows with no page over it; becoming hidden ends a capture.
    void setPanelVisible(bool visible);
    // Shows the model's state again; its owner calls this when the model changes.
    void refresh();

    bool isRecording() const { return recording_; }
    bool isCapturing() const { return capturing_; }
    const std::optional<QString>& message() const { return message_; }
    QLabel* keyCap() const { return keyCap_; }
    QPushButton* changeButton() const { return change_; }
    QPushButton* resetButton() const { return reset_; }
    QPushButton* retryButton() const { return retry_; }
    QLabel* messageLabel() const { return messageLabel_; }

    static QString rejectedKeyMessage() { return tr("Choose a supported key combination."); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QCoro::Task<void> capture(std::uint64_t attempt);
    void receive(const QKeyEvent& press);
    void stopListening();

    ShortcutRecordingModel& model_;
    bool panelVisible_ = true;
    bool recording_ = false;
    bool capturing_ = false;  // the application's key presses come here
    std::optional<QString> message_;
    // Each begin and finish starts a new attempt; a capture that answers late sees it is stale.
    std::uint64_t attempt_ = 0;
    platform::DetachedTasks tasks_;

    QLabel* keyCap_;
    QPushButton* change_;
    QWidget* recordingRow_;
    QPushButton* reset_;
    QPushButton* retry_;
    QLabel* messageLabel_;
};

}  // namespace yux

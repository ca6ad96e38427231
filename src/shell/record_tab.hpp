#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>
#include <QWidget>

#include "platform/desktop/symbol_painter.hpp"
#include "shell/menu_bar_panel_view_model.hpp"

class QLabel;
class QPushButton;

namespace yux {

class CaptureInputsController;
class RecordingShortcutRecorder;

// How the record tab shows one state of the session and the settings: the primary button's
// label, symbol and colour role, and which controls are locked.
struct RecordTabLook {
    enum class Colour { accent, red, secondary };
    QString statusText;
    QColor statusDot;
    QString label;
    platform::Symbol symbol;
    Colour colour;
    bool primaryEnabled;
    bool saveFolderChangeDisabled;
    bool shortcutControlsDisabled;

    static RecordTabLook of(const RecordingSessionState& state, bool settingsAvailable);
};

// `path` with the home folder written as "~": only the home folder itself or a path inside it.
QString homeShortenedPath(const QString& path, const QString& home);

// The big capsule button that starts, stops or cancels; a shortcut badge may follow its label.
class PrimaryRecordButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PrimaryRecordButton(QWidget* parent = nullptr);
    void present(const QString& label, platform::Symbol symbol, const QColor& fill, const QString& badge);

    platform::Symbol symbol() const { return symbol_; }
    QColor fill() const { return fill_; }
    const QString& badge() const { return badge_; }
    qreal drawnOpacity() const { return isEnabled() ? 1.0 : 0.5; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont labelFont() const;
    QFont badgeFont() const;

    platform::Symbol symbol_ = platform::Symbol::circleFill;
    QColor fill_;
    QString badge_;
};

// A filled circle as large as the widget, in one colour.
class StatusDot : public QWidget {
public:
    StatusDot(int diameter, QColor colour, QWidget* parent = nullptr);
    QColor colour() const { return colour_; }
    void setColour(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_;
};

// The panel's default page: the state, the primary action, the inputs, the save folder and the
// recording shortcut. Everything is read from the view model when it changes; every action goes
// to it. Main thread only.
class RecordTab : public QWidget {
    Q_OBJECT

public:
    // `inputs` may be null: no input controls then. `home` shortens the save folder's path.
    RecordTab(MenuBarPanelViewModel& model, CaptureInputsController* inputs, QString home,
              QWidget* parent = nullptr);

    // Whether the tab shows with no page over it; the shortcut recorder stops listening when not.
    void setRecorderVisible(bool visible);
    void refresh();

    QLabel* notice() const { return notice_; }
    QLabel* statusText() const { return statusText_; }
    StatusDot* statusDot() const { return statusDot_; }
    PrimaryRecordButton* primaryButton() const { return primary_; }
    QWidget* inputControls() const { return inputControls_; }
    QLabel* saveFolderText() const { return folderText_; }
    QPushButton* saveFolderButton() const { return folderButton_; }
    RecordingShortcutRecorder* shortcutRecorder() const { return recorder_; }
    QLabel* shortcutPlaceholder() const { return placeholder_; }

signals:
    // Just before the primary button's intent goes out: a popup holding the keyboard must close
    // first, or the selection that may follow cannot take it.
    void primaryActionRequested();

private:
    MenuBarPanelViewModel& model_;
    QString home_;
    QLabel* notice_;
    StatusDot* statusDot_;
    QLabel* statusText_;
    PrimaryRecordButton* primary_;
    QWidget* inputControls_ = nullptr;
    QLabel* folderText_;
    QPushButton* folderButton_;
    RecordingShortcutRecorder* recorder_;
    QLabel* placeholder_;
};

}  // namespace yux

#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QWidget>

#include "model/recording_source.hpp"
#include "platform/desktop/symbol_painter.hpp"

class QLabel;
class QSlider;
class QToolButton;

namespace yux {

class ExportEditorSession;

// "Screen", "Camera", "System audio", "Microphone", "Audio".
QString sourceDisplayName(RecordingSourceKind kind);
// The symbol that stands for a source kind.
platform::Symbol sourceSymbol(RecordingSourceKind kind);

// Mute button, volume slider (thousandths of a gain, 0…2) and value label of one audio source;
// a double-click on the slider puts the volume back to 100 %.
class EditorAudioControl : public QWidget {
    Q_OBJECT

public:
    EditorAudioControl(std::shared_ptr<ExportEditorSession> model, RecordingSource source, QWidget* parent = nullptr);

    // "muted", else the gain as a whole percent, halves away from zero.
    static QString valueText(float gain, bool muted);
    QToolButton* muteButton() const { return mute_; }
    QSlider* slider() const { return slider_; }
    QLabel* valueLabel() const { return value_; }
    // The symbol the mute button shows: a struck-through speaker while muted.
    platform::Symbol muteSymbol() const { return muteSymbol_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();

    std::shared_ptr<ExportEditorSession> model_;
    RecordingSource source_;
    QToolButton* mute_;
    QSlider* slider_;
    QLabel* value_;
    platform::Symbol muteSymbol_ = platform::Symbol::speakerWave2;
};

// The narrow strip left of the source list that flips between one combined lane and one lane
// per source: a chevron, turned down while expanded, over a bracket along the expanded lanes.
class EditorLaneModeStrip : public QAbstractButton {
    Q_OBJECT

public:
    explicit EditorLaneModeStrip(QWidget* parent = nullptr);
    void setExpanded(bool expanded);
    bool expanded() const { return expanded_; }
    // For screen readers: "Expanded" or "Collapsed".
    QString accessibleValue() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool expanded_ = false;
};

// The column left of the timeline: names each lane and flips between one lane and one per source.
class EditorSourceHeaders : public QWidget {
    Q_OBJECT

public:
    static constexpr int kStripWidth = 18;
    static constexpr int kSpacing = 6;
    static constexpr int kListWidth = 160;
    static constexpr int kWidth = kStripWidth + kSpacing + kListWidth;

    explicit EditorSourceHeaders(std::shared_ptr<ExportEditorSession> model, QWidget* parent = nullptr);

    EditorLaneModeStrip* laneModeStrip() const { return strip_; }
    // The one row standing for every source while collapsed (absent while expanded).
    QAbstractButton* collapsedRow() const { return collapsed_; }
    // One row per source while expanded, in the lanes' order.
    const std::vector<QWidget*>& sourceRows() const { return rows_; }

private:
    void rebuild();

    std::shared_ptr<ExportEditorSession> model_;
    EditorLaneModeStrip* strip_;
    QAbstractButton* collapsed_ = nullptr;
    std::vector<QWidget*> rows_;
};

}  // namespace yux

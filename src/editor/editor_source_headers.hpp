#pragma once

#include <memory>
#include <string>

#include <QWidget>

#include "model/recording_source.hpp"

class QLabel;
class QSlider;
class QToolButton;

namespace yux {

class ExportEditorSession;

// "Screen", "Camera", "System audio", "Microphone", "Audio".
QString sourceDisplayName(RecordingSourceKind kind);

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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();

    std::shared_ptr<ExportEditorSession> model_;
    RecordingSource source_;
    QToolButton* mute_;
    QSlider* slider_;
    QLabel* value_;
};

// The column left of the timeline: names each lane and flips between one lane and one per source.
class EditorSourceHeaders : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 18 + 6 + 160;

    explicit EditorSourceHeaders(std::shared_ptr<ExportEditorSession> model, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void rebuild();

    std::shared_ptr<ExportEditorSession> model_;
    std::vector<QWidget*> rows_;
};

}  // namespace yux

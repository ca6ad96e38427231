#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "model/recording_edit.hpp"
#include "model/recording_source.hpp"

namespace yux {

// Layout and ruler rules of the timeline canvas.
struct EditorTimelineLayout {
    static constexpr double kRulerHeight = 18;
    static constexpr double kCombinedLaneHeight = 72;
    static constexpr double kAudioLaneHeight = 52;
    static constexpr double kVideoLaneHeight = 44;
    static constexpr double kLaneGap = 4;
    // A ruler label roughly every 70 points.
    static constexpr double kRulerLabelSpacing = 70;

    struct Lane {
        double top = 0;
        double height = 0;
    };
    // One combined lane when collapsed, else one per source in order.
    static std::vector<Lane> lanes(const std::vector<RecordingSource>& sources, bool expanded);

    struct Tick {
        double seconds = 0;
        std::string label;
    };
    static double rulerStep(double duration, double width);
    // Ticks k × step up to the duration; sub-second labels are rounded to tenths before
    // minutes and seconds are split, so no label reads ":60.0".
    static std::vector<Tick> rulerTicks(double duration, double width);
};

class ExportEditorSession;
class EditorTrimHandle;

// The timeline's drawing: ruler, lanes with thumbnails and waveforms, sections, the trim range
// and the playhead, with the two trim handles above it. Presses seek; handle drags trim.
class EditorTimelineCanvas : public QWidget {
    Q_OBJECT

public:
    static constexpr double kHandleWidth = 12;

    explicit EditorTimelineCanvas(std::shared_ptr<ExportEditorSession> model, QWidget* parent = nullptr);

    ExportEditorSession& model() const { return *model_; }
    EditorTrimHandle* startHandle() const { return start_; }
    EditorTrimHandle* endHandle() const { return end_; }
    double timeAt(double x) const;
    double xOf(double time) const;

    // Handle drags, in canvas points from where the drag began.
    void beginHandleDrag(RecordingEdit::Edge edge);
    void moveHandleDrag(double translation);
    void endHandleDrag();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void placeHandles();
    void paintLane(QPainter& painter, const RecordingSource* source, double top, double height);
    void paintWaveform(QPainter& painter, const RecordingSource& source, double top, double height);

    std::shared_ptr<ExportEditorSession> model_;
    EditorTrimHandle* start_;
    EditorTrimHandle* end_;
    // The dragged edge's time when its drag began.
    std::optional<double> initialEdge_;
    std::optional<RecordingEdit::Edge> dragEdge_;
    bool seeking_ = false;
};

// One trim handle; drags report to the canvas.
class EditorTrimHandle : public QWidget {
    Q_OBJECT

public:
    EditorTrimHandle(EditorTimelineCanvas* canvas, RecordingEdit::Edge edge);
    RecordingEdit::Edge edge() const { return edge_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    EditorTimelineCanvas* canvas_;
    RecordingEdit::Edge edge_;
    std::optional<double> pressX_;
};

}  // namespace yux

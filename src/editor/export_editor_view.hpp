#pragma once

#include <functional>
#include <memory>

#include <QIcon>
#include <QWidget>

class QLabel;
class QPushButton;
class QSlider;

namespace yux {

class ExportEditorSession;
class EditorPlayer;
class EditorTimeline;
class EditorSidebar;
class EditorSourceHeaders;
class EditorSegmentButton;

// The trim window's content: preview, transport, zoom row, timeline, result and sidebar.
class ExportEditorView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kSidebarWidth = 299;
    static constexpr double kPreviewMaxHeight = 300;
    static constexpr double kZoomStep = 0.5;
    static constexpr int kColumnMargin = 14;
    // Below the lanes, for the timeline's scroll bar.
    static constexpr int kScrollBarRoom = 18;

    ExportEditorView(std::shared_ptr<ExportEditorSession> model, std::function<void()> closeWindow,
                     QWidget* parent = nullptr);

    // The picture's box in a preview area: aspect kept, fitted.
    static QSizeF pictureSize(double aspect, QSizeF area);
    // Played and total output time.
    static double playedTime(const ExportEditorSession& model);

    QWidget* leftColumn() const { return left_; }
    QWidget* preview() const { return preview_; }
    EditorPlayer* player() const { return player_; }
    EditorTimeline* timeline() const { return timeline_; }
    EditorSidebar* sidebar() const { return sidebar_; }
    QPushButton* playButton() const { return play_; }
    QPushButton* splitButton() const { return split_; }
    QPushButton* removeButton() const { return remove_; }
    QPushButton* undoButton() const { return undo_; }
    EditorSegmentButton* speedButton(int index) const { return speeds_[index]; }
    QPushButton* zoomOutButton() const { return zoomOut_; }
    QPushButton* zoomInButton() const { return zoomIn_; }
    QSlider* zoomSlider() const { return zoom_; }
    QLabel* timeLabel() const { return time_; }
    QLabel* summaryLabel() const { return summary_; }

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void placePreview();

    std::shared_ptr<ExportEditorSession> model_;
    QWidget* left_;
    QWidget* preview_;
    EditorPlayer* player_;
    QLabel* badge_;
    QLabel* speedBadge_;
    EditorTimeline* timeline_;
    EditorSourceHeaders* headers_;
    EditorSidebar* sidebar_;
    QPushButton* play_;
    QLabel* time_;
    QPushButton* split_;
    QPushButton* remove_;
    QPushButton* undo_;
    EditorSegmentButton* speeds_[5];
    QPushButton* zoomOut_;
    QPushButton* zoomIn_;
    QSlider* zoom_;
    QLabel* summary_;
    QWidget* resultBar_;
    QIcon playIcon_;
    QIcon pauseIcon_;
    bool started_ = false;
};

}  // namespace yux

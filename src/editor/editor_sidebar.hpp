#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QWidget>

#include "editor/editor_button.hpp"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace yux {

class ExportEditorSession;
class EditorPixelField;

// The export settings column: audio, quality, size, crop, format, summary and the two actions.
class EditorSidebar : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 299;

    EditorSidebar(std::shared_ptr<ExportEditorSession> model, std::function<void()> closeWindow,
                  QWidget* parent = nullptr);

    // "Original" from 0.999, else a whole percent.
    static std::string qualityText(double quality);
    static std::string pixelsText(double width, double height);
    // The text wrapped at words into `width`, cut after the second line with an ellipsis.
    static QString cutToTwoLines(const QString& text, const QFont& font, qreal width);

    QWidget* audioSection() const { return audio_; }
    QLabel* qualityHeading() const { return qualityValue_; }
    QLabel* sizeHeading() const { return sizeValue_; }
    QLabel* cropHeading() const { return cropValue_; }
    QSlider* qualitySlider() const { return quality_; }
    QSlider* scaleSlider() const { return scale_; }
    EditorSegmentButton* cropButton() const { return crop_; }
    EditorSegmentButton* resetButton() const { return reset_; }
    QWidget* cropDetails() const { return cropDetails_; }
    QComboBox* ratioPicker() const { return ratio_; }
    EditorPixelField* cropField(int index) const { return fields_[index]; }
    EditorSegmentButton* formatButton(int index) const { return formats_[index]; }
    QLabel* summaryValue(int row) const { return summary_[row]; }
    QLabel* exportNote() const { return note_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* exportButton() const { return export_; }

private:
    void refresh();

    std::shared_ptr<ExportEditorSession> model_;
    QWidget* audio_ = nullptr;
    QLabel* qualityValue_;
    QLabel* sizeValue_;
    QLabel* cropValue_;
    QSlider* quality_;
    QSlider* scale_;
    EditorSegmentButton* crop_;
    EditorSegmentButton* reset_;
    QWidget* cropDetails_;
    QComboBox* ratio_;
    EditorPixelField* fields_[4];
    EditorSegmentButton* formats_[2];
    QLabel* summary_[4];
    QLabel* note_;
    QPushButton* delete_;
    QPushButton* export_;
};

}  // namespace yux

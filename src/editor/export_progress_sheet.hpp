#pragma once

#include <memory>
#include <string>

#include <QWidget>

#include "model/recording_file.hpp"

class QLabel;
class QProgressBar;
class QPushButton;

namespace yux {

class ExportEditorSession;

// The texts the progress sheet shows for one progress record.
struct ExportProgressTexts {
    // Whole percent, cut towards zero; a fraction outside 0…1 (or NaN) is held to it first.
    static std::string percent(double fraction);
    static std::string section(const RecordingExportProgress& progress);
    // "Preparing…" without a usable estimate (none, negative or not finite).
    static std::string remaining(const std::optional<double>& seconds);
    // "<size> · <width> × <height>"
    static std::string details(std::int64_t bytes, int width, int height);
};

// The modal panel over the editor while an export runs and after it has finished. Only its
// own buttons and the model hide it: it ignores Escape.
class ExportProgressSheet : public QWidget {
    Q_OBJECT

public:
    // `close` closes the editor window.
    ExportProgressSheet(std::shared_ptr<ExportEditorSession> model, std::function<void()> close,
                        QWidget* parent = nullptr);

    static constexpr int kWidth = 440;
    static constexpr int kMargin = 20;

    // Whether the model wants the sheet shown.
    bool wanted() const;
    QString titleText() const;
    QString percentText() const;
    QWidget* percentLabel() const;
    QString sectionText() const;
    QString remainingText() const;
    QString fileNameText() const;
    QString detailsText() const;
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* editAgainButton() const { return editAgain_; }
    QPushButton* revealButton() const { return reveal_; }
    QLabel* revealErrorLabel() const { return revealError_; }
    QPushButton* closeButton() const { return close_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();

    std::shared_ptr<ExportEditorSession> model_;
    std::function<void()> closeWindow_;
    QLabel* title_;
    QLabel* fileName_;
    QLabel* percent_;
    QProgressBar* bar_;
    QLabel* section_;
    QLabel* remaining_;
    QLabel* details_;
    QLabel* revealError_;
    QPushButton* cancel_;
    QPushButton* editAgain_;
    QPushButton* reveal_;
    QPushButton* close_;
};

}  // namespace yux

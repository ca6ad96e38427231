#pragma once

#include <QWidget>

#include "capture/capture_inputs_controller.hpp"
#include "platform/async/detached_tasks.hpp"

namespace yux {

// Switches the microphone and the camera on and off, picks their devices, shows the
// microphone's level and why an input does not work. Everything it shows is read from the
// input controller when painted or rebuilt; every action is handed to it. Full: one row per
// input, stacked; compact: two icon buttons side by side. Main thread only.
class CaptureInputControls : public QWidget {
    Q_OBJECT

public:
    CaptureInputControls(CaptureInputsController& inputs, bool compact = false, QWidget* parent = nullptr);
    ~CaptureInputControls() override;

    bool isCompact() const { return compact_; }
    // Actions handed to the controller and not ended yet.
    std::size_t runningActions() const { return actions_.running(); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Input;
    void buildInput(Input& input);
    void rebuildDeviceLine(Input& input);
    void showNoDevice(Input& input);
    void rebuildMenu(Input& input);
    void showMessage(Input& input);
    void showAvailability();

    CaptureInputsController& inputs_;
    bool compact_;
    platform::DetachedTasks actions_;
    std::vector<std::unique_ptr<Input>> rows_;
    QWidget* spinner_ = nullptr;
};

}  // namespace yux

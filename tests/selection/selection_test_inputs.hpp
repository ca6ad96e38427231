#pragma once

#include <coroutine>
#include <memory>
#include <vector>

#include "capture/camera_frame_feed.hpp"
#include "capture/capture_device_functions.hpp"
#include "capture/capture_device_runtime.hpp"
#include "capture/capture_inputs_controller.hpp"
#include "capture/usb_camera_receiver.hpp"
#include "platform/async/wait_for.hpp"
#include "support/memory_preferences.hpp"

namespace yux::testing {

const CaptureDevice kTestCamera{"usb-Cam_1-video-index0", "HD Camera"};

// An input controller over in-memory devices whose device listing waits for the test, so the
// controller can be held busy.
struct SelectionTestInputs {
    struct Gate {
        std::vector<std::coroutine_handle<>> waiting;
        bool open = true;
        // Awaited through a pointer: coroutine machinery may copy what it awaits.
        struct Wait {
            Gate* gate;
            bool await_ready() const { return gate->open; }
            void await_suspend(std::coroutine_handle<> handle) const { gate->waiting.push_back(handle); }
            void await_resume() const {}
        };
        Wait wait() { return Wait{this}; }
        void release() {
            open = true;
            auto due = std::move(waiting);
            waiting.clear();
            for (auto handle : due) handle.resume();
        }
    };

    MemoryPreferences memory;
    std::shared_ptr<StubbedPulseV4l2Capture> platform = StubbedPulseV4l2Capture::create({{}, {kTestCamera}});
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::shared_ptr<Gate> sleepers = std::make_shared<Gate>(Gate{{}, false});
    std::shared_ptr<CaptureDeviceRuntime> runtime;
    std::unique_ptr<CaptureInputsController> controller;

    SelectionTestInputs() {
        auto functions = platform->functions();
        auto held = gate;
        functions.waitForDevices = [held]() -> QCoro::Task<void> { co_await held->wait(); };
        runtime = std::make_shared<CaptureDeviceRuntime>(functions, std::make_shared<ScriptedUSBCameraReceiver>(),
                                                         std::make_shared<CameraFrameFeed>());
        controller = std::make_unique<CaptureInputsController>(
            memory.store(), runtime, platform::SystemSettingsOpener::create_null(true), platform::SystemLog::create_null(),
            [sleepers = sleepers](std::chrono::milliseconds, platform::CancelToken token) -> QCoro::Task<void> {
                // The monitor gets no second pass until the controller is gone.
                co_await sleepers->wait();
                token.throwIfCancelled();
            });
    }
    ~SelectionTestInputs() {
        controller.reset();
        sleepers->open = true;
        sleepers->release();
    }
    // Starts the controller and keeps it busy until release().
    void holdBusy() {
        gate->open = false;
        startTask = controller->start();
    }
    void release() {
        gate->release();
        platform::waitForTask(startTask);
    }
    void start() {
        auto task = controller->start();
        platform::waitForTask(task);
    }
    void enableCamera() {
        auto task = controller->toggle(CaptureInputKind::camera);
        platform::waitForTask(task);
    }

    QCoro::Task<void> startTask;
};

}  // namespace yux::testing

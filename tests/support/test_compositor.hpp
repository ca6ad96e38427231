#pragma once

#include <filesystem>

namespace yux::testing {

// The test desktop's compositing manager, stopped and started by a test. scripts/test-env.sh
// keeps the process id of the one running in $YUX_TEST_ENV_DIR/compositor.pid and stops that
// one at the end; this keeps the file up to date. The destructor leaves the desktop with a
// compositing manager or without one, as it was found.
class TestCompositor {
public:
    TestCompositor();
    ~TestCompositor();
    TestCompositor(const TestCompositor&) = delete;
    TestCompositor& operator=(const TestCompositor&) = delete;

    // Whether anything owns the compositing manager selection of $DISPLAY's screen.
    static bool running();
    // Stops it and waits until its selection is gone; false when it did not go.
    bool stop();
    // Starts one as test-env.sh does and waits until it owns the selection; false when not.
    bool start();
    // Stops it when it runs, else starts one.
    bool toggle() { return running() ? stop() : start(); }

private:
    std::filesystem::path folder_;
    bool wasRunning_;
};

}  // namespace yux::testing

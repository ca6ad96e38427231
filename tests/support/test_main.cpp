// Test entry: a Qt application object exists for the whole run, so coroutines can be driven
// with QCoro::waitFor and queued calls reach the main thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef YUX_FAILURE_SNAPSHOTS
#include "support/desktop_snapshot.hpp"
#endif

#ifdef YUX_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    TestApplication app(argc, argv);
#ifdef YUX_FAILURE_SNAPSHOTS
    yux::testing::snapshotDesktopOnFailure(YUX_FAILURE_SNAPSHOTS);
#endif
    return RUN_ALL_TESTS();
}

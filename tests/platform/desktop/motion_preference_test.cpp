#include "platform/desktop/motion_preference.hpp"

#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include "support/temporary_directory.hpp"

namespace yux::platform {
namespace {

// Puts a settings tool of the test's own first on PATH while it lives.
class FakeSettingsTool {
public:
    explicit FakeSettingsTool(const std::string& script) : saved_(qgetenv("PATH")) {
        const QString path = QString::fromStdString(folder_.file("gsettings"));
        QFile tool(path);
        tool.open(QIODevice::WriteOnly);
        tool.write(QByteArray::fromStdString("#!/bin/sh\n" + script + "\n"));
        tool.close();
        tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QByteArray::fromStdString(folder_.path().string()) + ":" + saved_);
    }
    ~FakeSettingsTool() { qputenv("PATH", saved_); }

private:
    yux::testing::TemporaryDirectory folder_;
    QByteArray saved_;
};

TEST(MotionPreference, AnimationsSwitchedOffMeanLessMotionAndEveryOtherAnswerDoesNot) {
    // Time enough for a tool started on a loaded machine: the answer, not its speed, is checked.
    const auto patient = std::chrono::minutes(1);
    {
        FakeSettingsTool tool(R"([ "$3" = enable-animations ] && echo false)");
        EXPECT_TRUE(MotionPreference::create(patient).reduceMotion());
    }
    {
        FakeSettingsTool tool("echo true");
        EXPECT_FALSE(MotionPreference::create(patient).reduceMotion());
    }
    {
        FakeSettingsTool tool("echo 'No such schema' >&2; exit 1");
        EXPECT_FALSE(MotionPreference::create(patient).reduceMotion());
    }
    EXPECT_TRUE(MotionPreference::create_null(true).reduceMotion());
}

TEST(MotionPreference, AHungSettingsToolDoesNotHoldUpTheAnswer) {
    // The bound is a hang's, far above the answer's own time limit, and below the tool's hang.
    FakeSettingsTool tool("sleep 120; echo false");
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(MotionPreference::create().reduceMotion());
    EXPECT_LT(clock.elapsed(), 60'000);
}

}  // namespace
}  // namespace yux::platform

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
    {
        FakeSettingsTool tool(R"([ "$3" = enable-animations ] && echo false)");
        EXPECT_TRUE(MotionPreference::create().reduceMotion());
    }
    {
        FakeSettingsTool tool("echo true");
        EXPECT_FALSE(MotionPreference::create().reduceMotion());
    }
    {
        FakeSettingsTool tool("echo 'No such schema' >&2; exit 1");
        EXPECT_FALSE(MotionPreference::create().reduceMotion());
    }
    EXPECT_TRUE(MotionPreference::create_null(true).reduceMotion());
}

TEST(MotionPreference, AHungSettingsToolDoesNotHoldUpTheAnswer) {
    FakeSettingsTool tool("sleep 10; echo false");
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(MotionPreference::create().reduceMotion());
    EXPECT_LT(clock.elapsed(), 2000);
}

}  // namespace
}  // namespace yux::platform

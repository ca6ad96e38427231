#include "platform/desktop/system_settings_opener.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QByteArray>
#include <QtGlobal>

#include <chrono>
#include <thread>

#include "support/temporary_directory.hpp"

using yux::platform::SystemSettingsOpener;
using yux::testing::readWholeFile;
using yux::testing::TemporaryDirectory;
using yux::testing::writeWholeFile;

namespace {

const std::string kMicrophone = SystemSettingsOpener::kMicrophonePane;
const std::string kCamera = SystemSettingsOpener::kCameraPane;

// A PATH of fake settings programs that write how they were called, and the desktop's name.
class FakeDesktop {
public:
    explicit FakeDesktop(const char* desktop) : savedPath_(qgetenv("PATH")), savedDesktop_(qgetenv("XDG_CURRENT_DESKTOP")) {
        qputenv("PATH", QByteArray::fromStdString(folder_.path().string()));
        qputenv("XDG_CURRENT_DESKTOP", desktop);
    }
    ~FakeDesktop() {
        qputenv("PATH", savedPath_);
        qputenv("XDG_CURRENT_DESKTOP", savedDesktop_);
    }
    void install(const std::string& program) {
        auto path = folder_.file(program);
        writeWholeFile(path, "#!/bin/sh\necho \"" + program + " $*\" >> '" + folder_.file("calls") + "'\n");
        ::chmod(path.c_str(), 0755);
    }
    // Waits for the detached program to have written its line.
    std::string calls() const {
        for (int i = 0; i < 200; ++i) {
            auto text = readWholeFile(folder_.file("calls"));
            if (!text.empty()) return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }

private:
    TemporaryDirectory folder_;
    QByteArray savedPath_;
    QByteArray savedDesktop_;
};

}  // namespace

TEST(SystemSettingsOpener, OpensTheCurrentDesktopsSoundSettingsFirst) {
    {
        FakeDesktop desktop("KDE");
        desktop.install("gnome-control-center");
        desktop.install("systemsettings");
        desktop.install("pavucontrol");
        auto opener = SystemSettingsOpener::create();
        EXPECT_TRUE(opener.open(kMicrophone));
        EXPECT_EQ(desktop.calls(), "systemsettings kcm_pulseaudio\n");
        EXPECT_EQ(opener.track_openedPanes()->urls, (std::vector{kMicrophone}));
    }
    {
        FakeDesktop desktop("ubuntu:GNOME");
        desktop.install("gnome-control-center");
        desktop.install("systemsettings");
        EXPECT_TRUE(SystemSettingsOpener::create().open(kMicrophone));
        EXPECT_EQ(desktop.calls(), "gnome-control-center sound\n");
    }
    {
        FakeDesktop desktop("XFCE");
        desktop.install("pavucontrol");
        EXPECT_TRUE(SystemSettingsOpener::create().open(kMicrophone));
        EXPECT_EQ(desktop.calls(), "pavucontrol \n");
    }
}

TEST(SystemSettingsOpener, FailsWithoutASettingsProgramAndForTheCamera) {
    FakeDesktop desktop("GNOME");
    auto opener = SystemSettingsOpener::create();
    EXPECT_FALSE(opener.open(kMicrophone));
    desktop.install("gnome-control-center");
    EXPECT_FALSE(opener.open(kCamera)) << "no desktop has a camera access page";
    EXPECT_TRUE(opener.track_openedPanes()->urls.empty());
}

TEST(SystemSettingsOpener, CopiesShareOneRecordInOrder) {
    auto opener = SystemSettingsOpener::create_null(true);
    auto copy = opener;
    EXPECT_TRUE(opener.open(kMicrophone));
    EXPECT_TRUE(copy.open(kCamera));
    EXPECT_TRUE(copy.open(kMicrophone));
    EXPECT_EQ(opener.track_openedPanes()->urls, (std::vector{kMicrophone, kCamera, kMicrophone}));
    EXPECT_EQ(copy.track_openedPanes(), opener.track_openedPanes());

    auto refusing = SystemSettingsOpener::create_null(false);
    EXPECT_FALSE(refusing.open(kMicrophone));
    EXPECT_TRUE(refusing.track_openedPanes()->urls.empty());
}

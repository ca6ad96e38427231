#include "platform/x11/shareable_content.hpp"

#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <map>

namespace yux::platform {

double desktopScale() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr) return 1.0;
    double ratio = app->devicePixelRatio();
    return ratio > 0 ? ratio : 1.0;
}

ShareableContent ShareableContentProvider::assemble(const std::vector<X11Monitor>& monitors,
                                                    const std::vector<X11ClientWindow>& windows, double scale,
                                                    std::int32_t thisProcess, const std::string& thisApplication,
                                                    const std::function<std::string(const std::string&)>& nameForClass) {
    ShareableContent content;
    content.scale = scale > 0 ? scale : 1.0;
    auto points = [&](const PixelRect& r) {
        return PointRect{r.x / content.scale, r.y / content.scale, r.width / content.scale, r.height / content.scale};
    };
    for (const auto& monitor : monitors) {
        content.displays.push_back(
            {monitor.id, monitor.bounds.width, monitor.bounds.height, points(monitor.bounds), monitor.bounds});
    }
    if (auto main = mainMonitorIndex(monitors)) content.mainDisplayID = monitors[*main].id;

    std::map<std::int32_t, std::string> classes;
    std::vector<std::string> withoutProcess;
    for (const auto& window : windows) {
        content.windows.push_back({window.id, window.processID, window.applicationClass, window.title,
                                   points(window.frame), window.onScreen, static_cast<int>(window.layer),
                                   window.inTaskBar});
        if (window.applicationClass.empty()) continue;
        // An application is named after the class of its first window that has one.
        if (window.processID) {
            classes.try_emplace(*window.processID, window.applicationClass);
        } else if (std::ranges::find(withoutProcess, window.applicationClass) == withoutProcess.end()) {
            withoutProcess.push_back(window.applicationClass);
        }
    }
    for (const auto& [pid, applicationClass] : classes) {
        content.applications.push_back({pid, applicationClass, nameForClass(applicationClass)});
    }
    // Windows of no known process make one application per class.
    for (const auto& applicationClass : withoutProcess) {
        content.applications.push_back({0, applicationClass, nameForClass(applicationClass)});
    }
    if (!classes.contains(thisProcess)) {
        content.applications.push_back({thisProcess, thisApplication, thisApplication});
    }
    return content;
}

ShareableContentProvider ShareableContentProvider::create() {
    return ShareableContentProvider({[] {
        auto connection = X11Connection::open();
        std::string self = QCoreApplication::instance() != nullptr ? QCoreApplication::applicationName().toStdString()
                                                                   : std::string("yux");
        return assemble(listMonitors(*connection), listClientWindows(*connection), desktopScale(), getpid(), self,
                        &applicationNameForClass);
    }});
}

ShareableContentProvider ShareableContentProvider::create_null(ShareableContent content) {
    return ShareableContentProvider({[content] { return content; }});
}

}  // namespace yux::platform

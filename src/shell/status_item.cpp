#include "shell/status_item.hpp"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

namespace yux {

std::unique_ptr<StatusItem> StatusItem::create() {
    struct Live {
        std::unique_ptr<QSystemTrayIcon> icon;
        std::unique_ptr<QMenu> menu;
    };
    auto live = std::make_shared<Live>();
    return std::make_unique<StatusItem>(Operations{
        .isAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); },
        .show =
            [live](const QIcon& icon, const QString& tooltip, std::function<void()> onTrigger, Menu menu) {
                live->menu = std::make_unique<QMenu>();
                QObject::connect(live->menu->addAction(QObject::tr("Open Yux")), &QAction::triggered,
                                 [open = menu.open] { open(); });
                QObject::connect(live->menu->addAction(QObject::tr("Quit Yux")), &QAction::triggered,
                                 [quit = menu.quit] { quit(); });
                live->icon = std::make_unique<QSystemTrayIcon>(icon);
                live->icon->setToolTip(tooltip);
                live->icon->setContextMenu(live->menu.get());
                QObject::connect(live->icon.get(), &QSystemTrayIcon::activated,
                                 [onTrigger](QSystemTrayIcon::ActivationReason reason) {
                                     if (reason == QSystemTrayIcon::Trigger) onTrigger();
                                 });
                live->icon->show();
            },
        .geometry = [live] { return live->icon ? live->icon->geometry() : QRect(); },
        .hide =
            [live] {
                live->icon.reset();
                live->menu.reset();
            },
    });
}

std::unique_ptr<StatusItem> StatusItem::create_null(bool available, QRect geometry) {
    return std::make_unique<StatusItem>(Operations{
        .isAvailable = [available] { return available; },
        .show = [](const QIcon&, const QString&, std::function<void()>, Menu) {},
        .geometry = [geometry] { return geometry; },
        .hide = [] {},
    });
}

void StatusItem::show(const QIcon& icon, const QString& tooltip, std::function<void()> onTrigger, Menu menu) {
    onTrigger_ = onTrigger;
    menu_ = menu;
    shown_ = true;
    operations_.show(icon, tooltip, std::move(onTrigger), std::move(menu));
    shownEvents_.record(Shown{tooltip});
}

void StatusItem::hide() {
    if (!shown_) return;
    shown_ = false;
    operations_.hide();
}

void StatusItem::simulate_trigger() const {
    if (shown_ && onTrigger_) onTrigger_();
}
void StatusItem::simulate_open() const {
    if (shown_ && menu_.open) menu_.open();
}
void StatusItem::simulate_quit() const {
    if (shown_ && menu_.quit) menu_.quit();
}

}  // namespace yux

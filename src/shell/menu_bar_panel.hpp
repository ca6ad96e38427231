#pragma once

#include <QAbstractButton>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "model/date.hpp"
#include "platform/desktop/system_log.hpp"
#include "shell/menu_bar_panel_state.hpp"

class QLabel;
class QVBoxLayout;

namespace yux {

class CaptureInputsController;
class MenuBarPanelViewModel;
class RecordTab;
namespace platform {
class AppUpdateController;
class FileManagerReveal;
class LaunchAtStartup;
}

enum class PanelTab { record, history };
enum class InspectorPage { settings, about };

// "5 sec. ago", "3 min. ago", "in 2 hr.": the distance from `now` in its largest whole unit.
std::string relativeTimeText(Date then, Date now);

// The tray panel: header, Record and History tabs, footer; Settings and About replace it all
// until their back action. It keeps only which tab and page show; everything else comes from
// its view model, which it owns. Main thread only.
class MenuBarPanel : public QWidget {
    Q_OBJECT

public:
    struct Services {
        CaptureInputsController* inputs = nullptr;  // none: no input controls
        platform::SystemLog log = platform::SystemLog::create_null();
        std::shared_ptr<platform::FileManagerReveal> reveal;
        std::function<void()> quit;
        QVariant version;  // the build's version setting, as read
        QString home;      // shortens the save folder's path
        std::function<Date()> now = &Date::now;
        platform::AppUpdateController* updates = nullptr;  // none: no badge and no updates section
        platform::LaunchAtStartup* login = nullptr;        // none: no launch-at-login row
    };

    MenuBarPanel(MenuBarIntentHandling& intentHandler, MenuBarStateProviding& stateProvider, Services services,
                 QWidget* parent = nullptr);
    ~MenuBarPanel() override;

    MenuBarPanelViewModel& model() const { return *model_; }
    PanelTab selectedTab() const { return selectedTab_; }
    std::optional<InspectorPage> inspector() const { return inspector_; }
    void selectTab(PanelTab tab);
    void openInspector(std::optional<InspectorPage> page);

    RecordTab* recordTab() const { return recordTab_; }
    QWidget* mainPanel() const { return main_; }
    QWidget* historyPage() const { return history_; }
    // The line that says a recording's folder could not be shown; none when all went well.
    const std::optional<QString>& revealFailure() const { return revealFailure_; }
    QWidget* inspectorPage() const { return page_; }
    QColor backgroundTint() const;

    QSize sizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuildHistory();
    void showCurrent();
    void reveal(const std::string& path);
    void setRevealFailure(std::optional<QString> message);

    Services services_;
    MenuBarPanelViewModel* model_;
    PanelTab selectedTab_ = PanelTab::record;
    std::optional<InspectorPage> inspector_;
    QVBoxLayout* outer_;
    QWidget* main_;
    QAbstractButton* recordTabButton_;
    QAbstractButton* historyTabButton_;
    RecordTab* recordTab_;
    QWidget* history_;
    QWidget* page_ = nullptr;
    std::optional<QString> revealFailure_;
};

}  // namespace yux

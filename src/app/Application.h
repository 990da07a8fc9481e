#pragma once
// The desktop program: creates both windows, binds their events to their actions, and starts.
// The download list and settings windows are made by the main window's actions when wanted.
// A download that ends (done or failed) while none of the program's windows is active is told
// on the desktop, naming the file; a click on that notification opens the download list.

#include "app/DesktopNotifications.h"
#include "app/MainWindow.h"
#include "app/MainWindowActions.h"
#include "app/UpdateWindow.h"
#include "app/UpdateWindowActions.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vantorel::app {

inline constexpr std::string_view kQuitWhileDownloadingText = "下载尚未完成，确定要退出吗？";
inline constexpr std::string_view kQuitKeepsPartText =
    "下载将暂停，已下载的部分会保留，下次可在下载列表中从中断处继续。";

class Application {
  public:
    // Builds both windows and binds their events; nothing is shown and no action runs yet.
    // Downloads follow `preferences`; `downloadList` is where the list is kept between runs
    // (empty: nowhere).
    explicit Application(const settings::Preferences& preferences = {},
                         std::string downloadList = {});
    ~Application();

    // Shows the main window and runs both windows' created actions. The update window stays
    // hidden until the update flow shows it.
    void start();
    // Brings the main window to the front (a later start of the program asked for it).
    void comeToFront();

    MainWindow& mainWindow() { return *main_; }
    UpdateWindow& updateWindow() { return *update_; }
    MainWindowActions& mainActions() { return *mainActions_; }
    UpdateWindowActions& updateActions() { return *updateActions_; }
    DesktopNotifications& notifications() { return notifications_; }

    // Asked once when the main window closes while downloads run; true quits. A yes/no
    // question by default (tests replace it).
    std::function<bool()> confirmQuit;

  private:
    // Closing the main window ends the program; running downloads (the list's and the update)
    // are paused, keeping their parts, once the user agrees.
    bool mayQuit();
    void tellEnded(const download::QueueItem& item);

    std::unique_ptr<MainWindow> main_;
    std::unique_ptr<UpdateWindow> update_;
    std::unique_ptr<MainWindowActions> mainActions_;
    std::unique_ptr<UpdateWindowActions> updateActions_;
    DesktopNotifications notifications_;
};

} // namespace vantorel::app

#pragma once
// The desktop program: creates both windows, binds their events to their actions, and starts.

#include "app/MainWindow.h"
#include "app/MainWindowActions.h"
#include "app/UpdateWindow.h"
#include "app/UpdateWindowActions.h"

#include <functional>
#include <memory>
#include <string_view>

namespace vantorel::app {

inline constexpr std::string_view kQuitWhileDownloadingText = "下载尚未完成，确定要退出吗？";
inline constexpr std::string_view kQuitKeepsPartText =
    "已下载的部分会保留，下次下载同一文件时从中断处继续。";

class Application {
  public:
    // Builds both windows and binds their events; nothing is shown and no action runs yet.
    Application();
    ~Application();

    // Shows the main window and runs both windows' created actions. The update window stays
    // hidden until the update flow shows it.
    void start();

    MainWindow& mainWindow() { return *main_; }
    UpdateWindow& updateWindow() { return *update_; }
    MainWindowActions& mainActions() { return *mainActions_; }
    UpdateWindowActions& updateActions() { return *updateActions_; }

    // Asked when the main window closes while a download runs; true quits. A yes/no question
    // by default (tests replace it).
    std::function<bool()> confirmQuit;

  private:
    // Closing the main window ends the program; a running download (an entry's or the update)
    // is interrupted, keeping its part, once the user agrees.
    bool mayQuit();

    std::unique_ptr<MainWindow> main_;
    std::unique_ptr<UpdateWindow> update_;
    std::unique_ptr<MainWindowActions> mainActions_;
    std::unique_ptr<UpdateWindowActions> updateActions_;
};

} // namespace vantorel::app

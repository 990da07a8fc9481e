#pragma once
// The desktop program: creates both windows, binds their events to their actions, and starts.

#include "app/MainWindow.h"
#include "app/MainWindowActions.h"
#include "app/UpdateWindow.h"
#include "app/UpdateWindowActions.h"

#include <memory>

namespace vantorel::app {

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
    UpdateWindowActions& updateActions() { return *updateActions_; }

  private:
    std::unique_ptr<MainWindow> main_;
    std::unique_ptr<UpdateWindow> update_;
    std::unique_ptr<MainWindowActions> mainActions_;
    std::unique_ptr<UpdateWindowActions> updateActions_;
};

} // namespace vantorel::app

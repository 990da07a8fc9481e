#pragma once
// The main window: search box, result list, details area, tip panel, contact pictures, and the
// pop-up menu 子菜单 (never shown as a menu bar).

#include "app/DescribedWindow.h"

#include <QAction>
#include <QMenu>
#include <functional>
#include <vector>

namespace vantorel::app {

class MainWindow : public DescribedWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);

    QMenu& menu() const { return *menu_; }
    // The menu's entries, top to bottom.
    const std::vector<QAction*>& menuEntries() const { return entries_; }
    // Shows 子菜单 at a global position; the chosen entry's action runs.
    void popUpMenu(QPoint globalPosition);

    // Asked when the window is about to close; false keeps it open.
    std::function<bool()> closeGuard;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QMenu* menu_;
    std::vector<QAction*> entries_;
};

} // namespace vantorel::app

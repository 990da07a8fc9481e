#pragma once
// The main window: search box, result list, details area, tip panel, contact pictures, and the
// pop-up menu 子菜单 (never shown as a menu bar). 标签_进度 takes no mouse input itself; a left
// click on it (pressed and released over it) is reported as progressLabelClicked. The menu's
// 下载列表 and 设置 also answer Ctrl+J and Ctrl+, anywhere in the window.

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

  signals:
    void progressLabelClicked();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool overProgressLabel(QPointF position) const;

    bool pressedOnProgressLabel_ = false;
    QMenu* menu_;
    std::vector<QAction*> entries_;
};

} // namespace vantorel::app

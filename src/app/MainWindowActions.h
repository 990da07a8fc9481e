#pragma once
// What the main window's bound events do. One method per bound event.

#include "app/WindowEvents.h"

namespace vantorel::app {

class MainWindowActions : public MainWindowEvents {
  public:
    explicit MainWindowActions(MainWindow& window) : window_(window) {}

    void onCreated() override;
    void onMoreClicked() override;
    void onMenuOpenLink1() override;
    void onMenuOpenLink2() override;
    void onMenuCopyLink1() override;
    void onMenuCopyLink2() override;
    void onMenuCopyDetails() override;
    void onSearchClicked() override;
    void onSearchBoxKeyPressed(int virtualKey, int shift) override;
    void onListDoubleClicked(int x, int y, int shift) override;
    void onListKeyPressed(int virtualKey, int shift) override;
    void onDownloadClicked() override;
    void onChatPicturePressed(int x, int y, int shift) override;
    void onGroupPicturePressed(int x, int y, int shift) override;
    void onTipButtonPressed(int x, int y, int shift) override;
    void onTipPicturePressed(int x, int y, int shift) override;
    void onTipCloseReleased(int x, int y, int shift) override;

  private:
    MainWindow& window_;
};

} // namespace vantorel::app

#include "app/MainWindowActions.h"

#include "app/MainWindow.h"

namespace vantorel::app {

// Start-up work (settings file, version check).
void MainWindowActions::onCreated() {}

// Result list and entry actions.
void MainWindowActions::onMoreClicked() {}
void MainWindowActions::onMenuOpenLink1() {}
void MainWindowActions::onMenuOpenLink2() {}
void MainWindowActions::onMenuCopyLink1() {}
void MainWindowActions::onMenuCopyLink2() {}
void MainWindowActions::onMenuCopyDetails() {}
void MainWindowActions::onListDoubleClicked(int, int, int) {}
void MainWindowActions::onListKeyPressed(int, int) {}
void MainWindowActions::onDownloadClicked() {}

// Catalogue search.
void MainWindowActions::onSearchClicked() {}
void MainWindowActions::onSearchBoxKeyPressed(int, int) {}

// Contact and tip links.
void MainWindowActions::onChatPicturePressed(int, int, int) {}
void MainWindowActions::onGroupPicturePressed(int, int, int) {}
void MainWindowActions::onTipButtonPressed(int, int, int) {}
void MainWindowActions::onTipPicturePressed(int, int, int) {}
void MainWindowActions::onTipCloseReleased(int, int, int) {}

} // namespace vantorel::app

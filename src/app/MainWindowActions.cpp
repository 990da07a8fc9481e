#include "app/MainWindowActions.h"

#include "app/MainWindow.h"
#include "update/SettingsFile.h"

#include <QCoreApplication>
#include <cstdio>

namespace vantorel::app {

// Start-up work: the settings file. A failed write does not stop the program; it is reported
// once, on the terminal. (The version check starts with the update window's created action.)
void MainWindowActions::onCreated() {
    const std::string folder = QCoreApplication::applicationDirPath().toStdString();
    if (Status written = update::writeProgramSettings(folder); !written)
        std::fprintf(stderr, "vantorel: %s\n", written.error().message.c_str());
}

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
void MainWindowActions::onTipPicturePressed(int, int, int) {}

// The picture beside the tip panel opens it; its "╳" closes it.
void MainWindowActions::onTipButtonPressed(int, int, int) {
    if (QWidget* panel = window_.control("外形框_二维码")) {
        panel->show();
    }
}

void MainWindowActions::onTipCloseReleased(int, int, int) {
    if (QWidget* panel = window_.control("外形框_二维码")) {
        panel->hide();
    }
}

} // namespace vantorel::app

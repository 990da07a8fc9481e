#include "app/MainWindowActions.h"

#include "app/MainWindow.h"
#include "app/Messages.h"
#include "app/Pictures.h"
#include "app/Placement.h"
#include "app/Widgets.h"
#include "app/WindowBuilder.h"
#include "catalogue/ContactLinks.h"
#include "common/Config.h"
#include "settings/SettingsFile.h"

#include <QApplication>
#include <cstdio>

namespace vantorel::app {

namespace {

// Shows a window of its own in front, inside the screen; one that was closed opens again
// beside the main window, one that was minimised comes back.
void present(QWidget& window, const QWidget& mainWindow) {
    keepOnScreen(window);
    if (!window.isVisible())
        placeBeside(window, mainWindow);
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

constexpr int kEnterKey = 13;

} // namespace

MainWindowActions::MainWindowActions(MainWindow& window, const settings::Preferences& preferences,
                                     std::string downloadList)
    : window_(window), downloads_(preferences, std::move(downloadList)),
      catalogue_(window, downloads_) {
    QObject::connect(&downloads_, &Downloads::added, &window_, [this](std::uint64_t id) {
        showDownloadList();
        downloadListWindow().select(id);
    });
}

// Start-up work: the settings file. A failed write does not stop the program; it is reported
// once, on the terminal. (The version check starts with the update window's created action.)
void MainWindowActions::onCreated() {
    const std::string folder = QCoreApplication::applicationDirPath().toStdString();
    if (Status written = settings::writeProgramSettings(folder); !written)
        std::fprintf(stderr, "vantorel: %s\n", written.error().message.c_str());
    // The list file found at start could not be read (the queue has told stderr).
    if (const QString notice = downloads_.loadNotice(); !notice.isEmpty())
        showMessage(&window_, QMessageBox::Warning, notice);
}

// Result list and entry actions.
void MainWindowActions::onMoreClicked() {
    catalogue_.popUpMenu();
}
void MainWindowActions::onMenuOpenLink1() {
    catalogue_.openAddress(1);
}
void MainWindowActions::onMenuOpenLink2() {
    catalogue_.openAddress(2);
}
void MainWindowActions::onMenuCopyLink1() {
    catalogue_.copyAddress(1);
}
void MainWindowActions::onMenuCopyLink2() {
    catalogue_.copyAddress(2);
}
void MainWindowActions::onMenuCopyDetails() {
    catalogue_.copyDetails();
}
void MainWindowActions::onMenuDownloadList() {
    showDownloadList();
}
void MainWindowActions::onMenuSettings() {
    showSettings();
}
void MainWindowActions::onListDoubleClicked(int x, int y, int) {
    catalogue_.showEntry(catalogue_.rowAt(x, y));
}
void MainWindowActions::onListRightClicked(int x, int y, int) {
    catalogue_.showEntryMenu(x, y);
}
void MainWindowActions::onListKeyPressed(int virtualKey, int) {
    if (virtualKey == kEnterKey)
        catalogue_.showEntry(catalogue_.selectedRow());
}
void MainWindowActions::onDownloadClicked() {
    catalogue_.download();
}
void MainWindowActions::onProgressLabelClicked() {
    showDownloadList();
}

// The download list and the settings.
DownloadListWindow& MainWindowActions::downloadListWindow() {
    if (!listWindow_) {
        listWindow_ = std::make_unique<DownloadListWindow>(downloads_);
        listWindow_->shell = catalogue_.shell; // one desktop bridge for the whole window set
    }
    return *listWindow_;
}

SettingsWindow& MainWindowActions::settingsWindow() {
    if (!settingsWindow_)
        settingsWindow_ = std::make_unique<SettingsWindow>(
            [this](const settings::Preferences& preferences) { applySettings(preferences); });
    return *settingsWindow_;
}

void MainWindowActions::showDownloadList() {
    present(downloadListWindow(), window_);
}

void MainWindowActions::showSettings() {
    SettingsWindow& settings = settingsWindow();
    // What the file holds now; a file that cannot be read leaves the ones in effect shown.
    auto saved = settings::loadPreferences();
    if (!saved)
        showFailure(&window_, saved.error());
    settings.load(saved ? *saved : downloads_.preferences());
    present(settings, window_);
}

void MainWindowActions::applySettings(const settings::Preferences& preferences) {
    downloads_.apply(preferences);
    if (!proxyPinned)
        net::setSessionProxy(settings::proxyChoice(preferences));
}

// Catalogue search.
void MainWindowActions::onSearchClicked() {
    catalogue_.search();
}
void MainWindowActions::onSearchBoxKeyPressed(int virtualKey, int) {
    if (virtualKey == kEnterKey)
        catalogue_.search();
}

// Contact and tip links.
void MainWindowActions::openContactLink(const Result<std::string>& link) {
    Status opened = link ? catalogue_.shell.open(*link) : Status(link.error());
    if (!opened)
        showFailure(&window_, opened.error());
}

void MainWindowActions::onChatPicturePressed(int, int, int) {
    openContactLink(catalogue::chatLink(config::chatQQ()));
}

void MainWindowActions::onGroupPicturePressed(int, int, int) {
    if (groupLinkPending_)
        return;
    groupLinkPending_ = true;
    workers_.run(
        [base = config::groupLinkBase(), number = config::groupQQ()](std::stop_token stop) {
            return catalogue::fetchGroupLink(base, number, std::move(stop));
        },
        [this](Result<std::string> link) {
            groupLinkPending_ = false;
            openContactLink(link);
        });
}

// Switches the panel between its two captions and pictures.
void MainWindowActions::onTipPicturePressed(int, int, int) {
    const bool alternative = !tipAlternative_;
    auto picture = loadResourceImage(alternative ? QStringLiteral(":/assets/tip-wechat.jpg")
                                                 : QStringLiteral(":/assets/tip-qr.png"));
    if (!picture) {
        showMessage(&window_, QMessageBox::Warning, toQString(picture.error().message));
        return;
    }
    tipAlternative_ = alternative;
    window_.control<PictureBox>("图片框_asd")->setImage(*picture);
    window_.control<QLabel>("标签_asd")
        ->setText(toQString(alternative ? kTipCaptionAlternative : kTipCaption));
}

// The picture beside the tip panel opens it; its "╳" closes it.
void MainWindowActions::onTipButtonPressed(int, int, int) {
    if (QWidget* panel = window_.control("外形框_二维码")) {
        panel->show();
    }
}

void MainWindowActions::onTipCloseReleased(int, int, int) {
    QWidget* panel = window_.control("外形框_二维码");
    if (!panel)
        return;
    // Closed from the keyboard: the focus goes back to the picture that opens the panel.
    const bool hadFocus = panel->isAncestorOf(QApplication::focusWidget());
    panel->hide();
    if (hadFocus)
        window_.control("图片框1")->setFocus(Qt::OtherFocusReason);
}

} // namespace vantorel::app

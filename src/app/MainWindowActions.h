#pragma once
// What the main window's bound events do. One method per bound event; the catalogue flows live
// in CatalogueController.
//
// The download list: the actions own the program's one list (Downloads). Its window opens from
// the menu's "下载列表", a click on 标签_进度, and whenever a download is added; the settings
// window from the menu's "设置". Both are made the first time they are wanted. Saved settings
// go to the list at once and to the session's proxy (unless the proxy is pinned, as for the
// offline services).
//
// Contact and tip links:
// - 图片框_发起QQ聊天 opens "tencent://message/?uin=" + the chat number with the desktop.
// - 图片框_发起QQ群聊 asks the group-link service (on a worker, redirects off) and opens the
//   address of its "Location: " header, when that is a web address.
// - Not set numbers or service, a reply without a location, and a link no program handles are
//   each told in a message (ContactLinks.h, Shell.h).
// - 图片框1 shows the tip panel; "╳" (标签__关闭, released) hides it; 图片框_asd switches the
//   panel between "·打赏通道：" with the QR code and "·微信打赏通道：" with the second picture.

#include "app/CatalogueController.h"
#include "app/DownloadListWindow.h"
#include "app/Downloads.h"
#include "app/SettingsWindow.h"
#include "app/WindowEvents.h"
#include "app/Workers.h"

#include <QImage>
#include <memory>
#include <string>

namespace vantorel::app {

inline constexpr std::string_view kTipCaption = "·打赏通道：";
inline constexpr std::string_view kTipCaptionAlternative = "·微信打赏通道：";

class MainWindowActions : public MainWindowEvents {
  public:
    // `downloadList`: where the list is kept between runs; empty: nowhere.
    explicit MainWindowActions(MainWindow& window, const settings::Preferences& preferences = {},
                               std::string downloadList = {});

    void onCreated() override;
    void onMoreClicked() override;
    void onMenuOpenLink1() override;
    void onMenuOpenLink2() override;
    void onMenuCopyLink1() override;
    void onMenuCopyLink2() override;
    void onMenuCopyDetails() override;
    void onMenuDownloadList() override;
    void onMenuSettings() override;
    void onSearchClicked() override;
    void onSearchBoxKeyPressed(int virtualKey, int shift) override;
    void onListDoubleClicked(int x, int y, int shift) override;
    void onListKeyPressed(int virtualKey, int shift) override;
    void onListRightClicked(int x, int y, int shift) override;
    void onDownloadClicked() override;
    void onProgressLabelClicked() override;
    void onChatPicturePressed(int x, int y, int shift) override;
    void onGroupPicturePressed(int x, int y, int shift) override;
    void onTipButtonPressed(int x, int y, int shift) override;
    void onTipPicturePressed(int x, int y, int shift) override;
    void onTipCloseReleased(int x, int y, int shift) override;

    CatalogueController& catalogue() { return catalogue_; }
    Downloads& downloads() { return downloads_; }
    // The windows, made when first asked for.
    DownloadListWindow& downloadListWindow();
    SettingsWindow& settingsWindow();
    void showDownloadList();
    void showSettings();

    // The session's proxy stays as it is when settings are saved.
    bool proxyPinned = false;
    bool groupLinkPending() const { return groupLinkPending_; }

  private:
    void openContactLink(const Result<std::string>& link);

    void applySettings(const settings::Preferences& preferences);

    MainWindow& window_;
    Downloads downloads_;
    CatalogueController catalogue_;
    std::unique_ptr<DownloadListWindow> listWindow_;
    std::unique_ptr<SettingsWindow> settingsWindow_;
    bool tipAlternative_ = false;
    bool groupLinkPending_ = false;
    Workers workers_; // last: destroyed first, so no delivery outlives the members above
};

} // namespace vantorel::app

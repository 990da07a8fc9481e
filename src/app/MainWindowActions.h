#pragma once
// What the main window's bound events do. One method per bound event; the catalogue flows live
// in CatalogueController.
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
#include "app/WindowEvents.h"
#include "app/Workers.h"

#include <QImage>

namespace vantorel::app {

inline constexpr std::string_view kTipCaption = "·打赏通道：";
inline constexpr std::string_view kTipCaptionAlternative = "·微信打赏通道：";

class MainWindowActions : public MainWindowEvents {
  public:
    explicit MainWindowActions(MainWindow& window);

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
    void onListRightClicked(int x, int y, int shift) override;
    void onDownloadClicked() override;
    void onChatPicturePressed(int x, int y, int shift) override;
    void onGroupPicturePressed(int x, int y, int shift) override;
    void onTipButtonPressed(int x, int y, int shift) override;
    void onTipPicturePressed(int x, int y, int shift) override;
    void onTipCloseReleased(int x, int y, int shift) override;

    CatalogueController& catalogue() { return catalogue_; }
    bool groupLinkPending() const { return groupLinkPending_; }

  private:
    void openContactLink(const Result<std::string>& link);

    MainWindow& window_;
    CatalogueController catalogue_;
    bool tipAlternative_ = false;
    bool groupLinkPending_ = false;
    Workers workers_; // last: destroyed first, so no delivery outlives the members above
};

} // namespace vantorel::app

#pragma once
// The bound events of both windows, one handler each. bindMainWindow / bindUpdateWindow route
// every bound event of the built controls to its handler; the actions classes implement them.
// Mouse handlers take client x, y and the shift state (1 Ctrl, 2 Shift, 4 Alt); key handlers
// take the virtual key code and the shift state.

namespace vantorel::app {

class MainWindow;
class UpdateWindow;

class MainWindowEvents {
  public:
    virtual ~MainWindowEvents() = default;

    virtual void onCreated() = 0;
    virtual void onMoreClicked() = 0;      // 按钮_更多
    virtual void onMenuOpenLink1() = 0;    // 通过外部访问_下载地址1
    virtual void onMenuOpenLink2() = 0;    // 通过外部访问_下载地址2
    virtual void onMenuCopyLink1() = 0;    // 复制_下载地址1
    virtual void onMenuCopyLink2() = 0;    // 复制_下载地址2
    virtual void onMenuCopyDetails() = 0;  // 复制_应用详细
    virtual void onMenuDownloadList() = 0; // 下载列表
    virtual void onMenuSettings() = 0;     // 设置
    virtual void onSearchClicked() = 0;    // 按钮_搜索
    virtual void onSearchBoxKeyPressed(int virtualKey, int shift) = 0; // 编辑框_搜索框
    virtual void onListDoubleClicked(int x, int y, int shift) = 0;   // 超级列表框_应用列表
    virtual void onListKeyPressed(int virtualKey, int shift) = 0;    // 超级列表框_应用列表
    virtual void onListRightClicked(int x, int y, int shift) = 0;    // 超级列表框_应用列表
    virtual void onDownloadClicked() = 0;                            // 按钮_下载
    virtual void onProgressLabelClicked() = 0;                       // 标签_进度
    virtual void onChatPicturePressed(int x, int y, int shift) = 0;  // 图片框_发起QQ聊天
    virtual void onGroupPicturePressed(int x, int y, int shift) = 0; // 图片框_发起QQ群聊
    virtual void onTipButtonPressed(int x, int y, int shift) = 0;    // 图片框1
    virtual void onTipPicturePressed(int x, int y, int shift) = 0;   // 图片框_asd
    virtual void onTipCloseReleased(int x, int y, int shift) = 0;    // 标签__关闭
};

class UpdateWindowEvents {
  public:
    virtual ~UpdateWindowEvents() = default;

    virtual void onCreated() = 0;
    virtual void onConfirmClicked() = 0; // 按钮_确认更新
    virtual void onCloseClicked() = 0;   // 按钮_关闭更新, and Esc in the window
};

void bindMainWindow(MainWindow& window, MainWindowEvents& events);
void bindUpdateWindow(UpdateWindow& window, UpdateWindowEvents& events);

} // namespace vantorel::app

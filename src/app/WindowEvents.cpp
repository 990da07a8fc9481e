#include "app/WindowEvents.h"

#include "app/MainWindow.h"
#include "app/UpdateWindow.h"
#include "app/Widgets.h"

#include <QPushButton>

namespace vantorel::app {

namespace {

// The controls come from the fixed description; were one missing, connect() would refuse the
// null sender with a warning rather than bind anything wrongly.
template <class T> T* find(const DescribedWindow& window, std::string_view name) {
    return window.control<T>(name);
}

} // namespace

void bindMainWindow(MainWindow& window, MainWindowEvents& events) {
    MainWindowEvents* e = &events;
    QObject::connect(&window, &DescribedWindow::created, &window, [e] { e->onCreated(); });
    QObject::connect(find<QPushButton>(window, "按钮_更多"), &QPushButton::clicked, &window,
                     [e] { e->onMoreClicked(); });

    const auto& entries = window.menuEntries();
    void (MainWindowEvents::*menuHandlers[])() = {
        &MainWindowEvents::onMenuOpenLink1,   &MainWindowEvents::onMenuOpenLink2,
        &MainWindowEvents::onMenuCopyLink1,   &MainWindowEvents::onMenuCopyLink2,
        &MainWindowEvents::onMenuCopyDetails, &MainWindowEvents::onMenuDownloadList,
        &MainWindowEvents::onMenuSettings};
    for (std::size_t i = 0; i < entries.size() && i < std::size(menuHandlers); ++i) {
        QObject::connect(entries[i], &QAction::triggered, &window,
                         [e, handler = menuHandlers[i]] { (e->*handler)(); });
    }

    QObject::connect(find<QPushButton>(window, "按钮_搜索"), &QPushButton::clicked, &window,
                     [e] { e->onSearchClicked(); });
    QObject::connect(find<EditBox>(window, "编辑框_搜索框"), &EditBox::keyPressed, &window,
                     [e](int key, int shift) { e->onSearchBoxKeyPressed(key, shift); });
    auto* list = find<ReportList>(window, "超级列表框_应用列表");
    QObject::connect(list, &ReportList::listDoubleClicked, &window,
                     [e](int x, int y, int shift) { e->onListDoubleClicked(x, y, shift); });
    QObject::connect(list, &ReportList::keyPressed, &window,
                     [e](int key, int shift) { e->onListKeyPressed(key, shift); });
    QObject::connect(list, &ReportList::rightClicked, &window,
                     [e](int x, int y, int shift) { e->onListRightClicked(x, y, shift); });
    QObject::connect(find<QPushButton>(window, "按钮_下载"), &QPushButton::clicked, &window,
                     [e] { e->onDownloadClicked(); });
    QObject::connect(&window, &MainWindow::progressLabelClicked, &window,
                     [e] { e->onProgressLabelClicked(); });

    QObject::connect(find<PictureBox>(window, "图片框_发起QQ聊天"), &PictureBox::leftButtonPressed,
                     &window,
                     [e](int x, int y, int shift) { e->onChatPicturePressed(x, y, shift); });
    QObject::connect(find<PictureBox>(window, "图片框_发起QQ群聊"), &PictureBox::leftButtonPressed,
                     &window,
                     [e](int x, int y, int shift) { e->onGroupPicturePressed(x, y, shift); });
    QObject::connect(find<PictureBox>(window, "图片框1"), &PictureBox::leftButtonPressed, &window,
                     [e](int x, int y, int shift) { e->onTipButtonPressed(x, y, shift); });
    QObject::connect(find<PictureBox>(window, "图片框_asd"), &PictureBox::leftButtonPressed,
                     &window,
                     [e](int x, int y, int shift) { e->onTipPicturePressed(x, y, shift); });
    QObject::connect(find<Label>(window, "标签__关闭"), &Label::leftButtonReleased, &window,
                     [e](int x, int y, int shift) { e->onTipCloseReleased(x, y, shift); });
}

void bindUpdateWindow(UpdateWindow& window, UpdateWindowEvents& events) {
    UpdateWindowEvents* e = &events;
    QObject::connect(&window, &DescribedWindow::created, &window, [e] { e->onCreated(); });
    QObject::connect(find<ImageButton>(window, "按钮_确认更新"), &ImageButton::clicked, &window,
                     [e] { e->onConfirmClicked(); });
    QObject::connect(find<ImageButton>(window, "按钮_关闭更新"), &ImageButton::clicked, &window,
                     [e] { e->onCloseClicked(); });
    // The window has no frame to close it by; Esc does what its ╳ does.
    QObject::connect(&window, &UpdateWindow::escapePressed, &window, [e] { e->onCloseClicked(); });
    QObject::connect(&window, &UpdateWindow::enterPressed, &window, [e] { e->onConfirmClicked(); });
}

} // namespace vantorel::app

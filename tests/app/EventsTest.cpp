// Every bound event of both windows reaches its own handler, once, with its arguments.

#include "app/MainWindow.h"
#include "app/UpdateWindow.h"
#include "app/Widgets.h"
#include "app/WindowEvents.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vantorel::app;

namespace {

struct Recorder : MainWindowEvents, UpdateWindowEvents {
    std::vector<std::string> calls;

    void record(std::string call) { calls.push_back(std::move(call)); }
    static std::string args(int a, int b) {
        return "(" + std::to_string(a) + "," + std::to_string(b) + ")";
    }
    static std::string args(int a, int b, int c) {
        return "(" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + ")";
    }

    void onCreated() override { record("created"); }
    void onMoreClicked() override { record("more"); }
    void onMenuOpenLink1() override { record("openLink1"); }
    void onMenuOpenLink2() override { record("openLink2"); }
    void onMenuCopyLink1() override { record("copyLink1"); }
    void onMenuCopyLink2() override { record("copyLink2"); }
    void onMenuCopyDetails() override { record("copyDetails"); }
    void onMenuDownloadList() override { record("downloadList"); }
    void onMenuSettings() override { record("settings"); }
    void onSearchClicked() override { record("search"); }
    void onSearchBoxKeyPressed(int vk, int shift) override {
        record("searchKey" + args(vk, shift));
    }
    void onListDoubleClicked(int x, int y, int s) override { record("listDouble" + args(x, y, s)); }
    void onListKeyPressed(int vk, int shift) override { record("listKey" + args(vk, shift)); }
    void onListRightClicked(int x, int y, int s) override { record("listRight" + args(x, y, s)); }
    void onDownloadClicked() override { record("download"); }
    void onProgressLabelClicked() override { record("progressLabel"); }
    void onChatPicturePressed(int x, int y, int s) override { record("chat" + args(x, y, s)); }
    void onGroupPicturePressed(int x, int y, int s) override { record("group" + args(x, y, s)); }
    void onTipButtonPressed(int x, int y, int s) override { record("tipButton" + args(x, y, s)); }
    void onTipPicturePressed(int x, int y, int s) override { record("tipPicture" + args(x, y, s)); }
    void onTipCloseReleased(int x, int y, int s) override { record("tipClose" + args(x, y, s)); }
    void onConfirmClicked() override { record("confirm"); }
    void onCloseClicked() override { record("close"); }

    // The calls since the last take.
    std::vector<std::string> take() { return std::exchange(calls, {}); }
};

using Calls = std::vector<std::string>;

void mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, held, modifiers);
    QApplication::sendEvent(target, &event);
}

void click(QWidget* target) {
    mouse(target, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton);
    mouse(target, QEvent::MouseButtonRelease, {5, 5}, Qt::LeftButton);
}

void key(QWidget* target, int qtKey, Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(QEvent::KeyPress, qtKey, modifiers);
    QApplication::sendEvent(target, &event);
}

} // namespace

TEST(MainWindowEvents, EachBoundEventReachesItsOwnHandler) {
    MainWindow window;
    Recorder recorder;
    bindMainWindow(window, recorder);
    window.show();
    window.control("外形框_二维码")->show();

    window.announceCreated();
    EXPECT_EQ(recorder.take(), Calls{"created"});

    // Disabled buttons take no clicks; enabled, each reaches its handler.
    click(window.control("按钮_更多"));
    click(window.control("按钮_下载"));
    EXPECT_EQ(recorder.take(), Calls{});
    window.control("按钮_更多")->setEnabled(true);
    window.control("按钮_下载")->setEnabled(true);
    click(window.control("按钮_更多"));
    EXPECT_EQ(recorder.take(), Calls{"more"});
    click(window.control("按钮_下载"));
    EXPECT_EQ(recorder.take(), Calls{"download"});
    click(window.control("按钮_搜索"));
    EXPECT_EQ(recorder.take(), Calls{"search"});

    const Calls menu{"openLink1",   "openLink2",    "copyLink1", "copyLink2",
                     "copyDetails", "downloadList", "settings"};
    for (std::size_t i = 0; i < menu.size(); ++i) {
        window.menuEntries()[i]->trigger();
        EXPECT_EQ(recorder.take(), Calls{menu[i]});
    }

    key(window.control("编辑框_搜索框"), Qt::Key_Return, Qt::NoModifier);
    EXPECT_EQ(recorder.take(), Calls{"searchKey(13,0)"});
    key(window.control("编辑框_搜索框"), Qt::Key_4, Qt::KeypadModifier | Qt::ControlModifier);
    EXPECT_EQ(recorder.take(), Calls{"searchKey(52,1)"});

    auto* list = window.control<ReportList>("超级列表框_应用列表");
    key(list, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(recorder.take(), Calls{"listKey(40,2)"});
    QWidget* viewport = list->viewport();
    mouse(viewport, QEvent::MouseButtonDblClick, {30, 12}, Qt::LeftButton, Qt::AltModifier);
    // Client pixels of the list: the viewport sits below the header, inside the border.
    const QPoint client =
        viewport->mapTo(list, QPoint(30, 12)) - QPoint(list->frameWidth(), list->frameWidth());
    EXPECT_EQ(recorder.take(), Calls{"listDouble" + Recorder::args(client.x(), client.y(), 4)});
    mouse(viewport, QEvent::MouseButtonDblClick, {30, 12}, Qt::RightButton);
    EXPECT_EQ(recorder.take(), Calls{});
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(30, 12),
                                 viewport->mapToGlobal(QPoint(30, 12)), Qt::ShiftModifier);
    QApplication::sendEvent(viewport, &rightClick);
    EXPECT_EQ(recorder.take(), Calls{"listRight" + Recorder::args(client.x(), client.y(), 2)});

    const std::pair<const char*, const char*> pictures[] = {
        {"图片框_发起QQ聊天", "chat"},
        {"图片框_发起QQ群聊", "group"},
        {"图片框1", "tipButton"},
        {"图片框_asd", "tipPicture"},
    };
    for (const auto& [name, handler] : pictures) {
        mouse(window.control(name), QEvent::MouseButtonPress, {3, 4}, Qt::LeftButton,
              Qt::ShiftModifier);
        mouse(window.control(name), QEvent::MouseButtonRelease, {3, 4}, Qt::LeftButton);
        EXPECT_EQ(recorder.take(), Calls{std::string(handler) + "(3,4,2)"});
        mouse(window.control(name), QEvent::MouseButtonPress, {3, 4}, Qt::RightButton);
        EXPECT_EQ(recorder.take(), Calls{}) << name;
    }

    // 标签_进度 takes no mouse input; a click on it still reaches its handler from the window.
    const QPoint onLabel = window.control("标签_进度")->geometry().center();
    mouse(&window, QEvent::MouseButtonPress, onLabel, Qt::LeftButton);
    mouse(&window, QEvent::MouseButtonRelease, onLabel, Qt::LeftButton);
    EXPECT_EQ(recorder.take(), Calls{"progressLabel"});
    mouse(&window, QEvent::MouseButtonPress, onLabel, Qt::LeftButton);
    mouse(&window, QEvent::MouseButtonRelease, {5, 5}, Qt::LeftButton);
    EXPECT_EQ(recorder.take(), Calls{});

    // The close label reports the release, not the press; a release off the label is no
    // release over it.
    QWidget* close = window.control("标签__关闭");
    mouse(close, QEvent::MouseButtonPress, {6, 7}, Qt::LeftButton);
    EXPECT_EQ(recorder.take(), Calls{});
    mouse(close, QEvent::MouseButtonRelease, {6, 7}, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(recorder.take(), Calls{"tipClose(6,7,1)"});
    mouse(close, QEvent::MouseButtonPress, {6, 7}, Qt::LeftButton);
    mouse(close, QEvent::MouseButtonRelease, {60, 7}, Qt::LeftButton);
    EXPECT_EQ(recorder.take(), Calls{});
}

TEST(UpdateWindowEvents, EachBoundEventReachesItsOwnHandler) {
    UpdateWindow window;
    Recorder recorder;
    bindUpdateWindow(window, recorder);
    window.show();

    window.announceCreated();
    EXPECT_EQ(recorder.take(), Calls{"created"});
    click(window.control("按钮_确认更新"));
    EXPECT_EQ(recorder.take(), Calls{"confirm"});
    click(window.control("按钮_关闭更新"));
    EXPECT_EQ(recorder.take(), Calls{"close"});
    // Esc where the focus is, passed on by a control that has no use for it, closes as ╳ does.
    key(window.control("文本框_更新内容"), Qt::Key_Escape, Qt::NoModifier);
    EXPECT_EQ(recorder.take(), Calls{"close"});
    // Its image buttons take no focus; Enter stands in for 立即更新 (keypad Enter too).
    key(window.control("文本框_更新内容"), Qt::Key_Return, Qt::NoModifier);
    key(&window, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(recorder.take(), (Calls{"confirm", "confirm"}));
    key(&window, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(recorder.take().empty());
}

TEST(MainWindowEvents, PicturesAndTheCloseLabelActFromTheKeyboard) {
    MainWindow window;
    Recorder recorder;
    bindMainWindow(window, recorder);
    window.show();
    // In stored order after 〓 and before 下载; Space or Enter act as a click at the centre.
    key(window.control("图片框_发起QQ聊天"), Qt::Key_Space, Qt::NoModifier);
    key(window.control("图片框_发起QQ群聊"), Qt::Key_Return, Qt::NoModifier);
    key(window.control("图片框1"), Qt::Key_Enter, Qt::KeypadModifier);
    key(window.control("图片框1"), Qt::Key_A, Qt::NoModifier);
    key(window.control("标签__关闭"), Qt::Key_Space, Qt::NoModifier);
    EXPECT_EQ(recorder.take(),
              (Calls{"chat(10,10,0)", "group(44,10,0)", "tipButton(14,14,0)", "tipClose(8,8,0)"}));
    EXPECT_EQ(window.control("图片框_发起QQ聊天")->nextInFocusChain()->objectName(),
              QStringLiteral("图片框_发起QQ群聊"));
}

// The tip panel: its children follow it, and it lies above what it overlaps.

#include "app/MainWindow.h"
#include "app/MainWindowActions.h"
#include "app/Widgets.h"

#include <QApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>

using namespace vantorel::app;

TEST(TipPanel, HidingAndShowingCarriesTheChildrenInTheirOwnState) {
    MainWindow window;
    window.show();
    QWidget* panel = window.control("外形框_二维码");
    QWidget* close = window.control("标签__关闭");
    QWidget* caption = window.control("标签_asd");
    QWidget* qr = window.control("图片框_asd");
    ASSERT_TRUE(panel && close && caption && qr);

    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(close->isVisible());
    EXPECT_FALSE(qr->isVisible());

    panel->show();
    EXPECT_TRUE(close->isVisible());
    EXPECT_TRUE(caption->isVisible());
    EXPECT_TRUE(qr->isVisible());

    // A child hidden on its own stays hidden through the panel's hide and show.
    caption->hide();
    panel->hide();
    EXPECT_FALSE(close->isVisible());
    EXPECT_FALSE(qr->isVisible());
    panel->show();
    EXPECT_TRUE(close->isVisible());
    EXPECT_TRUE(qr->isVisible());
    EXPECT_FALSE(caption->isVisible());
}

TEST(TipPanel, LiesAboveTheContactPicturesAndTheList) {
    MainWindow window;
    window.show();
    QWidget* panel = window.control("外形框_二维码");
    const QWidget* chat = window.control("图片框_发起QQ聊天");
    const QWidget* group = window.control("图片框_发起QQ群聊");
    const QWidget* list = window.control("超级列表框_应用列表");

    const QPoint onChat = chat->geometry().center();
    const QPoint onGroup = group->geometry().center();
    const QPoint onList(400, 250); // inside the list and the panel (326..475, 122..291)
    ASSERT_TRUE(panel->geometry().contains(onChat));
    ASSERT_TRUE(panel->geometry().contains(onGroup));

    // Hidden: the pictures and the list are what the pointer reaches.
    EXPECT_EQ(window.childAt(onChat), chat);
    EXPECT_EQ(window.childAt(onGroup), group);
    EXPECT_TRUE(list->isAncestorOf(window.childAt(onList)) || window.childAt(onList) == list);

    panel->show();
    for (const QPoint p : {onChat, onGroup, onList}) {
        const QWidget* hit = window.childAt(p);
        ASSERT_NE(hit, nullptr);
        EXPECT_TRUE(hit == panel || panel->isAncestorOf(hit))
            << "reached " << hit->objectName().toStdString();
    }

    // And it covers them on screen: no pixel of the chat picture shows through the panel.
    const QImage withPanel = window.grab(chat->geometry()).toImage();
    panel->hide();
    const QImage withoutPanel = window.grab(chat->geometry()).toImage();
    EXPECT_NE(withPanel, withoutPanel);
    const QImage panelAlone =
        panel->grab(QRect(chat->geometry().topLeft() - panel->pos(), chat->geometry().size()))
            .toImage();
    EXPECT_EQ(withPanel.convertToFormat(QImage::Format_RGB32),
              panelAlone.convertToFormat(QImage::Format_RGB32));
}

TEST(TipPanel, ThePictureBesideItOpensItAndItsCrossClosesIt) {
    MainWindow window;
    MainWindowActions actions(window);
    bindMainWindow(window, actions);
    window.show();
    QWidget* panel = window.control("外形框_二维码");
    QWidget* opener = window.control("图片框1");
    QWidget* cross = window.control("标签__关闭");

    auto mouse = [](QWidget* target, QEvent::Type type) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
        QMouseEvent event(type, QPointF(4, 4), target->mapToGlobal(QPointF(4, 4)), Qt::LeftButton,
                          held, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    };
    mouse(opener, QEvent::MouseButtonPress);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(window.control("图片框_asd")->isVisible());
    mouse(cross, QEvent::MouseButtonPress);
    EXPECT_TRUE(panel->isVisible()); // closes on the release, not the press
    mouse(cross, QEvent::MouseButtonRelease);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(window.control("图片框_asd")->isVisible());
}

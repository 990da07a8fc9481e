// The shell bridge's address rule, the contact pictures and the tip panel's switch.

#include "EventLoop.h"
#include "app/MainWindow.h"
#include "app/MainWindowActions.h"
#include "app/Shell.h"
#include "app/Widgets.h"
#include "catalogue/ContactLinks.h"
#include "common/Config.h"
#include "demo/DemoServices.h"

#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <gtest/gtest.h>

using namespace vantorel;
using namespace vantorel::app;
using vantorel::testing::waitUntil;

TEST(Shell, OnlyWebAddressesAndChatLinksReachTheDesktop) {
    std::vector<QUrl> handed;
    Shell shell([&](const QUrl& url) {
        handed.push_back(url);
        return true;
    });
    for (const char* good : {"http://example.com/a.exe", "HTTPS://Example.com/x?y=1#z",
                             "https://127.0.0.1:8080/软件.exe", "tencent://message/?uin=10001"}) {
        EXPECT_TRUE(shell.open(good)) << good;
    }
    ASSERT_EQ(handed.size(), 4u);
    EXPECT_EQ(handed[1].scheme(), QStringLiteral("https"));
    EXPECT_EQ(handed[3].toString(), QStringLiteral("tencent://message/?uin=10001"));

    handed.clear();
    for (const char* hostile :
         {"file:///etc/passwd", "/usr/bin/xterm", "C:\\Windows\\system32\\cmd.exe", "calc.exe",
          "javascript:alert(1)", "smb://host/share", "ftp://host/f", "http://", "https:///path",
          "http://host/a b", "http://host/\r\nfile:///x", "tencent://message/?uin=1&cmd=x",
          "mailto:a@b", "", " http://host/"}) {
        const Status opened = shell.open(hostile);
        ASSERT_FALSE(opened) << hostile;
        EXPECT_TRUE(opened.error().message.starts_with(kRefusedAddressMessage)) << hostile;
        EXPECT_EQ(opened.error().message.find('\n'), std::string::npos);
    }
    EXPECT_TRUE(handed.empty());

    // No program for the link: told, not reported as opened.
    Shell nobody([](const QUrl&) { return false; });
    const Status opened = nobody.open("tencent://message/?uin=10001");
    ASSERT_FALSE(opened);
    EXPECT_TRUE(opened.error().message.starts_with(kNoHandlerMessage));
}

namespace {

class ContactPictures : public ::testing::Test {
  protected:
    void SetUp() override {
        bindMainWindow(window, actions);
        window.show();
        actions.catalogue().shell = Shell([this](const QUrl& url) {
            opened.push_back(url.toString().toStdString());
            return handlerPresent;
        });
    }
    void TearDown() override { demo::DemoServices::removeFromConfig(); }

    void press(const char* name) {
        QWidget* target = window.control(name);
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(3, 3),
                          target->mapToGlobal(QPointF(3, 3)), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    // The text of the message the window shows, closing it.
    QString takeMessage() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                const QString text = box->text();
                box->close();
                return text;
            }
        }
        return {};
    }

    MainWindow window;
    MainWindowActions actions{window};
    std::vector<std::string> opened;
    bool handlerPresent = true;
};

} // namespace

TEST_F(ContactPictures, ChatAndGroupOpenTheirLinks) {
    demo::DemoServices services;
    services.applyToConfig();

    press("图片框_发起QQ聊天");
    EXPECT_EQ(opened, std::vector<std::string>{"tencent://message/?uin=10001"});

    press("图片框_发起QQ群聊");
    press("图片框_发起QQ群聊"); // a second press while the first is asked is not sent again
    ASSERT_TRUE(waitUntil([&] { return !actions.groupLinkPending(); }));
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], services.groupLink() + "?guin=20002");
    std::size_t asked = 0;
    for (const auto& r : services.requests())
        asked += r.path == "/qun/api/" ? 1 : 0;
    EXPECT_EQ(asked, 1u);
    EXPECT_EQ(takeMessage(), QString());
}

TEST_F(ContactPictures, MissingSettingsLocationOrHandlerAreTold) {
    config::set("VANTOREL_CHAT_QQ", "");
    config::set("VANTOREL_GROUP_QQ", "");
    press("图片框_发起QQ聊天");
    EXPECT_EQ(takeMessage().toStdString(), catalogue::kChatNotSetMessage);
    press("图片框_发起QQ群聊");
    ASSERT_TRUE(waitUntil([&] { return !actions.groupLinkPending(); }));
    EXPECT_EQ(takeMessage().toStdString(), catalogue::kGroupNotSetMessage);
    EXPECT_TRUE(opened.empty());

    // A group-link service that answers without a Location.
    demo::HttpServer noLocation(
        [](const demo::HttpRequest&) { return demo::HttpResponse::text("", "text/html", 302); });
    config::set("VANTOREL_GROUP_LINK_BASE", noLocation.base());
    config::set("VANTOREL_GROUP_QQ", "20002");
    press("图片框_发起QQ群聊");
    ASSERT_TRUE(waitUntil([&] { return !actions.groupLinkPending(); }));
    EXPECT_EQ(takeMessage().toStdString(), catalogue::kNoLocationMessage);
    EXPECT_TRUE(opened.empty());

    // No program handles the chat link.
    handlerPresent = false;
    config::set("VANTOREL_CHAT_QQ", "10001");
    press("图片框_发起QQ聊天");
    EXPECT_TRUE(takeMessage().startsWith(QString::fromUtf8(kNoHandlerMessage.data())));
}

TEST_F(ContactPictures, TipPictureSwitchesCaptionAndPicture) {
    press("图片框1");
    auto* picture = window.control<PictureBox>("图片框_asd");
    auto* caption = window.control<QLabel>("标签_asd");
    ASSERT_TRUE(picture->isVisible());
    EXPECT_EQ(caption->text(), QStringLiteral("·打赏通道："));
    EXPECT_EQ(picture->image().size(), QSize(555, 555));

    press("图片框_asd");
    EXPECT_EQ(caption->text(), QStringLiteral("·微信打赏通道："));
    EXPECT_EQ(picture->image().size(), QSize(1080, 1481));
    // Shown whole, shrunk into the box.
    EXPECT_TRUE(picture->pictureArea().contains(
        PictureBox::fitRect(picture->image().size(), picture->pictureArea().size())));

    press("图片框_asd");
    EXPECT_EQ(caption->text(), QStringLiteral("·打赏通道："));
    EXPECT_EQ(picture->image().size(), QSize(555, 555));
}

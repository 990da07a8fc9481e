// The download list from the keyboard alone: Tab goes from the table through the buttons that
// can act and back, Enter opens a finished row's file, Esc closes the window. Enter in a
// question that could lose a file or a part takes the answer that loses nothing.

#include "EventLoop.h"
#include "app/DownloadListWindow.h"
#include "app/Downloads.h"
#include "app/Messages.h"
#include "app/UpdateWindow.h"
#include "app/UpdateWindowActions.h"
#include "demo/CatalogueData.h"
#include "demo/RangeServer.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vantorel;
using namespace vantorel::app;
using vantorel::testing::waitUntil;

namespace {

void press(Qt::Key key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget(), &event);
}

// Presses `key` in the question that comes up next, where its focus is.
void answerNextQuestionWith(Qt::Key key) {
    QTimer::singleShot(0, [key] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        QWidget* focus = box->focusWidget() ? box->focusWidget() : box;
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(focus, &event);
    });
}

} // namespace

TEST(DownloadListKeys, TabLeavesTheTableEnterOpensTheFileEscCloses) {
    QTemporaryDir dir;
    demo::RangeFiles files;
    files.add("/a.exe", demo::installerBytes("a.exe", 4096));
    demo::HttpServer server([&](const demo::HttpRequest& r) { return files.respond(r); });
    Downloads downloads({}, {});
    const std::string target = dir.filePath(QStringLiteral("a.exe")).toStdString();
    const std::uint64_t id = downloads.add({"甲", {server.base() + "/a.exe"}, target});
    ASSERT_TRUE(waitUntil([&] {
        const download::QueueItem* item = downloads.find(id);
        return item && item->state == download::QueueState::Done;
    }));

    DownloadListWindow window(downloads);
    std::vector<QUrl> opened;
    window.shell = Shell([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    window.show();
    window.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return window.isActiveWindow(); }));
    window.select(id);
    window.table().setFocus();

    QStringList reached;
    for (int i = 0; i < 4; ++i) {
        press(Qt::Key_Tab);
        reached << QApplication::focusWidget()->objectName();
    }
    // Pausing and cancelling have nothing to act on in a finished row.
    EXPECT_EQ(reached,
              (QStringList{QStringLiteral("按钮_打开文件"), QStringLiteral("按钮_打开文件夹"),
                           QStringLiteral("按钮_从列表中删除"), QStringLiteral("列表_下载")}));

    press(Qt::Key_Return);
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(target))});

    press(Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
}

TEST(DownloadListKeys, EnterInAQuestionThatCanLoseAFileLosesNothing) {
    Downloads downloads({}, {});
    DownloadListWindow window(downloads);
    window.show();
    using Choice = DownloadListWindow::OtherFileChoice;
    answerNextQuestionWith(Qt::Key_Return);
    EXPECT_EQ(window.askAboutOtherFile(QStringLiteral("/tmp/a.exe")), Choice::SaveAs);
    answerNextQuestionWith(Qt::Key_Escape);
    EXPECT_EQ(window.askAboutOtherFile(QStringLiteral("/tmp/a.exe")), Choice::Leave);
    answerNextQuestionWith(Qt::Key_Return);
    EXPECT_FALSE(window.askStartOver(QStringLiteral("另一个文件")));
    answerNextQuestionWith(Qt::Key_Return);
    EXPECT_FALSE(confirmReplace(&window, QStringLiteral("/tmp/a.exe")));
    UpdateWindow update;
    UpdateWindowActions actions(update);
    answerNextQuestionWith(Qt::Key_Return);
    EXPECT_FALSE(actions.confirmRetire());
}

// The download list from the keyboard alone: Tab goes from the table through the buttons that
// can act and back, Enter opens a finished row's file, Esc closes the window.

#include "EventLoop.h"
#include "app/DownloadListWindow.h"
#include "app/Downloads.h"
#include "demo/CatalogueData.h"
#include "demo/RangeServer.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vantorel;
using namespace vantorel::app;
using vantorel::testing::waitUntil;

namespace {

void press(Qt::Key key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget(), &event);
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

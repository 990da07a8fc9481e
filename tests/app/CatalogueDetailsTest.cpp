// Details and downloads against a catalogue of our own whose logos and files misbehave: a slow
// logo must not land beside a later entry, a broken logo leaves the box empty, a dead download
// is told, and a double-click off the rows shows nothing.

#include "EventLoop.h"
#include "app/MainWindow.h"
#include "app/MainWindowActions.h"
#include "app/Pictures.h"
#include "app/Widgets.h"
#include "common/Config.h"
#include "demo/CatalogueReply.h"
#include "demo/HttpServer.h"
#include "demo/PngWriter.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vantorel;
using namespace vantorel::app;
using vantorel::testing::waitUntil;

namespace {

catalogue::CatalogueRecord entry(std::string name, std::string logo, std::string base) {
    return {name,
            name + ".exe",
            "2048",
            "H" + name,
            base + "/gone/" + name + ".exe",
            "2026-12-01",
            "1.0",
            base + "/also-gone/" + name + ".exe",
            logo};
}

class CatalogueDetails : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(desktop.isValid());
        records = {entry("slow", "slow.png", server.base()),
                   entry("fast", "fast.png", server.base()),
                   entry("broken", "broken.png", server.base())};
        config::set("VANTOREL_CATALOGUE_BASE", server.base());
        config::set("VANTOREL_LOGO_BASE", server.base());
        config::set("VANTOREL_DESKTOP", desktop.path().toStdString());
        bindMainWindow(window, actions);
        window.show();
        window.control<QPushButton>("按钮_搜索")->click();
        ASSERT_TRUE(waitUntil([&] { return !actions.catalogue().searching(); }));
        ASSERT_EQ(list()->rowCount(), 3);
    }
    void TearDown() override {
        for (const char* key :
             {"VANTOREL_CATALOGUE_BASE", "VANTOREL_LOGO_BASE", "VANTOREL_DESKTOP"})
            config::unset(key);
    }

    demo::HttpResponse answer(const demo::HttpRequest& r) {
        if (r.path.starts_with("/tapi/"))
            return demo::HttpResponse::text(demo::catalogueReply(records));
        if (r.path == "/softmgr/logo/48/slow.png") {
            auto slow = demo::HttpResponse::text(demo::drawLogo(0xFF0000, 1), "image/png");
            slow.delayBeforeHead = std::chrono::milliseconds(600);
            return slow;
        }
        if (r.path == "/softmgr/logo/48/fast.png")
            return demo::HttpResponse::text(demo::drawLogo(0x0000FF, 2), "image/png");
        if (r.path == "/softmgr/logo/48/broken.png")
            return demo::HttpResponse::text("\x89PNG\r\n\x1a\nnot really", "image/png");
        return demo::HttpResponse::text("not found", "text/plain", 404);
    }

    ReportList* list() { return window.control<ReportList>("超级列表框_应用列表"); }
    PictureBox* icon() { return window.control<PictureBox>("图片框_图标"); }

    std::size_t logoRequests() {
        std::size_t n = 0;
        for (const auto& r : server.requests())
            n += r.path.starts_with("/softmgr/") ? 1 : 0;
        return n;
    }

    std::vector<catalogue::CatalogueRecord> records;
    demo::HttpServer server{[this](const demo::HttpRequest& r) { return answer(r); }};
    QTemporaryDir desktop;
    MainWindow window;
    MainWindowActions actions{window};
};

} // namespace

TEST_F(CatalogueDetails, OnlyTheShownEntrysLogoIsShownAndABrokenOneLeavesTheBoxEmpty) {
    actions.onListDoubleClicked(0, 0, 0); // on the header: no row
    EXPECT_FALSE(actions.catalogue().shownEntry());

    list()->selectRow(0);
    actions.onListKeyPressed(13, 0); // "slow": its logo takes a while
    list()->selectRow(1);
    actions.onListKeyPressed(13, 0); // "fast", shown before the slow logo arrives
    EXPECT_EQ(actions.catalogue().shownEntry()->displayname, "fast");
    ASSERT_TRUE(
        waitUntil([&] { return logoRequests() == 2 && !actions.catalogue().logoPending(); }));
    const std::string fastPng = demo::drawLogo(0x0000FF, 2);
    const QImage fast = decodeImage(std::span(reinterpret_cast<const std::uint8_t*>(fastPng.data()),
                                              fastPng.size()))
                            .value();
    EXPECT_EQ(icon()->image(), fast);
    // Let the slow logo arrive too: it must not replace the fast one.
    ASSERT_TRUE(waitUntil([&] { return actions.catalogue().workersIdle(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(icon()->image(), fast);

    list()->selectRow(2);
    actions.onListKeyPressed(13, 0); // "broken": the previous logo goes at once
    EXPECT_TRUE(icon()->image().isNull());
    ASSERT_TRUE(waitUntil([&] { return !actions.catalogue().logoPending(); }));
    EXPECT_TRUE(icon()->image().isNull());
    EXPECT_EQ(window.control<QLabel>("标签_应用名")->text(), QStringLiteral("应用程序：broken"));
}

TEST_F(CatalogueDetails, ADownloadThatFailsIsToldAndLeavesNoFile) {
    list()->selectRow(1);
    actions.onListKeyPressed(13, 0);
    window.control<QPushButton>("按钮_下载")->click();
    ASSERT_TRUE(waitUntil([&] {
        return window.control<QLabel>("标签_进度")->text() == QStringLiteral("下载失败！");
    }));
    ASSERT_TRUE(actions.catalogue().lastMessage());
    EXPECT_TRUE(
        actions.catalogue().lastMessage()->text().startsWith(QStringLiteral("下载失败！\n")));
    EXPECT_TRUE(QDir(desktop.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    // Both addresses were tried.
    std::vector<std::string> asked;
    for (const auto& r : server.requests())
        if (r.path.find("gone/") != std::string::npos)
            asked.push_back(r.path);
    EXPECT_NE(std::find(asked.begin(), asked.end(), "/gone/fast.exe"), asked.end());
    EXPECT_NE(std::find(asked.begin(), asked.end(), "/also-gone/fast.exe"), asked.end());
}

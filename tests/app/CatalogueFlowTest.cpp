// The main window's catalogue flows driven end to end against the offline services: typing,
// searching, the list, the details with logo, the menu's copy and open actions, and downloads
// into the test's own desktop folder.

#include "EventLoop.h"
#include "app/MainWindow.h"
#include "app/MainWindowActions.h"
#include "app/ResultsScreenshot.h"
#include "app/Widgets.h"
#include "catalogue/CatalogueSearch.h"
#include "catalogue/DisplayForms.h"
#include "common/Config.h"
#include "demo/CatalogueReply.h"
#include "demo/DemoServices.h"
#include "demo/RangeServer.h"
#include "support/SlowServers.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vantorel;
using namespace vantorel::app;
using vantorel::testing::waitUntil;

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

std::size_t requestsTo(const demo::DemoServices& services, std::string_view path) {
    std::size_t n = 0;
    for (const auto& r : services.requests())
        n += r.path.starts_with(path) ? 1 : 0;
    return n;
}

class CatalogueFlow : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(desktop.isValid());
        services.applyToConfig();
        config::set("VANTOREL_DESKTOP", desktop.path().toStdString());
        bindMainWindow(window, actions);
        window.show();
        actions.catalogue().shell = Shell([this](const QUrl& url) {
            opened.push_back(url.toString().toStdString());
            return true;
        });
    }
    void TearDown() override {
        demo::DemoServices::removeFromConfig();
        config::unset("VANTOREL_DESKTOP");
    }

    template <class T = QWidget> T* control(const char* name) { return window.control<T>(name); }
    ReportList* list() { return control<ReportList>("超级列表框_应用列表"); }
    QString text(const char* label) { return control<QLabel>(label)->text(); }
    CatalogueController& catalogue() { return actions.catalogue(); }

    void typeKeyword(const QString& keyword) {
        auto* box = control<EditBox>("编辑框_搜索框");
        box->setFocus();
        box->selectAll();
        QKeyEvent erase(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(box, &erase);
        for (QChar c : keyword) {
            QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(box, &key);
        }
    }

    void searchFor(const QString& keyword, int expectedRows) {
        typeKeyword(keyword);
        control<QPushButton>("按钮_搜索")->click();
        ASSERT_TRUE(waitUntil([&] { return !catalogue().searching(); }));
        ASSERT_EQ(list()->rowCount(), expectedRows);
    }

    // The centre of a row's name cell, in the list's viewport.
    QPoint rowPoint(int row) {
        list()->scrollToItem(list()->item(row, 1));
        return list()->visualItemRect(list()->item(row, 1)).center();
    }

    void doubleClickRow(int row) {
        const QPoint at = rowPoint(row);
        QWidget* viewport = list()->viewport();
        QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(at),
                          viewport->mapToGlobal(QPointF(at)), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    }

    QTemporaryDir desktop;
    demo::DemoServices services;
    MainWindow window;
    MainWindowActions actions{window};
    std::vector<std::string> opened;
};

} // namespace

TEST_F(CatalogueFlow, SearchShowCopyAndDownloadAnEntry) {
    typeKeyword(QStringLiteral("office"));
    EXPECT_EQ(control<EditBox>("编辑框_搜索框")->text(), QStringLiteral("office"));
    control<QPushButton>("按钮_搜索")->click();
    EXPECT_FALSE(control("按钮_搜索")->isEnabled()); // while the request runs
    ASSERT_TRUE(waitUntil([&] { return list()->rowCount() == 3 && !catalogue().searching(); }));
    EXPECT_TRUE(control("按钮_搜索")->isEnabled());
    EXPECT_EQ(text("标签_匹配数量"), QStringLiteral("找到：3 项"));

    // Row 2 in full: sequence number from 1, the size in MB, every field in its column.
    const catalogue::CatalogueRecord expected = catalogue().results()[1];
    EXPECT_EQ(expected.displayname, "方格表格");
    const QString row2[] = {"2",
                            q(expected.displayname),
                            q(expected.filename),
                            "8MB",
                            q(expected.hash),
                            q(expected.url),
                            q(expected.publishdate),
                            q(expected.versionname),
                            q(expected.https),
                            q(expected.logo48)};
    for (int column = 0; column < 10; ++column)
        EXPECT_EQ(list()->cellText(1, column), row2[column]) << "column " << column;

    // A finished search opens the menu (list, settings); its entry items ask for an entry first.
    EXPECT_TRUE(control("按钮_更多")->isEnabled());
    EXPECT_FALSE(control("按钮_下载")->isEnabled());
    window.menuEntries()[2]->trigger();
    ASSERT_TRUE(catalogue().lastMessage());
    EXPECT_EQ(catalogue().lastMessage()->text(), QStringLiteral("请先双击列表中的软件"));
    EXPECT_EQ(catalogue().lastMessage()->windowTitle(), QStringLiteral("友情提醒"));
    catalogue().lastMessage()->close();

    doubleClickRow(1);
    EXPECT_EQ(text("标签_应用名"), QStringLiteral("应用程序：方格表格"));
    EXPECT_EQ(text("标签_版本"), QStringLiteral("版本：9.1.4"));
    EXPECT_EQ(text("标签_大小"), QStringLiteral("大小：8MB"));
    EXPECT_EQ(text("标签_更新"), QStringLiteral("更新：2026-07-30"));
    EXPECT_TRUE(control("按钮_更多")->isEnabled());
    EXPECT_TRUE(control("按钮_下载")->isEnabled());
    auto* icon = control<PictureBox>("图片框_图标");
    ASSERT_TRUE(waitUntil([&] { return !icon->image().isNull(); }));
    EXPECT_EQ(icon->image().size(), QSize(48, 48));
    EXPECT_EQ(requestsTo(services, "/softmgr/logo/48/" + expected.logo48), 1u);

    // The details text replaces what the clipboard held; the confirmation closes by itself.
    QApplication::clipboard()->setText(QStringLiteral("something else"));
    window.menuEntries()[4]->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), q(catalogue::detailsText(expected)));
    EXPECT_EQ(QApplication::clipboard()->text().count(QStringLiteral("\r\n")), 8);
    QPointer<QMessageBox> confirmation = catalogue().lastMessage();
    ASSERT_TRUE(confirmation);
    EXPECT_EQ(confirmation->windowTitle(), QStringLiteral("复制_应用详细："));
    EXPECT_TRUE(
        confirmation->text().startsWith(QStringLiteral("已复制：\nID：") + q(expected.hash)));
    EXPECT_TRUE(waitUntil([&] { return !confirmation || !confirmation->isVisible(); },
                          std::chrono::seconds(6)));

    window.menuEntries()[3]->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), q(expected.https));
    EXPECT_EQ(catalogue().lastMessage()->windowTitle(), QStringLiteral("复制_下载地址2："));
    window.menuEntries()[2]->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), q(expected.url));
    EXPECT_EQ(catalogue().lastMessage()->windowTitle(), QStringLiteral("复制_下载地址1："));
    EXPECT_TRUE(catalogue().lastMessage()->text().startsWith(QStringLiteral("已复制：")));

    window.menuEntries()[0]->trigger();
    window.menuEntries()[1]->trigger();
    EXPECT_EQ(opened, (std::vector<std::string>{expected.url, expected.https}));

    // Selecting another row does not change what the buttons act on: the shown entry does.
    list()->selectRow(0);
    control<QPushButton>("按钮_下载")->click();
    EXPECT_TRUE(control("按钮_下载")->isEnabled()); // another download may go into the list
    ASSERT_TRUE(waitUntil([&] { return text("标签_进度") == QStringLiteral("下载完毕~"); },
                          std::chrono::seconds(60)));
    EXPECT_EQ(control<QProgressBar>("进度条_下载")->value(), 100);

    const QString saved = desktop.filePath(QStringLiteral("方格表格_9.1.4.exe"));
    const std::string bytes = readFile(saved);
    EXPECT_EQ(bytes.size(), 8'388'608u);
    EXPECT_TRUE(bytes == demo::installerBytes(expected.filename, 8'388'608));
    EXPECT_EQ(QDir(desktop.path()).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "nothing but the finished file is left behind";
}

TEST_F(CatalogueFlow, EnterSearchesAndShowsTheSelectedRow) {
    typeKeyword(QStringLiteral("timer"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(control("编辑框_搜索框"), &enter);
    ASSERT_TRUE(waitUntil([&] { return !catalogue().searching() && list()->rowCount() == 1; }));
    EXPECT_EQ(text("标签_匹配数量"), QStringLiteral("找到：1 项"));
    EXPECT_EQ(list()->cellText(0, 3), QStringLiteral("0.5MB"));

    // Another key in the list does nothing; Enter shows the selected entry.
    list()->setFocus();
    list()->selectRow(0);
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(list(), &other);
    EXPECT_FALSE(catalogue().shownEntry());
    QApplication::sendEvent(list(), &enter);
    ASSERT_TRUE(catalogue().shownEntry());
    EXPECT_EQ(text("标签_应用名"), QStringLiteral("应用程序：番茄时钟"));
}

TEST_F(CatalogueFlow, EmptyKeywordAsksForOneAndSendsNothing) {
    typeKeyword(QStringLiteral("   "));
    control<QPushButton>("按钮_搜索")->click();
    EXPECT_FALSE(catalogue().searching());
    ASSERT_TRUE(catalogue().lastMessage());
    EXPECT_EQ(catalogue().lastMessage()->text(), q(std::string(catalogue::kEmptyKeywordMessage)));
    EXPECT_EQ(requestsTo(services, "/tapi/"), 0u);
}

TEST_F(CatalogueFlow, ASecondSearchWhileOneRunsIsNotStarted) {
    searchFor(QStringLiteral("QQ"), 4);
    const std::size_t before = requestsTo(services, "/tapi/");
    control<QPushButton>("按钮_搜索")->click();
    actions.onSearchClicked(); // the bound handler itself, past the disabled button
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(control("编辑框_搜索框"), &enter);
    ASSERT_TRUE(waitUntil([&] { return !catalogue().searching(); }));
    EXPECT_EQ(requestsTo(services, "/tapi/"), before + 1);
    EXPECT_EQ(list()->rowCount(), 4);
}

TEST_F(CatalogueFlow, NoEntriesFoundIsZeroAndAFailedSearchIsToldAndKeepsTheList) {
    searchFor(QStringLiteral("QQ"), 4);
    searchFor(QStringLiteral("zzz-nothing"), 0);
    EXPECT_EQ(text("标签_匹配数量"), QStringLiteral("找到：0 项"));
    EXPECT_FALSE(catalogue().lastMessage());

    searchFor(QStringLiteral("QQ"), 4);
    config::set("VANTOREL_CATALOGUE_BASE", services.base() + "/missing-service");
    searchFor(QStringLiteral("office"), 4); // the list of the last search that worked
    ASSERT_TRUE(catalogue().lastMessage());
    EXPECT_TRUE(catalogue().lastMessage()->text().startsWith(QStringLiteral("搜索失败：")));
    EXPECT_EQ(text("标签_匹配数量"), QStringLiteral("找到：4 项"));
}

TEST_F(CatalogueFlow, AnExistingFileIsReplacedOnlyWhenTheUserAgrees) {
    searchFor(QStringLiteral("timer"), 1);
    doubleClickRow(0);
    const QString target = desktop.filePath(QStringLiteral("番茄时钟_1.1.0.exe"));
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("mine");
    }
    QStringList asked;
    catalogue().confirmOverwrite = [&](const QString& file) {
        asked << file;
        return false;
    };
    control<QPushButton>("按钮_下载")->click();
    EXPECT_EQ(asked, QStringList{target});
    EXPECT_TRUE(actions.downloads().items().empty());
    EXPECT_EQ(readFile(target), "mine");
    EXPECT_EQ(requestsTo(services, "/files/"), 0u);

    catalogue().confirmOverwrite = [](const QString&) { return true; };
    control<QPushButton>("按钮_下载")->click();
    ASSERT_TRUE(waitUntil([&] {
        const auto shown = catalogue().shownDownload();
        return shown && !shown->unfinished();
    }));
    EXPECT_EQ(catalogue().shownDownload()->state, download::QueueState::Done);
    EXPECT_TRUE(readFile(target) == demo::installerBytes("tomato_timer.exe", 524'288));
}

// A catalogue of our own whose entry carries hostile values: a name that climbs out of the
// folder, a first address that is a local file, and a live second address.
TEST_F(CatalogueFlow, HostileEntryNeitherOpensLocalFilesNorWritesOutsideTheDesktop) {
    // The desktop sits alone in a folder of the test's own, so anything written beside it shows.
    QTemporaryDir outer;
    const QDir home(outer.filePath(QStringLiteral("desktop")));
    ASSERT_TRUE(QDir().mkpath(home.path()));
    config::set("VANTOREL_DESKTOP", home.path().toStdString());
    demo::RangeFiles files;
    const std::string installer = demo::installerBytes("evil", 300'000);
    files.add("/real/setup.exe", installer);
    catalogue::CatalogueRecord hostile{"../../..\\evil\r\nname",
                                       "setup.exe",
                                       "300000",
                                       "ABC",
                                       "file:///etc/passwd",
                                       "2026-01-01",
                                       "1/../../x",
                                       "",
                                       "x.png"};
    demo::HttpServer server([&](const demo::HttpRequest& r) {
        if (r.path.starts_with("/tapi/"))
            return demo::HttpResponse::text(demo::catalogueReply(std::span(&hostile, 1)));
        return files.respond(r);
    });
    hostile.https = server.base() + "/real/setup.exe";
    config::set("VANTOREL_CATALOGUE_BASE", server.base());

    searchFor(QStringLiteral("evil"), 1);
    ASSERT_EQ(catalogue().results()[0].url, "file:///etc/passwd");
    doubleClickRow(0);

    window.menuEntries()[0]->trigger();
    EXPECT_TRUE(opened.empty());
    ASSERT_TRUE(catalogue().lastMessage());
    EXPECT_TRUE(
        catalogue().lastMessage()->text().startsWith(q(std::string(kRefusedAddressMessage))));

    control<QPushButton>("按钮_下载")->click();
    ASSERT_TRUE(waitUntil([&] {
        const auto shown = catalogue().shownDownload();
        return shown && !shown->unfinished();
    }));
    ASSERT_EQ(catalogue().shownDownload()->state, download::QueueState::Done);
    const QStringList written = home.entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(written.size(), 1);
    EXPECT_FALSE(written[0].contains('/') || written[0].contains('\\') ||
                 written[0].contains('\n') || written[0].contains(QStringLiteral("..")));
    EXPECT_TRUE(written[0].endsWith(QStringLiteral(".exe")));
    EXPECT_TRUE(readFile(home.filePath(written[0])) == installer);
    EXPECT_EQ(QDir(outer.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("desktop")});
}

TEST_F(CatalogueFlow, ResultsScreenshotShowsAnEntryWithItsLogo) {
    const QString path = desktop.filePath(QStringLiteral("shot.png"));
    const Status saved = saveResultsScreenshot(window, path);
    ASSERT_TRUE(saved) << saved.error().message;
    EXPECT_EQ(list()->rowCount(), 4); // the box's own keyword, "QQ"
    EXPECT_EQ(text("标签_应用名"), QStringLiteral("应用程序：轻聊"));
    const QImage shot(path);
    EXPECT_EQ(shot.size(), window.size());
    // The logo is in the picture, where 图片框_图标 is.
    QWidget* icon = control("图片框_图标");
    const QImage drawn = shot.copy(icon->geometry());
    EXPECT_EQ(drawn, icon->grab().toImage().convertToFormat(drawn.format()));

    config::set("VANTOREL_CATALOGUE_BASE", services.base() + "/missing-service");
    EXPECT_FALSE(saveResultsScreenshot(window, path, std::chrono::seconds(5)));
}

TEST_F(CatalogueFlow, TrickledSearchIsToldInChineseAndATrickledLogoLeavesTheBoxEmpty) {
    searchFor(QStringLiteral("timer"), 1);
    demo::HttpServer trickling(
        [](const demo::HttpRequest&) { return vantorel::testing::trickledReply(); });
    catalogue().searchDeadline.total = std::chrono::milliseconds(500);
    catalogue().logoDeadline.total = std::chrono::milliseconds(500);

    config::set("VANTOREL_LOGO_BASE", trickling.base());
    doubleClickRow(0);
    ASSERT_TRUE(waitUntil([&] { return !catalogue().logoPending(); }));
    EXPECT_TRUE(control<PictureBox>("图片框_图标")->image().isNull());

    config::set("VANTOREL_CATALOGUE_BASE", trickling.base());
    searchFor(QStringLiteral("QQ"), 1); // the list of the last search that worked
    ASSERT_TRUE(catalogue().lastMessage());
    EXPECT_EQ(catalogue().lastMessage()->text(),
              QStringLiteral("搜索失败：等待服务器超时（127.0.0.1）"));
}

TEST_F(CatalogueFlow, ANewSearchKeepsTheShownEntryOnlyWhileItIsListed) {
    searchFor(QStringLiteral("office"), 3);
    doubleClickRow(1);
    const catalogue::CatalogueRecord shown = *catalogue().shownEntry();
    searchFor(QStringLiteral("office"), 3);
    EXPECT_EQ(catalogue().shownEntry(), shown);
    EXPECT_TRUE(control("按钮_下载")->isEnabled());

    searchFor(QStringLiteral("timer"), 1);
    EXPECT_FALSE(catalogue().shownEntry());
    EXPECT_EQ(text("标签_应用名"), QStringLiteral("应用程序："));
    EXPECT_EQ(text("标签_版本"), QStringLiteral("版本："));
    EXPECT_TRUE(control<PictureBox>("图片框_图标")->image().isNull());
    EXPECT_TRUE(control("按钮_更多")->isEnabled());
    EXPECT_FALSE(control("按钮_下载")->isEnabled());
}

TEST_F(CatalogueFlow, ARightClickShowsThatRowAndOpensTheMenuAtThePointer) {
    searchFor(QStringLiteral("QQ"), 4);
    const QPoint at = rowPoint(2);
    QWidget* viewport = list()->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &event);
    ASSERT_TRUE(catalogue().shownEntry());
    EXPECT_EQ(*catalogue().shownEntry(), catalogue().results()[2]);
    EXPECT_EQ(list()->currentRowNumber(), 2);
    ASSERT_TRUE(waitUntil([&] { return window.menu().isVisible(); }));
    EXPECT_EQ(window.menu().pos(), viewport->mapToGlobal(at));
    window.menu().close();
}

TEST_F(CatalogueFlow, CutOffNamesAndVersionsCarryTheirWholeTextAsATooltip) {
    const catalogue::CatalogueRecord entry{"第一行的名字\r\n第二行",
                                           "two.exe",
                                           "1000",
                                           "H",
                                           "http://127.0.0.1:1/a",
                                           "2026-01-01",
                                           "1.2.3.4-a-version-far-too-long-for-its-label",
                                           "http://127.0.0.1:1/b",
                                           "x.png"};
    demo::HttpServer server([&](const demo::HttpRequest&) {
        return demo::HttpResponse::text(demo::catalogueReply(std::span(&entry, 1)));
    });
    config::set("VANTOREL_CATALOGUE_BASE", server.base());
    searchFor(QStringLiteral("two"), 1);
    const QString name = list()->item(0, 1)->text();
    EXPECT_EQ(list()->item(0, 1)->toolTip(), name);
    EXPECT_GE(list()->rowHeight(0), 2 * list()->fontMetrics().lineSpacing()) << "both lines show";
    EXPECT_TRUE(list()->item(0, 0)->toolTip().isEmpty()) << "what fits needs no tooltip";

    doubleClickRow(0);
    EXPECT_EQ(control("标签_应用名")->toolTip(), text("标签_应用名"));
    EXPECT_EQ(control("标签_版本")->toolTip(), text("标签_版本"));
    EXPECT_TRUE(control("标签_大小")->toolTip().isEmpty());
}

TEST(MainWindowClosing, DestroyingTheWindowStopsARequestTheServerNeverAnswers) {
    vantorel::testing::SilentServer silent;
    config::set("VANTOREL_CATALOGUE_BASE", silent.base());
    auto window = std::make_unique<MainWindow>();
    auto actions = std::make_unique<MainWindowActions>(*window);
    bindMainWindow(*window, *actions);
    // No deadline at all: only cancelling can end this request.
    actions->catalogue().searchDeadline = net::Timeouts{};
    actions->catalogue().search();
    ASSERT_TRUE(silent.connected(std::chrono::seconds(10)));

    window.reset();
    actions.reset(); // returns once its workers have ended
    EXPECT_TRUE(silent.clientClosedOldest(std::chrono::seconds(5)));
    config::unset("VANTOREL_CATALOGUE_BASE");
}

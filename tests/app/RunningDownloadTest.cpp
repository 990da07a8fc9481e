// Entries' downloads while the user does other things: shows another entry, downloads it too,
// works the download list, or closes the main window. A catalogue of two entries of our own,
// whose files arrive slowly.

#include "EventLoop.h"
#include "app/Application.h"
#include "app/Widgets.h"
#include "common/Config.h"
#include "demo/CatalogueData.h"
#include "demo/CatalogueReply.h"
#include "demo/RangeServer.h"
#include "download/PartFile.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace vantorel;
using namespace vantorel::app;
using vantorel::testing::waitUntil;

namespace {

class RunningDownload : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(desktop_.isValid());
        for (const char* name : {"slow.exe", "other.exe"})
            files_.add(std::string("/files/") + name, demo::installerBytes(name, kFileSize));
        // The reply format wants both addresses.
        entries_[0].url = entries_[0].https = server_.base() + "/files/slow.exe";
        entries_[1].url = entries_[1].https = server_.base() + "/files/other.exe";
        config::set("VANTOREL_CATALOGUE_BASE", server_.base());
        config::set("VANTOREL_LOGO_BASE", server_.base());
        config::set("VANTOREL_DESKTOP", desktop_.path().toStdString());
        app_.mainWindow().show();
        app_.confirmQuit = [this] {
            ++askedToQuit_;
            return quit_;
        };
        app_.mainWindow().control<QLineEdit>("编辑框_搜索框")->setText(QStringLiteral("盘"));
        catalogue().search();
        ASSERT_TRUE(waitUntil([&] { return !catalogue().searching(); }));
        ASSERT_EQ(catalogue().results().size(), 2u);
    }
    void TearDown() override {
        for (const char* key :
             {"VANTOREL_CATALOGUE_BASE", "VANTOREL_LOGO_BASE", "VANTOREL_DESKTOP"})
            config::unset(key);
    }

    // Every reply trickles: 4 KiB, then a pause.
    void slowDown(std::chrono::milliseconds pause) {
        demo::RangeFaults slow;
        slow.throttleBytes = 4096;
        slow.throttleDelay = pause;
        files_.setFaults(slow);
    }
    CatalogueController& catalogue() { return app_.mainActions().catalogue(); }
    Downloads& downloads() { return app_.mainActions().downloads(); }
    DownloadListWindow& listWindow() { return app_.mainActions().downloadListWindow(); }
    void clickDownload(int entry) {
        catalogue().showEntry(entry);
        app_.mainWindow().control<QPushButton>("按钮_下载")->click();
    }
    std::vector<download::QueueState> states() {
        std::vector<download::QueueState> out;
        for (const download::QueueItem& item : downloads().items())
            out.push_back(item.state);
        return out;
    }
    bool allRun() {
        const auto now = states();
        return !now.empty() && std::all_of(now.begin(), now.end(), [](auto state) {
            return state == download::QueueState::Downloading;
        });
    }
    void press(Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&listWindow().table(), &event);
    }
    QString progressText() { return app_.mainWindow().control<QLabel>("标签_进度")->text(); }
    QProgressBar* bar() { return app_.mainWindow().control<QProgressBar>("进度条_下载"); }

    static constexpr std::size_t kFileSize = 256 * 1024;
    QTemporaryDir desktop_;
    demo::RangeFiles files_;
    catalogue::CatalogueRecord entries_[2] = {
        {"慢盘", "slow.exe", "262144", "A1", "", "2026-01-01", "1.0", "", "a.png"},
        {"快盘", "other.exe", "262144", "B2", "", "2026-01-02", "2.0", "", "b.png"}};
    demo::HttpServer server_{[this](const demo::HttpRequest& r) {
        if (r.path.starts_with("/tapi/"))
            return demo::HttpResponse::text(demo::catalogueReply(entries_));
        return files_.respond(r);
    }};
    Application app_;
    int askedToQuit_ = 0;
    bool quit_ = false;
};

} // namespace

TEST_F(RunningDownload, TheProgressShownBelongsToTheEntryItDescribes) {
    slowDown(std::chrono::milliseconds(20));
    catalogue().showEntry(0);
    catalogue().download();
    catalogue().showEntry(1);
    EXPECT_TRUE(progressText().startsWith(QStringLiteral("慢盘：")))
        << progressText().toStdString();
    EXPECT_EQ(bar()->toolTip(), QStringLiteral("下载：慢盘"));
    auto* label = app_.mainWindow().control<QLabel>("标签_进度");
    EXPECT_TRUE(waitUntil([&] { return label->toolTip().contains(QStringLiteral("\n速度：")); }))
        << label->toolTip().toStdString();

    ASSERT_TRUE(waitUntil([&] { return progressText() == QStringLiteral("慢盘：下载完毕~"); }));
    catalogue().showEntry(0);
    EXPECT_EQ(progressText(), QStringLiteral("下载完毕~"));
    EXPECT_EQ(bar()->value(), 100);

    // Nothing downloads: another entry starts with an empty bar.
    catalogue().showEntry(1);
    EXPECT_EQ(progressText(), QString());
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(bar()->toolTip(), QString());
}

TEST_F(RunningDownload, TwoEntriesDownloadAtOnceAndTheSameFileTwiceIsOneDownload) {
    slowDown(std::chrono::milliseconds(50));
    clickDownload(0);
    EXPECT_TRUE(app_.mainWindow().control("按钮_下载")->isEnabled());
    clickDownload(1);
    clickDownload(1);
    ASSERT_EQ(downloads().items().size(), 2u);
    EXPECT_EQ(downloads().items()[0].entry.name, "慢盘");
    EXPECT_EQ(downloads().items()[1].entry.name, "快盘");
    EXPECT_TRUE(waitUntil([&] { return allRun(); })) << "both at once";
    // Each added download brings the list up.
    EXPECT_TRUE(listWindow().isVisible());
    EXPECT_EQ(listWindow().table().rowCount(), 2);
}

TEST_F(RunningDownload, TheListShowsEachDownloadAndItsButtonsAndKeysControlIt) {
    slowDown(std::chrono::milliseconds(50));
    clickDownload(0);
    clickDownload(1);
    ASSERT_TRUE(waitUntil([&] { return allRun(); }));
    QTableWidget& table = listWindow().table();
    auto cell = [&](int row, int column) { return table.item(row, column)->text(); };
    // Once the server has told the size.
    ASSERT_TRUE(waitUntil([&] { return cell(0, DownloadListWindow::Size) == "0.25MB"; }));
    EXPECT_EQ(cell(0, DownloadListWindow::Name), QStringLiteral("慢盘"));
    EXPECT_EQ(cell(1, DownloadListWindow::State), QStringLiteral("下载中"));

    auto* pause = listWindow().findChild<QPushButton*>(QStringLiteral("按钮_暂停"));
    listWindow().select(downloads().items()[0].id);
    EXPECT_EQ(pause->text(), QStringLiteral("暂停"));
    press(Qt::Key_Space);
    EXPECT_EQ(states()[0], download::QueueState::Paused);
    EXPECT_EQ(cell(0, DownloadListWindow::State), QStringLiteral("已暂停"));
    EXPECT_EQ(pause->text(), QStringLiteral("继续"));
    pause->click();
    EXPECT_NE(states()[0], download::QueueState::Paused);
    EXPECT_EQ(pause->text(), QStringLiteral("暂停"));

    // Delete takes the selected row off the list at once; the other goes on.
    press(Qt::Key_Delete);
    ASSERT_EQ(table.rowCount(), 1);
    EXPECT_EQ(cell(0, DownloadListWindow::Name), QStringLiteral("快盘"));
    EXPECT_TRUE(downloads().items()[0].unfinished());
}

TEST_F(RunningDownload, GoingOnOverAFileTheDownloadDidNotSaveAsksFirst) {
    // Slow enough that a busy machine still pauses it before it ends.
    slowDown(std::chrono::milliseconds(500));
    clickDownload(0);
    ASSERT_TRUE(waitUntil([&] { return allRun(); }));
    const std::uint64_t id = downloads().items()[0].id;
    const QString target = QString::fromStdString(downloads().items()[0].entry.target);
    const QFileInfo info(target);
    const QString side = info.dir().filePath(QLatin1Char('.') + info.fileName());
    // Paused once it has saved its progress, so its part stays.
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(side + ".vantorel-state"); }));
    listWindow().select(id);
    press(Qt::Key_Space);
    // Its job has let go of the part once the part's lock is free.
    const std::string part = (side + ".vantorel-part").toStdString();
    ASSERT_TRUE(waitUntil([&] {
        const int fd = ::open(part.c_str(), O_RDWR | O_CLOEXEC);
        const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (fd >= 0)
            ::close(fd);
        return free;
    }));
    QFile notes(target);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("notes");
    notes.close();

    std::vector<DownloadListWindow::OtherFileChoice> answers = {
        DownloadListWindow::OtherFileChoice::Leave, DownloadListWindow::OtherFileChoice::SaveAs};
    int asked = 0;
    listWindow().askAboutOtherFile = [&](const QString& file) {
        EXPECT_EQ(file, target);
        return answers[static_cast<std::size_t>(asked++)];
    };
    press(Qt::Key_Space); // 取消: it stays paused
    EXPECT_EQ(states()[0], download::QueueState::Paused);
    files_.setFaults({});
    press(Qt::Key_Space); // 另存为: it goes on beside the user's file
    EXPECT_EQ(asked, 2);
    ASSERT_TRUE(waitUntil([&] { return states()[0] == download::QueueState::Done; }));
    const QString beside = info.dir().filePath(info.completeBaseName() + " (1)." + info.suffix());
    EXPECT_EQ(QString::fromStdString(downloads().items()[0].entry.target), beside);
    EXPECT_EQ(QFileInfo(beside).size(), static_cast<qint64>(kFileSize));
    ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
    EXPECT_EQ(notes.readAll(), QByteArray("notes"));
}

// A catalogue download names its addresses and its entry; a paused one takes the address the
// user gives from its menu and goes on from there.
TEST_F(RunningDownload, APausedRowTakesAnotherAddressFromItsMenu) {
    files_.add("/elsewhere/slow.exe", demo::installerBytes("slow.exe", kFileSize));
    slowDown(std::chrono::milliseconds(50));
    clickDownload(0);
    ASSERT_TRUE(waitUntil([&] { return allRun(); }));
    const download::QueueItem row = downloads().items()[0];
    EXPECT_EQ(row.entry.labels, std::vector<std::string>{"下载链接1"});
    EXPECT_EQ(row.entry.catalogueId, "A1");
    listWindow().select(row.id);
    press(Qt::Key_Space);
    ASSERT_EQ(states()[0], download::QueueState::Paused);

    QAction* entry = nullptr;
    for (QAction* action : listWindow().findChild<QMenu*>(QStringLiteral("菜单_下载"))->actions())
        if (action->text() == QStringLiteral("更换下载地址…"))
            entry = action;
    ASSERT_TRUE(entry && entry->isEnabled());
    const std::string elsewhere = server_.base() + "/elsewhere/slow.exe";
    QString offered;
    listWindow().askAddress = [&](const QString& current) {
        offered = current;
        return std::optional(QString::fromStdString(elsewhere));
    };
    files_.setFaults({});
    entry->trigger();
    EXPECT_EQ(offered.toStdString(), row.entry.addresses[0]);
    ASSERT_TRUE(waitUntil([&] { return states()[0] == download::QueueState::Done; }));
    EXPECT_EQ(downloads().items()[0].entry.addresses, std::vector<std::string>{elsewhere});
    EXPECT_EQ(QFileInfo(QString::fromStdString(row.entry.target)).size(),
              static_cast<qint64>(kFileSize));
}

// An address of another file over a part: the download stops with the part left, and the user
// is asked whether to start over from the new address. 否 leaves the row as it was, and nothing
// tells of a failure.
TEST_F(RunningDownload, AReplacedAddressOfAnotherFileAsksWhetherToStartOver) {
    const std::string other = demo::installerBytes("short.exe", kFileSize / 2);
    files_.add("/elsewhere/short.exe", other);
    slowDown(std::chrono::milliseconds(50));
    clickDownload(0);
    const download::QueueItem row = downloads().items()[0];
    // Paused once a part of it is listed for a later run.
    ASSERT_TRUE(waitUntil([&] {
        return QFileInfo::exists(
            QString::fromStdString(download::PartFile::statePathFor(row.entry.target)));
    }));
    listWindow().select(row.id);
    press(Qt::Key_Space);
    ASSERT_EQ(states()[0], download::QueueState::Paused);

    listWindow().askAddress = [&](const QString&) {
        return std::optional(QString::fromStdString(server_.base() + "/elsewhere/short.exe"));
    };
    QString asked;
    bool startOver = false;
    listWindow().askStartOver = [&](const QString& why) {
        asked = why;
        return startOver;
    };
    int endings = 0;
    QObject counting; // the connection ends with the test
    QObject::connect(&downloads(), &Downloads::ended, &counting, [&] { ++endings; });
    files_.setFaults({});
    listWindow().replaceAddress();
    ASSERT_TRUE(waitUntil([&] { return !asked.isEmpty(); }))
        << int(states()[0]) << " " << downloads().items()[0].error << " kind "
        << int(downloads().items()[0].errorKind);
    EXPECT_TRUE(asked.contains(QStringLiteral("的文件与已下载的部分不同"))) << asked.toStdString();
    EXPECT_EQ(downloads().items()[0].entry.addresses, row.entry.addresses);
    EXPECT_EQ(states()[0], download::QueueState::Paused);
    EXPECT_EQ(endings, 0);
    EXPECT_EQ(catalogue().lastMessage(), nullptr);

    asked.clear();
    startOver = true;
    listWindow().replaceAddress();
    ASSERT_TRUE(waitUntil([&] { return !asked.isEmpty(); }));
    ASSERT_TRUE(waitUntil([&] { return states()[0] == download::QueueState::Done; }));
    EXPECT_EQ(QFileInfo(QString::fromStdString(row.entry.target)).size(),
              static_cast<qint64>(other.size()));
}

TEST_F(RunningDownload, ACancelReadsCancelledKeepsTheRowAndTheLabelFollowsTheList) {
    slowDown(std::chrono::milliseconds(50));
    clickDownload(0);
    QTableWidget& table = listWindow().table();
    auto cell = [&](int column) { return table.item(0, column)->text(); };
    const auto percent = [&] {
        return table.item(0, DownloadListWindow::Progress)->data(Qt::UserRole).toInt();
    };
    ASSERT_TRUE(waitUntil([&] { return percent() > 0; }));
    const std::uint64_t id = downloads().items()[0].id;
    listWindow().select(id);
    listWindow().cancel();
    ASSERT_TRUE(
        waitUntil([&] { return cell(DownloadListWindow::State) == QStringLiteral("已取消"); }));
    EXPECT_EQ(progressText(), QStringLiteral("已取消"));
    EXPECT_EQ(cell(DownloadListWindow::Size), QStringLiteral("0.25MB"));
    EXPECT_GT(percent(), 0);

    // Showing another entry: the label tells what the list holds, as it changes.
    catalogue().showEntry(1);
    EXPECT_EQ(progressText(), QString());
    EXPECT_TRUE(downloads().resume(id));
    EXPECT_TRUE(waitUntil([&] { return progressText() == QStringLiteral("1 个下载进行中"); }))
        << progressText().toStdString();
    downloads().pause(id);
    EXPECT_TRUE(waitUntil([&] { return progressText() == QStringLiteral("1 个下载已暂停"); }))
        << progressText().toStdString();
    EXPECT_TRUE(downloads().resume(id));
    EXPECT_TRUE(waitUntil([&] { return progressText() == QStringLiteral("1 个下载进行中"); }))
        << progressText().toStdString();
}

TEST_F(RunningDownload, AFinishedDownloadOpensItsFileAndItsFolder) {
    std::vector<QUrl> opened;
    listWindow().shell = Shell([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    clickDownload(1);
    ASSERT_TRUE(waitUntil([&] { return states() == std::vector{download::QueueState::Done}; }));
    listWindow().select(downloads().items()[0].id);
    const QString file = QString::fromStdString(downloads().items()[0].entry.target);
    // The list shows the end once it is announced, just after items() has it.
    auto* openFile = listWindow().findChild<QPushButton*>(QStringLiteral("按钮_打开文件"));
    ASSERT_TRUE(waitUntil([&] { return openFile->isEnabled(); }));
    openFile->click();
    listWindow().findChild<QPushButton*>(QStringLiteral("按钮_打开文件夹"))->click();
    EXPECT_EQ(opened,
              (std::vector{QUrl::fromLocalFile(file), QUrl::fromLocalFile(desktop_.path())}));

    // A file gone meanwhile is not handed to the desktop.
    ASSERT_TRUE(QFile::remove(file));
    downloads().refresh();
    EXPECT_FALSE(openFile->isEnabled());
    listWindow().openFile();
    EXPECT_EQ(opened.size(), 2u);
}

TEST_F(RunningDownload, ClosingTheWindowAsksOnceAndYesPausesEveryDownload) {
    // Nothing downloads: the window closes without a question.
    EXPECT_TRUE(app_.mainWindow().close());
    EXPECT_EQ(askedToQuit_, 0);
    app_.mainWindow().show();

    slowDown(std::chrono::milliseconds(500));
    clickDownload(0);
    clickDownload(1);
    ASSERT_TRUE(waitUntil([&] { return allRun(); }));

    EXPECT_FALSE(app_.mainWindow().close());
    EXPECT_EQ(askedToQuit_, 1);
    EXPECT_TRUE(app_.mainWindow().isVisible());
    EXPECT_TRUE(allRun());

    quit_ = true;
    EXPECT_TRUE(app_.mainWindow().close());
    EXPECT_EQ(askedToQuit_, 2);
    EXPECT_FALSE(app_.mainWindow().isVisible());
    EXPECT_EQ(states(), (std::vector(2, download::QueueState::Paused)));
}

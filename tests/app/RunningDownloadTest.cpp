// An entry's download while the user does other things: shows another entry, or closes the
// main window. A catalogue of two entries of our own, whose files arrive slowly.

#include "EventLoop.h"
#include "app/Application.h"
#include "app/Widgets.h"
#include "common/Config.h"
#include "demo/CatalogueData.h"
#include "demo/CatalogueReply.h"
#include "demo/RangeServer.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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

TEST_F(RunningDownload, ClosingTheWindowAsksAndYesInterruptsTheDownload) {
    // Nothing downloads: the window closes without a question.
    EXPECT_TRUE(app_.mainWindow().close());
    EXPECT_EQ(askedToQuit_, 0);
    app_.mainWindow().show();

    slowDown(std::chrono::milliseconds(500));
    catalogue().showEntry(0);
    catalogue().download();
    ASSERT_TRUE(waitUntil([&] {
        return catalogue().currentDownload()->view().phase == download::JobPhase::Downloading;
    }));

    EXPECT_FALSE(app_.mainWindow().close());
    EXPECT_EQ(askedToQuit_, 1);
    EXPECT_TRUE(app_.mainWindow().isVisible());
    EXPECT_FALSE(catalogue().currentDownload()->view().finished());

    quit_ = true;
    EXPECT_TRUE(app_.mainWindow().close());
    EXPECT_EQ(askedToQuit_, 2);
    EXPECT_FALSE(app_.mainWindow().isVisible());
    ASSERT_TRUE(waitUntil([&] { return catalogue().currentDownload()->view().finished(); },
                          std::chrono::seconds(5)));
    EXPECT_EQ(catalogue().currentDownload()->view().phase, download::JobPhase::Interrupted);
}

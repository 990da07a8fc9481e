// The update window driven the way a user drives it: the check at start shows it with both
// versions, 按钮_确认更新 downloads the demo release with progress, and the closing message
// offers "打开" and "重试".

#include "EventLoop.h"
#include "app/UpdateWindow.h"
#include "app/UpdateWindowActions.h"
#include "app/Widgets.h"
#include "common/Config.h"
#include "demo/DemoServices.h"
#include "demo/HttpServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <gtest/gtest.h>

#include <functional>

using namespace vantorel;
using namespace vantorel::app;

namespace {

// The shared event-loop wait, with the patience a whole update needs.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    return vantorel::testing::waitUntil(done, limit);
}

QString textOf(const UpdateWindow& window, const char* name) {
    return window.control<QLabel>(name)->text();
}

QPushButton* buttonNamed(QMessageBox* box, const QString& text) {
    for (QAbstractButton* b : box->buttons())
        if (b->text() == text)
            return qobject_cast<QPushButton*>(b);
    return nullptr;
}

QMessageBox* openMessage() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            return box;
    return nullptr;
}

class UpdateWindowFlow : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        services_.applyToConfig();
        bindUpdateWindow(window_, actions_);
        actions_.programFile.clear();
        actions_.downloadFolders = {folder_.path()};
        actions_.openFile = [this](const QString& file) {
            opened_.push_back(file);
            return true;
        };
        actions_.confirmOverwrite = [this](const QString& file) {
            askedToReplace_.push_back(file);
            return replace_;
        };
        actions_.confirmRetire = [this] {
            ++askedToRetire_;
            return false;
        };
        actions_.quitProgram = [] { FAIL() << "the program must not end in a test"; };
    }
    void TearDown() override {
        demo::DemoServices::removeFromConfig();
        while (QMessageBox* box = openMessage())
            box->close();
    }

    demo::DemoServices services_;
    QTemporaryDir folder_;
    UpdateWindow window_;
    UpdateWindowActions actions_{window_};
    std::vector<QString> opened_;
    std::vector<QString> askedToReplace_;
    bool replace_ = false;
    int askedToRetire_ = 0;

    void showDemoRelease() {
        actions_.checkForUpdate(false);
        ASSERT_TRUE(waitUntil([&] { return window_.isVisible(); }));
    }
    // Presses 按钮_确认更新 and waits for the closing message.
    QMessageBox* update() {
        window_.control<QAbstractButton>("按钮_确认更新")->click();
        return waitUntil([] { return openMessage() != nullptr; }) ? openMessage() : nullptr;
    }
};

} // namespace

TEST_F(UpdateWindowFlow, WholeUpdateFromStartToOpeningTheFile) {
    window_.announceCreated(); // the quiet check at start
    ASSERT_TRUE(waitUntil([&] { return window_.isVisible(); }));
    EXPECT_EQ(textOf(window_, "标签_当前版本号"), "当前版本号v3.9");
    EXPECT_EQ(textOf(window_, "标签_最新版本号"), "最新版本号v3.10");
    const QString notes = window_.control<QTextBrowser>("文本框_更新内容")->toPlainText();
    EXPECT_TRUE(notes.contains("v3.10 更新内容")) << notes.toStdString();
    EXPECT_TRUE(notes.contains("本次更新推荐所有用户安装"));
    EXPECT_FALSE(window_.control<PictureBox>("图片框_自定义logo")->image().isNull());

    if (const QByteArray shot = qgetenv("VANTOREL_UPDATE_SCREENSHOT"); !shot.isEmpty()) {
        window_.grab().save(QString::fromLocal8Bit(shot));
    }

    auto* bar = window_.control<QProgressBar>("进度条_更新");
    std::vector<int> values;
    QStringList statuses;
    window_.control<QAbstractButton>("按钮_确认更新")->click();
    ASSERT_TRUE(waitUntil([&] {
        values.push_back(bar->value());
        if (statuses.isEmpty() || statuses.back() != textOf(window_, "标签_更新状态"))
            statuses.push_back(textOf(window_, "标签_更新状态"));
        return openMessage() != nullptr;
    }));

    EXPECT_EQ(bar->value(), 100);
    EXPECT_EQ(textOf(window_, "标签_更新进度"), "100%");
    EXPECT_EQ(textOf(window_, "标签_更新状态"), "下载完毕~");
    EXPECT_TRUE(statuses.contains("正在下载、")) << statuses.join(",").toStdString();
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    // The bar moved through values between the ends, not straight from 0 to 100.
    EXPECT_TRUE(std::any_of(values.begin(), values.end(), [](int v) { return v > 0 && v < 100; }));

    QMessageBox* box = openMessage();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(),
              "下载完毕~\n新版本已保存到：\n" + folder_.filePath("Vantorel_v3.10.bin"));
    QPushButton* open = buttonNamed(box, "打开");
    ASSERT_NE(open, nullptr);
    EXPECT_NE(buttonNamed(box, "重试"), nullptr);
    open->click();
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(opened_[0], folder_.filePath("Vantorel_v3.10.bin"));
    EXPECT_EQ(QFileInfo(opened_[0]).size(), 8 << 20);
}

TEST_F(UpdateWindowFlow, CloseCancelsARunningDownload) {
    actions_.checkForUpdate(false);
    ASSERT_TRUE(waitUntil([&] { return window_.isVisible(); }));
    window_.control<QAbstractButton>("按钮_确认更新")->click();
    ASSERT_TRUE(waitUntil(
        [&] { return actions_.flow()->view().phase == update::UpdatePhase::Downloading; }));
    window_.control<QAbstractButton>("按钮_关闭更新")->click();
    EXPECT_FALSE(window_.isVisible());
    ASSERT_TRUE(waitUntil([&] { return actions_.flow()->view().finished(); }));
    EXPECT_EQ(actions_.flow()->view().phase, update::UpdatePhase::Cancelled);
    QApplication::processEvents();
    EXPECT_EQ(openMessage(), nullptr);
    EXPECT_FALSE(QFileInfo::exists(folder_.filePath("Vantorel_v3.10.bin")));
}

TEST_F(UpdateWindowFlow, FailedDownloadOffersARetry) {
    update::VersionCheckResult result;
    result.outcome = update::VersionOutcome::NewerRelease;
    result.currentVersion = "3.9";
    result.release = {"3.10", services_.base() + "/file/no-such-release", "x.bin", "", "<p>n</p>"};
    actions_.showRelease(result);
    window_.control<QAbstractButton>("按钮_确认更新")->click();
    ASSERT_TRUE(waitUntil([&] { return openMessage() != nullptr; }));
    EXPECT_EQ(textOf(window_, "标签_更新状态"), "下载失败！");
    QMessageBox* box = openMessage();
    EXPECT_EQ(box->text(), "下载失败,请重试、");
    EXPECT_EQ(buttonNamed(box, "打开"), nullptr);
    QPushButton* retry = buttonNamed(box, "重试");
    ASSERT_NE(retry, nullptr);
    retry->click();
    ASSERT_TRUE(waitUntil([&] { return openMessage() != nullptr; }));
    EXPECT_EQ(openMessage()->text(), "下载失败,请重试、");
}

TEST_F(UpdateWindowFlow, ConnectionMessagesOnlyWhenTheUserAsked) {
    config::set("VANTOREL_VERSION_BASE", "http://127.0.0.1:1");
    actions_.checkForUpdate(false);
    waitUntil([] { return false; }, std::chrono::milliseconds(1500));
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(openMessage(), nullptr);

    actions_.checkForUpdate(true);
    ASSERT_TRUE(waitUntil([] { return openMessage() != nullptr; }));
    EXPECT_EQ(openMessage()->text(), "· 无法连接服务器、请检查网络配置！");
    EXPECT_FALSE(window_.isVisible());
    openMessage()->close();
    ASSERT_TRUE(waitUntil([] { return openMessage() == nullptr; }));

    // Started with --check-update, the check at start is one the user asked for.
    actions_.startCheckAskedByUser = true;
    actions_.onCreated();
    ASSERT_TRUE(waitUntil([] { return openMessage() != nullptr; }));
    EXPECT_EQ(openMessage()->text(), "· 无法连接服务器、请检查网络配置！");
}

// A copy the user cannot write beside (installed by the package manager) gets the release in the
// download folder, executable, is told where it went, and is never offered the clean-up step;
// the user's own copy gets it beside itself and is.
TEST_F(UpdateWindowFlow, InstalledCopySavesIntoTheDownloadFolderAndIsNeverRetired) {
    const QString installed = folder_.filePath("bin");
    const QString own = folder_.filePath("own");
    const QString downloads = folder_.filePath("下载");
    for (const QString& dir : {installed, own}) {
        ASSERT_TRUE(QDir().mkpath(dir));
        QFile program(dir + "/vantorel");
        ASSERT_TRUE(program.open(QIODevice::WriteOnly));
        program.write("old");
    }
    QFile::setPermissions(installed, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                         QFileDevice::ReadOther | QFileDevice::ExeOther);
    actions_.programFile = installed + "/vantorel";
    actions_.downloadFolders = {downloads};
    showDemoRelease();

    QMessageBox* box = update();
    ASSERT_NE(box, nullptr);
    const QString saved = downloads + "/Vantorel_v3.10.bin";
    EXPECT_EQ(box->text(), "下载完毕~\n新版本已保存到：\n" + saved + "\n" +
                               QString::fromUtf8(update::kInstalledCopyText));
    EXPECT_EQ(QFileInfo(saved).size(), 8 << 20);
    EXPECT_TRUE(
        QFileInfo(saved).permissions().testFlags(QFileDevice::ExeOwner | QFileDevice::ExeOther));
    buttonNamed(box, "打开")->click();
    EXPECT_EQ(opened_, std::vector<QString>{saved});
    EXPECT_EQ(askedToRetire_, 0);

    actions_.programFile = own + "/vantorel";
    box = update();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "下载完毕~\n新版本已保存到：\n" + own + "/Vantorel_v3.10.bin");
    buttonNamed(box, "打开")->click();
    EXPECT_EQ(askedToRetire_, 1);
    QFile::setPermissions(installed,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(UpdateWindowFlow, AnExistingReleaseIsReplacedOnlyWhenTheUserAgrees) {
    const QString target = folder_.filePath("Vantorel_v3.10.bin");
    {
        QFile older(target);
        ASSERT_TRUE(older.open(QIODevice::WriteOnly));
        older.write("mine");
    }
    showDemoRelease();
    window_.control<QAbstractButton>("按钮_确认更新")->click();
    EXPECT_EQ(askedToReplace_, std::vector<QString>{target});
    EXPECT_EQ(actions_.flow(), nullptr);
    EXPECT_EQ(QFileInfo(target).size(), 4);

    replace_ = true;
    QMessageBox* box = update();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(askedToReplace_.size(), 2u);
    EXPECT_EQ(actions_.flow()->view().phase, update::UpdatePhase::Done);
    EXPECT_EQ(QFileInfo(target).size(), 8 << 20);
}

TEST_F(UpdateWindowFlow, AnUnknownInstanceIsToldAtEveryStartOverTheMainWindow) {
    demo::HttpServer service(
        [](const demo::HttpRequest&) { return demo::HttpResponse::text("no"); });
    config::set("VANTOREL_VERSION_BASE", service.base());
    QWidget mainWindow;
    mainWindow.show();
    window_.announceCreated(); // the quiet check at start
    ASSERT_TRUE(waitUntil([] { return openMessage() != nullptr; }));
    EXPECT_EQ(openMessage()->text(), "注意：服务器查询不到实例信息,请检查实例ID是否正确");
    EXPECT_EQ(openMessage()->parentWidget(), &mainWindow);
    EXPECT_FALSE(window_.isVisible());
}

TEST_F(UpdateWindowFlow, TheUpdateDownloadKeepsToTheOneSpeedLimit) {
    actions_.speedLimit = std::make_shared<download::SpeedLimit>(10 << 10);
    showDemoRelease();
    window_.control<QAbstractButton>("按钮_确认更新")->click();
    // A second at 10 KiB/s brings a few dozen KiB of the 8 MiB release, however slow the machine.
    waitUntil([] { return false; }, std::chrono::seconds(1));
    ASSERT_TRUE(actions_.flow());
    EXPECT_FALSE(actions_.flow()->view().finished());
    EXPECT_LT(actions_.flow()->view().percent, 2);
    // Lifted, the same download goes on at full speed at once.
    actions_.speedLimit->setRate(0);
    ASSERT_TRUE(waitUntil([] { return openMessage() != nullptr; }));
    EXPECT_EQ(textOf(window_, "标签_更新状态"), "下载完毕~");
}

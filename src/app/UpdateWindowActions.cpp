#include "app/UpdateWindowActions.h"

#include "app/Messages.h"
#include "app/Pictures.h"
#include "app/UpdateWindow.h"
#include "app/Widgets.h"
#include "update/CleanupScript.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QUrl>
#include <cstdio>
#include <string>
#include <vector>

namespace vantorel::app {
namespace {

constexpr int kRefreshMs = 200;
constexpr int kFadeInMs = 350;

} // namespace

UpdateWindowActions::UpdateWindowActions(UpdateWindow& window)
    : programFile(QCoreApplication::applicationFilePath()),
      downloadFolders(
          {QStandardPaths::writableLocation(QStandardPaths::DownloadLocation), QDir::tempPath()}),
      openFile(
          [](const QString& file) { return QDesktopServices::openUrl(QUrl::fromLocalFile(file)); }),
      confirmOverwrite([&window](const QString& file) { return confirmReplace(&window, file); }),
      confirmRetire([&window] {
          return askBeforeLosing(
              &window,
              QStringLiteral("新版本已保存在程序所在文件夹。\n是否删除旧版本程序并退出？"));
      }),
      quitProgram([] { QCoreApplication::quit(); }), window_(window) {
    progressTimer_.setInterval(kRefreshMs);
    QObject::connect(&progressTimer_, &QTimer::timeout, &window_, [this] { refreshProgress(); });
}

UpdateWindowActions::~UpdateWindowActions() {
    progressTimer_.stop();
    flow_.reset(); // cancels a running download and waits for it
    workers_.stopAll();
}

void UpdateWindowActions::onCreated() {
    checkForUpdate(startCheckAskedByUser);
}

void UpdateWindowActions::checkForUpdate(bool userAsked) {
    if (checking_)
        return;
    checking_ = true;
    workers_.run(
        [](std::stop_token stop) {
            update::VersionCheckOptions options;
            options.stop = std::move(stop);
            return update::checkForUpdate(options);
        },
        [this, userAsked](const update::VersionCheckResult& result) {
            checking_ = false;
            onCheckDone(result, userAsked);
        });
}

void UpdateWindowActions::onCheckDone(const update::VersionCheckResult& result, bool userAsked) {
    using update::VersionOutcome;
    QString text;
    switch (result.outcome) {
    case VersionOutcome::NewerRelease:
        showRelease(result);
        return;
    case VersionOutcome::UpToDate:
        text = toQString(update::currentVersionLabel(result.currentVersion)) +
               QStringLiteral("，已是最新版本");
        break;
    case VersionOutcome::NotConfigured:
        text = QStringLiteral("未设置版本检查服务");
        break;
    case VersionOutcome::UnknownInstance:
        // The program's own identifier is wrong: told at every start, asked for or not.
        showMessage(&window_, QMessageBox::Warning, toQString(result.message));
        return;
    case VersionOutcome::NoAnswer:
    case VersionOutcome::AbnormalAnswer:
        text = toQString(result.message);
        if (!result.detail.empty())
            std::fprintf(stderr, "vantorel: %s (%s)\n", result.message.c_str(),
                         result.detail.c_str());
        break;
    }
    if (userAsked)
        showMessage(&window_, QMessageBox::Information, text);
}

void UpdateWindowActions::showRelease(const update::VersionCheckResult& result) {
    release_ = result.release;
    window_.control<QLabel>("标签_当前版本号")
        ->setText(toQString(update::currentVersionLabel(result.currentVersion)));
    window_.control<QLabel>("标签_最新版本号")
        ->setText(toQString(update::latestVersionLabel(result.release.latestVersion)));
    window_.control<QTextBrowser>("文本框_更新内容")
        ->setHtml(toQString(update::notesDocument(result.release, result.notesAreHtml)));
    if (auto logo = loadResourceImage(QStringLiteral(":/assets/update-logo.png")))
        window_.control<PictureBox>("图片框_自定义logo")->setImage(*logo);

    const bool wasVisible = window_.isVisible();
    window_.show();
    window_.raise();
    // A short fade-in where the platform composes windows; offscreen rendering has no use for it.
    if (!wasVisible && QGuiApplication::platformName() != QLatin1String("offscreen")) {
        auto* fade = new QPropertyAnimation(&window_, "windowOpacity", &window_);
        fade->setDuration(kFadeInMs);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void UpdateWindowActions::onConfirmClicked() {
    if (flow_ && !flow_->view().finished())
        return; // already running
    if (resultMessage_)
        resultMessage_->close();
    std::vector<std::string> folders;
    for (const QString& folder : downloadFolders)
        folders.push_back(folder.toStdString());
    const auto folder = update::chooseReleaseFolder(programFile.toStdString(), folders);
    if (!folder) {
        showMessage(&window_, QMessageBox::Warning, toQString(folder.error().message));
        return;
    }
    update::UpdateFlowOptions options;
    options.limit = speedLimit;
    auto flow = std::make_unique<update::UpdateFlow>(release_, *folder, std::move(options));
    const QString target = QString::fromStdString(flow->targetPath());
    if (QFileInfo::exists(target) && !confirmOverwrite(target))
        return;
    flow_ = std::move(flow);
    flow_->start();
    refreshProgress();
    progressTimer_.start();
}

void UpdateWindowActions::onCloseClicked() {
    progressTimer_.stop();
    if (flow_)
        flow_->cancel();
    window_.hide();
}

bool UpdateWindowActions::downloading() const {
    return flow_ && !flow_->view().finished();
}

void UpdateWindowActions::interruptDownload() {
    if (flow_)
        flow_->interrupt();
}

void UpdateWindowActions::refreshProgress() {
    if (!flow_)
        return;
    const update::UpdateView view = flow_->view();
    window_.control<QLabel>("标签_更新状态")->setText(toQString(view.status));
    window_.control<QProgressBar>("进度条_更新")->setValue(view.percent);
    window_.control<QLabel>("标签_更新进度")->setText(toQString(view.percentText));
    if (view.finished()) {
        progressTimer_.stop();
        finishDownload(view);
    }
}

void UpdateWindowActions::finishDownload(const update::UpdateView& view) {
    // Cancelled by ×, or interrupted by quitting: nothing to tell, the user asked for it.
    if (view.phase == update::UpdatePhase::Cancelled ||
        view.phase == update::UpdatePhase::Interrupted)
        return;
    if (!view.detail.empty())
        std::fprintf(stderr, "vantorel: %s (%s)\n", view.message.c_str(), view.detail.c_str());
    const bool done = view.phase == update::UpdatePhase::Done;
    QMessageBox* box = makeMessage(&window_, done ? QMessageBox::Information : QMessageBox::Warning,
                                   displayText(view.message));
    QPushButton* open =
        done ? box->addButton(toQString(update::kOpenActionText), QMessageBox::AcceptRole)
             : nullptr;
    QPushButton* retry =
        view.phase == update::UpdatePhase::AddressError
            ? nullptr
            : box->addButton(toQString(update::kRetryActionText), QMessageBox::ActionRole);
    box->addButton(QStringLiteral("关闭"), QMessageBox::RejectRole);
    const QString file = QString::fromStdString(view.file);
    QObject::connect(box, &QMessageBox::buttonClicked, &window_,
                     [this, open, retry, file](QAbstractButton* clicked) {
                         if (clicked && clicked == open)
                             openDownloaded(file);
                         else if (clicked && clicked == retry)
                             onConfirmClicked();
                     });
    resultMessage_ = box;
    box->open();
}

void UpdateWindowActions::openDownloaded(const QString& file) {
    if (!openFile(file)) {
        showMessage(&window_, QMessageBox::Warning, QStringLiteral("无法打开文件：") + file);
        return;
    }
    if (!update::shouldRetireProgram(programFile.toStdString(), file.toStdString()))
        return;
    // The new release sits beside this program: removing the old one is the user's choice.
    if (!confirmRetire())
        return;
    auto started = update::startCleanup(programFile.toStdString());
    if (!started) {
        showMessage(&window_, QMessageBox::Warning, toQString(started.error().message));
        return;
    }
    quitProgram();
}

} // namespace vantorel::app

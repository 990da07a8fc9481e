#include "app/Application.h"

#include "app/Messages.h"

#include <QApplication>
#include <QFileInfo>

namespace vantorel::app {

Application::Application(const settings::Preferences& preferences, std::string downloadList)
    : main_(std::make_unique<MainWindow>()), update_(std::make_unique<UpdateWindow>()),
      mainActions_(
          std::make_unique<MainWindowActions>(*main_, preferences, std::move(downloadList))),
      updateActions_(std::make_unique<UpdateWindowActions>(*update_)) {
    confirmQuit = [this] {
        return askYesNo(main_.get(), toQString(kQuitWhileDownloadingText),
                        toQString(kQuitKeepsPartText));
    };
    main_->closeGuard = [this] { return mayQuit(); };
    updateActions_->speedLimit = mainActions_->downloads().speedLimit();
    // The program ends with its main window; an open update window does not keep it running.
    update_->setAttribute(Qt::WA_QuitOnClose, false);
    QObject::connect(&mainActions_->downloads(), &Downloads::ended, main_.get(),
                     [this](const download::QueueItem& item) { tellEnded(item); });
    QObject::connect(&notifications_, &DesktopNotifications::clicked, main_.get(),
                     [this] { mainActions_->showDownloadList(); });
    bindMainWindow(*main_, *mainActions_);
    bindUpdateWindow(*update_, *updateActions_);
}

// The windows go before the actions they call into.
Application::~Application() {
    update_.reset();
    main_.reset();
}

bool Application::mayQuit() {
    Downloads& downloads = mainActions_->downloads();
    if (!downloads.unfinished() && !updateActions_->downloading())
        return true;
    if (!confirmQuit())
        return false;
    downloads.pauseAll();
    updateActions_->interruptDownload();
    return true;
}

void Application::tellEnded(const download::QueueItem& item) {
    // The user looking at one of the windows sees the row change.
    if (QApplication::activeWindow())
        return;
    const QString file = QFileInfo(QString::fromStdString(item.entry.target)).fileName();
    if (item.state == download::QueueState::Done)
        notifications_.notify(QStringLiteral("下载完成"), file);
    else
        notifications_.notify(QStringLiteral("下载失败"),
                              file + QLatin1Char('\n') + toQString(item.error));
}

void Application::comeToFront() {
    main_->showNormal();
    main_->raise();
    main_->activateWindow();
}

void Application::start() {
    // The keyboard starts where a search starts, not on the first picture that takes focus.
    main_->control("编辑框_搜索框")->setFocus(Qt::OtherFocusReason);
    main_->show();
    main_->announceCreated();
    update_->announceCreated();
}

} // namespace vantorel::app

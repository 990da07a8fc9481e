#include "app/Application.h"

#include "app/Messages.h"

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

void Application::start() {
    // The keyboard starts where a search starts, not on the first picture that takes focus.
    main_->control("编辑框_搜索框")->setFocus(Qt::OtherFocusReason);
    main_->show();
    main_->announceCreated();
    update_->announceCreated();
}

} // namespace vantorel::app

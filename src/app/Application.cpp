#include "app/Application.h"

namespace vantorel::app {

Application::Application()
    : main_(std::make_unique<MainWindow>()), update_(std::make_unique<UpdateWindow>()),
      mainActions_(std::make_unique<MainWindowActions>(*main_)),
      updateActions_(std::make_unique<UpdateWindowActions>(*update_)) {
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

void Application::start() {
    main_->show();
    main_->announceCreated();
    update_->announceCreated();
}

} // namespace vantorel::app

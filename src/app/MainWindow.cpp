#include "app/MainWindow.h"

#include <QCloseEvent>

namespace vantorel::app {

MainWindow::MainWindow(QWidget* parent)
    : DescribedWindow(mainWindowSpec(), parent), menu_(new QMenu(this)) {
    const WindowSpec& spec = description();
    menu_->setObjectName(toQString(spec.menuName));
    menu_->setTitle(toQString(spec.menuName));
    for (std::string_view caption : spec.menuEntries) {
        entries_.push_back(menu_->addAction(toQString(caption)));
    }
}

void MainWindow::popUpMenu(QPoint globalPosition) {
    menu_->popup(globalPosition);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closeGuard && !closeGuard()) {
        event->ignore();
        return;
    }
    DescribedWindow::closeEvent(event);
}

} // namespace vantorel::app

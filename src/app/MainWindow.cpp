#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <utility>

namespace vantorel::app {

MainWindow::MainWindow(QWidget* parent)
    : DescribedWindow(mainWindowSpec(), parent), menu_(new QMenu(this)) {
    const WindowSpec& spec = description();
    menu_->setObjectName(toQString(spec.menuName));
    menu_->setTitle(toQString(spec.menuName));
    for (std::string_view caption : spec.menuEntries) {
        entries_.push_back(menu_->addAction(toQString(caption)));
    }
    // The list and the settings are wanted without an entry shown, and from the keyboard: their
    // shortcuts work anywhere in the window (and show in the menu).
    const std::pair<std::string_view, QKeySequence> shortcuts[] = {
        {"下载列表", QKeySequence(Qt::CTRL | Qt::Key_J)},
        {"设置", QKeySequence(Qt::CTRL | Qt::Key_Comma)}};
    for (const auto& [caption, keys] : shortcuts) {
        for (QAction* entry : entries_) {
            if (entry->text() == toQString(caption)) {
                entry->setShortcut(keys);
                addAction(entry);
            }
        }
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

bool MainWindow::overProgressLabel(QPointF position) const {
    const QWidget* label = control("标签_进度");
    return label && label->isVisible() && label->geometry().contains(position.toPoint());
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    pressedOnProgressLabel_ =
        event->button() == Qt::LeftButton && overProgressLabel(event->position());
    DescribedWindow::mousePressEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    const bool clicked = pressedOnProgressLabel_ && event->button() == Qt::LeftButton &&
                         overProgressLabel(event->position());
    pressedOnProgressLabel_ = false;
    DescribedWindow::mouseReleaseEvent(event);
    if (clicked)
        emit progressLabelClicked();
}

} // namespace vantorel::app

#include "app/UpdateWindow.h"

#include "app/Widgets.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>

namespace vantorel::app {

UpdateWindow::UpdateWindow(QWidget* parent, QRect available)
    : DescribedWindow(updateWindowSpec(), parent, available) {
    for (const auto& [name, widget] : controls().all()) {
        const auto kind = kindOf(widget);
        if (kind && pressMovesWindow(*kind)) {
            widget->installEventFilter(this);
        }
    }
}

bool UpdateWindow::handleDragEvent(QMouseEvent* event) {
    const QPoint pointer = event->globalPosition().toPoint();
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (event->button() != Qt::LeftButton) {
            return false;
        }
        // Where the platform moves windows itself (as for a title bar), let it; otherwise
        // follow the pointer here.
        if (windowHandle() && windowHandle()->startSystemMove()) {
            return true;
        }
        drag_.begin(pointer, pos());
        return true;
    case QEvent::MouseMove:
        if (!drag_.active()) {
            return false;
        }
        if (event->buttons() & Qt::LeftButton) {
            move(drag_.positionFor(pointer));
        } else {
            drag_.end(); // the release happened elsewhere
        }
        return true;
    case QEvent::MouseButtonRelease:
        if (!drag_.active() || event->button() != Qt::LeftButton) {
            return false;
        }
        move(drag_.positionFor(pointer));
        drag_.end();
        return true;
    default:
        return false;
    }
}

bool UpdateWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        if (handleDragEvent(static_cast<QMouseEvent*>(event))) {
            return true;
        }
        break;
    default:
        break;
    }
    return DescribedWindow::eventFilter(watched, event);
}

void UpdateWindow::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        emit escapePressed();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        modifiers == Qt::NoModifier) {
        emit enterPressed();
        return;
    }
    DescribedWindow::keyPressEvent(event);
}

void UpdateWindow::mousePressEvent(QMouseEvent* event) {
    if (!handleDragEvent(event)) {
        DescribedWindow::mousePressEvent(event);
    }
}

void UpdateWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!handleDragEvent(event)) {
        DescribedWindow::mouseMoveEvent(event);
    }
}

void UpdateWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (!handleDragEvent(event)) {
        DescribedWindow::mouseReleaseEvent(event);
    }
}

} // namespace vantorel::app

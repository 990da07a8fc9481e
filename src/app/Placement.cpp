#include "app/Placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace vantorel::app {
namespace {

constexpr int kGap = 8;

} // namespace

QPoint besidePosition(QRect anchor, QSize frame, QRect area) {
    int x = anchor.right() + 1 + kGap;
    if (x + frame.width() > area.right() + 1) {
        x = anchor.left() - kGap - frame.width();
        if (x < area.left())
            x = anchor.left() + (anchor.width() - frame.width()) / 2;
    }
    x = std::max(area.left(), std::min(x, area.right() + 1 - frame.width()));
    const int y = std::max(area.top(), std::min(anchor.top(), area.bottom() + 1 - frame.height()));
    return {x, y};
}

void placeBeside(QWidget& window, const QWidget& anchor) {
    const QScreen* screen = anchor.screen() ? anchor.screen() : QGuiApplication::primaryScreen();
    if (!anchor.isVisible() || !screen)
        return;
    // Before its first showing a window has no frame yet: the anchor's stands in for it.
    QSize decoration = window.frameGeometry().size() - window.size();
    if (decoration.isNull())
        decoration = anchor.frameGeometry().size() - anchor.size();
    window.move(besidePosition(anchor.frameGeometry(), window.size() + decoration,
                               screen->availableGeometry()));
}

} // namespace vantorel::app

#pragma once
// Where a window the main window opens (下载列表, 设置) first appears: beside the main window,
// where the user is looking, rather than wherever the desktop puts a new window.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace vantorel::app {

// The top-left corner for an outer frame of `frame` beside `anchor` (an outer frame too):
// right of it when that fits in `area`, else left of it, else over it, centred; tops aligned;
// always inside `area` as far as the frame fits.
QPoint besidePosition(QRect anchor, QSize frame, QRect area);

// Moves `window` beside `anchor` on the anchor's screen; a hidden anchor leaves it where it is.
void placeBeside(QWidget& window, const QWidget& anchor);

} // namespace vantorel::app

#pragma once
// Renders windows into PNG files without showing them on a screen.

#include "common/Result.h"

#include <QString>
#include <QWidget>

namespace vantorel::app {

// Renders `window` into `path` as PNG. The file is replaced only once the whole picture has
// been written.
Status saveScreenshot(QWidget& window, const QString& path);

// DIR/main.png and DIR/update.png; DIR is created when missing.
Status saveScreenshots(QWidget& main, QWidget& update, const QString& dir);

} // namespace vantorel::app

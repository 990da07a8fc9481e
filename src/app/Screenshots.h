#pragma once
// Renders windows into PNG files without showing them on a screen.

#include "common/Result.h"

#include <QString>
#include <QWidget>
#include <span>

namespace vantorel::app {

// Sizes and lays out a window that has not been shown as showing it would: a window nobody
// resized takes the size its layout asks for, and every nested layout places its controls.
void layOutUnshown(QWidget& window);

// Renders `window` into `path` as PNG. The file is replaced only once the whole picture has
// been written.
Status saveScreenshot(QWidget& window, const QString& path);

struct Screenshot {
    QWidget* window;
    QString file; // name inside the folder: "main.png"
};

// Each window into its file in `dir`; `dir` is created when missing.
Status saveScreenshots(std::span<const Screenshot> shots, const QString& dir);

} // namespace vantorel::app

#pragma once
// A picture of the main window at work: searched, with the first entry's details and logo
// shown. Used with the offline services (vantorel --demo --screenshot DIR).

#include "app/MainWindow.h"
#include "common/Result.h"

#include <QString>
#include <chrono>

namespace vantorel::app {

// Clicks 按钮_搜索, double-clicks the first row once the rows are there, waits for the logo and
// renders the window into `path`. The window's events must be bound. Fails when the search
// finds nothing or the steps take longer than `limit`.
Status saveResultsScreenshot(MainWindow& window, const QString& path,
                             std::chrono::milliseconds limit = std::chrono::seconds(20));

} // namespace vantorel::app

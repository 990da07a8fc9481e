#pragma once
// Qt's own texts (the standard buttons of message boxes, the file and colour dialogs) in
// Chinese, like every text of the program: "确定", "是", "否" instead of "OK", "Yes", "No".

#include <QCoreApplication>

namespace vantorel::app {

// Loads Qt's Simplified Chinese translations into the application; false (with a line on
// stderr) when they are not installed, and Qt's English texts remain.
bool installChineseTranslations(QCoreApplication& application);

} // namespace vantorel::app

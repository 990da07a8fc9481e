#include "app/ResultsScreenshot.h"

#include "app/Screenshots.h"
#include "app/Widgets.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>

namespace vantorel::app {
namespace {

template <class Condition> bool runUntil(Condition condition, const QDeadlineTimer& deadline) {
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace

Status saveResultsScreenshot(MainWindow& window, const QString& path,
                             std::chrono::milliseconds limit) {
    const QDeadlineTimer deadline(limit);
    auto* search = window.control<QPushButton>("按钮_搜索");
    auto* list = window.control<ReportList>("超级列表框_应用列表");
    auto* logo = window.control<PictureBox>("图片框_图标");
    window.show();
    // Rows left from before would pass a failed search off as a result.
    list->clearRows();
    search->click();
    if (!runUntil([&] { return search->isEnabled(); }, deadline))
        return makeError("搜索没有在限定时间内完成");
    if (list->rowCount() == 0)
        return makeError("搜索没有找到任何软件");

    list->setFocus();
    list->selectRow(0);
    QWidget* rows = list->viewport();
    const QPoint at = list->visualItemRect(list->item(0, 1)).center();
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(at),
                            rows->mapToGlobal(QPointF(at)), Qt::LeftButton, Qt::LeftButton,
                            Qt::NoModifier);
    QApplication::sendEvent(rows, &doubleClick);
    if (!runUntil([&] { return !logo->image().isNull(); }, deadline))
        return makeError("图标没有在限定时间内显示");
    return saveScreenshot(window, path);
}

} // namespace vantorel::app

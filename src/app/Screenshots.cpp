#include "app/Screenshots.h"

#include <QDir>
#include <QImage>
#include <QLayout>
#include <QPixmap>
#include <QSaveFile>
#include <vector>

namespace vantorel::app {

void layOutUnshown(QWidget& window) {
    window.ensurePolished();
    if (!window.testAttribute(Qt::WA_Resized) && window.layout())
        window.adjustSize();
    // Outer layouts first: each places the widgets whose own layouts come next. A hidden widget
    // gets no resize event to tell its layout, so each is asked to lay out again.
    std::vector<QWidget*> widgets{&window};
    for (QWidget* child : window.findChildren<QWidget*>())
        widgets.push_back(child);
    for (QWidget* widget : widgets) {
        if (QLayout* layout = widget->layout()) {
            layout->invalidate();
            layout->activate();
        }
    }
}

Status saveScreenshot(QWidget& window, const QString& path) {
    layOutUnshown(window);
    const QImage image = window.grab().toImage();
    if (image.isNull()) {
        return makeError("无法绘制窗口 " + window.objectName().toStdString());
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return makeError("无法写入 " + path.toStdString() + "：" +
                         file.errorString().toStdString());
    }
    if (!image.save(&file, "PNG") || !file.commit()) {
        file.cancelWriting();
        return makeError("无法写入 " + path.toStdString() + "：" +
                         file.errorString().toStdString());
    }
    return {};
}

Status saveScreenshots(std::span<const Screenshot> shots, const QString& dir) {
    if (!QDir().mkpath(dir)) {
        return makeError("无法创建目录 " + dir.toStdString());
    }
    const QDir target(dir);
    for (const Screenshot& shot : shots) {
        if (auto status = saveScreenshot(*shot.window, target.filePath(shot.file)); !status) {
            return status;
        }
    }
    return {};
}

} // namespace vantorel::app

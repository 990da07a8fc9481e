#include "app/Screenshots.h"

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QSaveFile>

namespace vantorel::app {

Status saveScreenshot(QWidget& window, const QString& path) {
    window.ensurePolished();
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

Status saveScreenshots(QWidget& main, QWidget& update, const QString& dir) {
    if (!QDir().mkpath(dir)) {
        return makeError("无法创建目录 " + dir.toStdString());
    }
    const QDir target(dir);
    if (auto status = saveScreenshot(main, target.filePath(QStringLiteral("main.png"))); !status) {
        return status;
    }
    return saveScreenshot(update, target.filePath(QStringLiteral("update.png")));
}

} // namespace vantorel::app

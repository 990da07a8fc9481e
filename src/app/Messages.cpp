#include "app/Messages.h"

#include "common/Version.h"

#include <QTimer>

namespace vantorel::app {

QString toQ(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString displayText(std::string_view utf8) {
    QString text = toQ(utf8);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QMessageBox* showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
    auto* box = new QMessageBox(icon, toQ(kAppTitle), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}

QMessageBox* showTimedMessage(QWidget* parent, const QString& title, const QString& text,
                              std::chrono::milliseconds timeout) {
    auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The timer belongs to the box: closed early, the box takes its timer with it.
    QTimer::singleShot(timeout, box, &QMessageBox::close);
    box->open();
    return box;
}

} // namespace vantorel::app

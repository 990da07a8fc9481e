#include "app/Messages.h"

#include "common/Version.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

namespace vantorel::app {
namespace {

// The window a message is shown over: `parent`'s window when it is on screen, else the first
// visible top-level window, so that no box lands where a hidden window would have been.
QWidget* ownerFor(QWidget* parent) {
    if (parent && parent->window()->isVisible())
        return parent;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && !qobject_cast<QMessageBox*>(top))
            return top;
    return parent;
}

bool ask(QWidget* parent, const QString& text, const QString& explanation,
         QMessageBox::StandardButton byDefault) {
    QMessageBox box(QMessageBox::Question, toQString(kAppTitle), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setInformativeText(explanation);
    box.setDefaultButton(byDefault);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

QString displayText(std::string_view utf8) {
    QString text = toQString(utf8);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QMessageBox* makeMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
    auto* box =
        new QMessageBox(icon, toQString(kAppTitle), text, QMessageBox::NoButton, ownerFor(parent));
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

QMessageBox* showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
    QMessageBox* box = makeMessage(parent, icon, text);
    box->addButton(QMessageBox::Ok);
    box->open();
    return box;
}

QMessageBox* showFailure(QWidget* parent, const Error& error) {
    if (!error.detail.empty())
        std::fprintf(stderr, "vantorel: %s\n", messageWithDetail(error).c_str());
    return showMessage(parent, QMessageBox::Warning, toQString(error.message));
}

QMessageBox* showTimedMessage(QWidget* parent, const QString& title, const QString& text,
                              std::chrono::milliseconds timeout) {
    auto* box =
        new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, ownerFor(parent));
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The timer belongs to the box: closed early, the box takes its timer with it.
    QTimer::singleShot(timeout, box, &QMessageBox::close);
    box->open();
    return box;
}

bool askYesNo(QWidget* parent, const QString& text, const QString& explanation) {
    return ask(parent, text, explanation, QMessageBox::Yes);
}

bool askBeforeLosing(QWidget* parent, const QString& text, const QString& explanation) {
    return ask(parent, text, explanation, QMessageBox::No);
}

bool confirmReplace(QWidget* parent, const QString& file) {
    return askBeforeLosing(parent, QStringLiteral("文件已存在：\n") + file +
                                       QStringLiteral("\n是否覆盖？"));
}

} // namespace vantorel::app

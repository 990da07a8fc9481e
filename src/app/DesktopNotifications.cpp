#include "app/DesktopNotifications.h"

#include "common/Version.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

namespace vantorel::app {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kDefaultAction = QStringLiteral("default");
constexpr int kServerDecidesTimeout = -1;

} // namespace

DesktopNotifications::DesktopNotifications() = default;

void DesktopNotifications::useBus(const QDBusConnection& bus) {
    bus_ = bus;
}

QDBusConnection& DesktopNotifications::bus() {
    if (!bus_)
        bus_ = QDBusConnection::sessionBus();
    return *bus_;
}

void DesktopNotifications::notify(const QString& summary, const QString& body) {
    QDBusConnection& connection = bus();
    if (!connection.isConnected())
        return;
    if (!listening_) {
        listening_ = true;
        connection.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                           SLOT(onActionInvoked(uint, QString)));
        connection.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this,
                           SLOT(onClosed(uint, uint)));
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QString desktopEntry = QGuiApplication::desktopFileName();
    QVariantMap hints;
    if (!desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    // Services that read markup in the body would take a file's name for markup.
    call << QString::fromUtf8(kAppTitle) << 0u << desktopEntry << summary << body.toHtmlEscaped()
         << QStringList{kDefaultAction, QStringLiteral("打开下载列表")} << hints
         << kServerDecidesTimeout;
    auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                // No service, or one that failed: the download list still tells the outcome.
                if (!reply.isError())
                    shown_.insert(reply.value());
                finished->deleteLater();
            });
}

void DesktopNotifications::onActionInvoked(uint id, const QString& action) {
    if (shown_.contains(id) && action == kDefaultAction)
        emit clicked();
}

void DesktopNotifications::onClosed(uint id, uint) {
    shown_.erase(id);
}

} // namespace vantorel::app

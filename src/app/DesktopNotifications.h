#pragma once
// Desktop notifications, as freedesktop notification services take them over D-Bus
// (org.freedesktop.Notifications.Notify). Nothing is shown, and nothing is said, when there is
// no session bus or no service on it. A click on a notification (its default action) is
// announced with clicked().

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>
#include <set>

namespace vantorel::app {

class DesktopNotifications : public QObject {
    Q_OBJECT
  public:
    DesktopNotifications();

    // The bus to use instead of the session bus (tests bring their own); before the first
    // notification.
    void useBus(const QDBusConnection& bus);

    // Sends a notification; `body` is plain text.
    void notify(const QString& summary, const QString& body);

  signals:
    void clicked();

  private slots:
    void onActionInvoked(uint id, const QString& action);
    void onClosed(uint id, uint reason);

  private:
    QDBusConnection& bus();

    // Made when the first notification is sent: a program that never notifies never
    // connects.
    std::optional<QDBusConnection> bus_;
    bool listening_ = false;
    std::set<uint> shown_; // ours, still on the screen
};

} // namespace vantorel::app

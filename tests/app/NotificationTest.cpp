// A download that ends while none of the program's windows is active is told on the desktop:
// a notification service of our own, on a private session bus, records what it is sent, and
// its click opens the download list. While the user looks at a window, nothing is sent.

#include "EventLoop.h"
#include "app/Application.h"
#include "demo/CatalogueData.h"
#include "demo/RangeServer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vantorel;
using namespace vantorel::app;
using vantorel::testing::waitUntil;

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    struct Sent {
        QString summary;
        QString body;
        QStringList actions;
    };
    std::vector<Sent> sent;

  public slots:
    Q_SCRIPTABLE uint Notify(const QString&, uint, const QString&, const QString& summary,
                             const QString& body, const QStringList& actions, const QVariantMap&,
                             int) {
        sent.push_back({summary, body, actions});
        return static_cast<uint>(sent.size());
    }
};

class Notifications : public ::testing::Test {
  protected:
    void SetUp() override {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(dir_.isValid());
        bus_.start(daemon,
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address"),
                    QStringLiteral("--address=unix:path=") + dir_.filePath(QStringLiteral("bus"))});
        ASSERT_TRUE(waitUntil([&] { return bus_.canReadLine(); }, std::chrono::seconds(10)));
        const QString address = QString::fromUtf8(bus_.readLine()).trimmed();
        service_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("notification-service")));
        program_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("notification-program")));
        ASSERT_TRUE(service_->isConnected() && program_->isConnected());
        ASSERT_TRUE(service_->registerService(kService));
        ASSERT_TRUE(
            service_->registerObject(kPath, &service, QDBusConnection::ExportScriptableSlots));
        app_.notifications().useBus(*program_);

        demo::RangeFaults slow;
        slow.throttleBytes = 4096;
        slow.throttleDelay = std::chrono::milliseconds(50);
        files_.setFaults(slow);
        files_.add("/files/a.exe", demo::installerBytes("a.exe", 64 * 1024));
    }
    void TearDown() override {
        service_.reset();
        program_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-program"));
        bus_.kill();
        bus_.waitForFinished();
    }

    std::uint64_t download(const char* name) {
        return app_.mainActions().downloads().add(
            {name,
             {server_.base() + "/files/a.exe"},
             dir_.filePath(QString::fromUtf8(name)).toStdString()});
    }
    bool done(std::uint64_t id) {
        const download::QueueItem* item = app_.mainActions().downloads().find(id);
        return item && item->state == download::QueueState::Done;
    }
    void click(uint id) {
        QDBusMessage clicked =
            QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActionInvoked"));
        clicked << id << QStringLiteral("default");
        service_->send(clicked);
    }

    QTemporaryDir dir_;
    QProcess bus_;
    std::unique_ptr<QDBusConnection> service_;
    std::unique_ptr<QDBusConnection> program_;
    NotificationService service;
    demo::RangeFiles files_;
    demo::HttpServer server_{[this](const demo::HttpRequest& r) { return files_.respond(r); }};
    Application app_;
};

} // namespace

TEST_F(Notifications, ADownloadEndingUnseenIsToldAndTheClickOpensTheList) {
    DownloadListWindow& list = app_.mainActions().downloadListWindow();
    const std::uint64_t unseen = download("甲.exe");
    // The list came up with the download; the user goes elsewhere.
    ASSERT_TRUE(waitUntil([&] { return list.isActiveWindow(); }));
    list.close();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == nullptr; }));
    ASSERT_TRUE(waitUntil([&] { return !service.sent.empty(); }));
    EXPECT_TRUE(done(unseen));
    EXPECT_EQ(service.sent[0].summary, QStringLiteral("下载完成"));
    EXPECT_EQ(service.sent[0].body, QStringLiteral("甲.exe"));
    EXPECT_TRUE(service.sent[0].actions.contains(QStringLiteral("default")));

    // Brought back even from the task bar.
    list.showMinimized();
    click(1);
    ASSERT_TRUE(waitUntil([&] { return list.isVisible() && !list.isMinimized(); }));

    // Watched in the list as it ends: no notification.
    const std::uint64_t seen = download("乙.exe");
    ASSERT_TRUE(QApplication::activeWindow());
    ASSERT_TRUE(waitUntil([&] { return done(seen); }));
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(service.sent.size(), 1u);
}

#include "NotificationTest.moc"

#include "app/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace vantorel::app {
namespace {

constexpr int kAnswerMs = 3000;
// A program that has just taken the lock needs a moment before it listens.
constexpr int kListenWaitMs = 5000;
constexpr int kRetryMs = 100;
// A command line is a few options; anything longer is not one of ours.
constexpr qint64 kMostBytes = 64 * 1024;
const QByteArray kAnswer = QByteArrayLiteral("ok\n");

QString lockPath(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("vantorel.lock"));
}

QString socketPath(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("vantorel.socket"));
}

Error notAnswering() {
    return makeError("vantorel 已在运行，但没有响应；请关闭它后再启动");
}

// Sends `arguments` to the running program and waits for its answer.
bool handOver(const QString& socket, const QStringList& arguments) {
    QLocalSocket client;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        client.connectToServer(socket);
        if (client.waitForConnected(kAnswerMs))
            break;
        if (clock.elapsed() > kListenWaitMs)
            return false;
        QThread::msleep(kRetryMs);
    }
    client.write(
        QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact) + '\n');
    if (!client.waitForBytesWritten(kAnswerMs))
        return false;
    while (client.bytesAvailable() < kAnswer.size())
        if (!client.waitForReadyRead(kAnswerMs))
            return false;
    return client.read(kAnswer.size()) == kAnswer;
}

} // namespace

SingleInstance::SingleInstance(QString folder) : folder_(std::move(folder)) {
    if (folder_.isEmpty())
        folder_ = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] { accept(); });
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::claim(const QStringList& arguments) {
    if (folder_.isEmpty())
        return {true, makeError("找不到用户的运行时文件夹，无法确认 vantorel 是否已在运行")};
    lock_ = std::make_unique<QLockFile>(lockPath(folder_));
    // Held for the whole run: never taken for stale because of its age, only because its
    // process is gone.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        const bool taken = lock_->error() == QLockFile::LockFailedError;
        lock_.reset();
        if (!taken)
            return {true, makeError("无法在 " + folder_.toStdString() +
                                    " 建立锁文件，无法确认 vantorel 是否已在运行")};
        if (!handOver(socketPath(folder_), arguments))
            return {false, notAnswering()};
        return {false, std::nullopt};
    }
    // The lock is ours: whatever socket is there was left by a program that has ended.
    QLocalServer::removeServer(socketPath(folder_));
    if (!server_.listen(socketPath(folder_)))
        return {true, makeError("无法在 " + folder_.toStdString() + " 建立本地连接：" +
                                server_.errorString().toStdString())};
    return {true, std::nullopt};
}

void SingleInstance::accept() {
    while (QLocalSocket* client = server_.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (!client->canReadLine()) {
                if (client->bytesAvailable() > kMostBytes)
                    client->abort();
                return;
            }
            const QJsonDocument sent = QJsonDocument::fromJson(client->readLine(kMostBytes));
            if (!sent.isArray()) {
                client->abort();
                return;
            }
            client->write(kAnswer);
            client->disconnectFromServer();
            QStringList arguments;
            for (const QJsonValue& argument : sent.array())
                arguments << argument.toString();
            emit arrived(arguments);
        });
    }
}

} // namespace vantorel::app

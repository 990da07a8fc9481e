// One program per user: a later start hands its command line to the running program and ends,
// reports still run beside it, and a program killed without a chance to clean up is taken over
// by the next start.

#include "app/SingleInstance.h"
#include "EventLoop.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

using namespace vantorel::app;
using vantorel::testing::waitUntil;

TEST(SingleInstance, ALaterStartHandsItsCommandLineToTheRunningOne) {
    QTemporaryDir runtime;
    SingleInstance running(runtime.path());
    const SingleInstance::Claim first = running.claim({QStringLiteral("vantorel")});
    ASSERT_TRUE(first.runs);
    ASSERT_FALSE(first.problem);
    QStringList arrived;
    QObject::connect(&running, &SingleInstance::arrived,
                     [&](const QStringList& arguments) { arrived = arguments; });

    // The later start waits for the answer, which needs this thread's event loop.
    SingleInstance::Claim later;
    bool done = false;
    std::thread start([&] {
        SingleInstance other(runtime.path());
        later = other.claim({QStringLiteral("vantorel"), QStringLiteral("--check-update")});
        done = true;
    });
    EXPECT_TRUE(waitUntil([&] { return !arrived.isEmpty(); }));
    start.join();
    EXPECT_TRUE(done);
    EXPECT_FALSE(later.runs);
    EXPECT_FALSE(later.problem);
    EXPECT_EQ(arrived, (QStringList{QStringLiteral("vantorel"), QStringLiteral("--check-update")}));
}

TEST(SingleInstance, TheProgramRunsOnceAndAKilledOneIsTakenOver) {
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "HOME"})
        env.insert(QString::fromLatin1(name), home.path());
    env.remove(QStringLiteral("VANTOREL_INI"));
    const QString socket = home.filePath(QStringLiteral("vantorel.socket"));
    auto start = [&](QProcess& program, const QStringList& arguments = {}) {
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(VANTOREL_APP_PATH), arguments);
        return program.waitForStarted();
    };

    QProcess first;
    ASSERT_TRUE(start(first));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(socket); }));
    QProcess second;
    ASSERT_TRUE(start(second));
    ASSERT_TRUE(second.waitForFinished(10000)) << "a second program ends at once";
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    QProcess report;
    ASSERT_TRUE(start(report, {QStringLiteral("--dump-ui")}));
    ASSERT_TRUE(report.waitForFinished(20000));
    EXPECT_EQ(report.exitCode(), 0);
    EXPECT_TRUE(report.readAllStandardOutput().contains("窗口_下载列表")) << "reports still work";
    EXPECT_EQ(first.state(), QProcess::Running);

    // Killed: its lock and socket stay behind.
    first.kill();
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(socket));
    QProcess next;
    ASSERT_TRUE(start(next));
    EXPECT_FALSE(next.waitForFinished(3000))
        << "takes over instead of handing over: " << next.readAllStandardError().toStdString();
    QProcess after;
    ASSERT_TRUE(start(after));
    ASSERT_TRUE(after.waitForFinished(10000));
    EXPECT_EQ(after.exitCode(), 0);
    next.kill();
    next.waitForFinished(10000);
}

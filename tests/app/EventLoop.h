#pragma once
// Waiting in window tests: the event loop runs (queued deliveries from workers, timers) until a
// condition holds or the time is up.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <chrono>

namespace vantorel::testing {

template <class Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace vantorel::testing

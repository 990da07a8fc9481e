#pragma once
// Runs blocking work (network requests) on threads of its own and hands each result back on the
// user-interface thread, so the window never waits for the network.

#include <QObject>
#include <QThread>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace vantorel::app {

class Workers {
  public:
    Workers() = default;
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;
    // Waits for every job still running; results not yet delivered are dropped.
    ~Workers() { waitAll(); }

    // Runs work() on a new thread; done(result) then runs on the thread that owns this object,
    // from its event loop. `done` is never called after this object is gone.
    template <class Work, class Done> void run(Work work, Done done) {
        using T = decltype(work());
        auto result = std::make_shared<std::optional<T>>();
        std::unique_ptr<QThread> thread(QThread::create(
            [result, work = std::move(work)]() mutable { result->emplace(work()); }));
        QObject::connect(thread.get(), &QThread::finished, &receiver_,
                         [result, done = std::move(done)]() mutable {
                             if (*result)
                                 done(std::move(**result));
                         });
        reapFinished();
        thread->start();
        threads_.push_back(std::move(thread));
    }

    bool idle() const {
        for (const auto& thread : threads_)
            if (!thread->isFinished())
                return false;
        return true;
    }

    void waitAll() {
        for (auto& thread : threads_)
            thread->wait();
    }

  private:
    // A thread that reports itself finished may still be leaving its run function; wait()
    // returns once it has, so the QThread is not destroyed under it.
    void reapFinished() {
        std::erase_if(threads_,
                      [](const auto& thread) { return thread->isFinished() && thread->wait(); });
    }

    // Deliveries go to this object: its destruction drops the ones still queued.
    QObject receiver_;
    std::vector<std::unique_ptr<QThread>> threads_;
};

} // namespace vantorel::app

#pragma once
// Runs blocking work (network requests) on threads of its own and hands each result back on the
// user-interface thread, so the window never waits for the network. Each job gets a stop token
// that it hands to its requests; destroying the Workers requests the stop, so a job waiting for
// a hung server ends at once instead of holding the program open.

#include <QObject>
#include <QThread>
#include <memory>
#include <optional>
#include <stop_token>
#include <utility>
#include <vector>

namespace vantorel::app {

class Workers {
  public:
    Workers() = default;
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;
    // Stops every job still running and waits for it; results not yet delivered are dropped.
    ~Workers() { stopAll(); }

    // Runs work(stopToken) on a new thread; done(result) then runs on the thread that owns this
    // object, from its event loop. `done` is never called after this object is gone.
    template <class Work, class Done> void run(Work work, Done done) {
        using T = decltype(work(std::stop_token{}));
        auto result = std::make_shared<std::optional<T>>();
        std::unique_ptr<QThread> thread(
            QThread::create([result, work = std::move(work), stop = stop_.get_token()]() mutable {
                *result = work(stop);
            }));
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

    // Requests every job's stop and waits for them; no job can be started afterwards.
    void stopAll() {
        stop_.request_stop();
        waitAll();
    }

  private:
    // A thread that reports itself finished may still be leaving its run function; wait()
    // returns once it has, so the QThread is not destroyed under it.
    void reapFinished() {
        std::erase_if(threads_,
                      [](const auto& thread) { return thread->isFinished() && thread->wait(); });
    }

    std::stop_source stop_;
    // Deliveries go to this object: its destruction drops the ones still queued.
    QObject receiver_;
    std::vector<std::unique_ptr<QThread>> threads_;
};

} // namespace vantorel::app

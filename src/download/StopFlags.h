#pragma once
// Why the workers of a download stop before its bytes are all in: the first failure (which wins
// over any later one), a server that does not serve ranges as asked (the download falls back to
// one stream), a file that changed on the server; and when work beside the workers ends (the
// download settled). Set from any thread; every worker reads them between reads of its reply.

#include "common/Result.h"

#include <atomic>
#include <mutex>
#include <optional>

namespace vantorel::download {

class StopFlags {
  public:
    bool stopped() const { return stop_.load(); }
    bool fellBack() const { return fallback_.load(); }
    bool changed() const { return changed_.load(); }
    bool settled() const { return settled_.load() || stop_.load(); }

    void fail(Error error) {
        {
            std::lock_guard guard(mutex_);
            if (!failure_)
                failure_ = std::move(error);
        }
        stop_.store(true);
    }
    std::optional<Error> failure() const {
        std::lock_guard guard(mutex_);
        return failure_;
    }
    void fallBack() {
        fallback_.store(true);
        stop_.store(true);
    }
    void versionChanged() {
        changed_.store(true);
        stop_.store(true);
    }
    void settle() { settled_.store(true); }
    // Another pass starts (a stream after ranges, the new version), with work beside the
    // workers of its own: the failure stays.
    void reset() {
        stop_.store(false);
        settled_.store(false);
        fallback_.store(false);
        changed_.store(false);
    }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> fallback_{false};
    std::atomic<bool> changed_{false};
    std::atomic<bool> settled_{false};
    mutable std::mutex mutex_;
    std::optional<Error> failure_;
};

} // namespace vantorel::download

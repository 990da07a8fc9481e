#pragma once
// One speed limit for a whole download, shared by all its connections: a token bucket that each
// worker draws from before it writes what it read. A worker that finds the bucket empty waits in
// its write callback, so its connection stops reading and the server slows down with it.
//
// The bucket holds at most kBurst of the rate, so over any span the download stays within the
// limit plus that much: over 10 s, within 2.5 %.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

namespace vantorel::download {

class SpeedLimit {
  public:
    static constexpr std::chrono::milliseconds kBurst{250};

    // 0: no limit.
    explicit SpeedLimit(std::uint64_t bytesPerSecond) : rate_(bytesPerSecond) {}

    bool limited() const { return rate_ > 0; }
    std::uint64_t bytesPerSecond() const { return rate_; }

    // Waits until `bytes` may pass. `wait` sleeps for the time it is given and says whether the
    // download is still running; false from it ends the wait early (and this returns false).
    bool take(std::uint64_t bytes, const std::function<bool(std::chrono::nanoseconds)>& wait);

  private:
    using Clock = std::chrono::steady_clock;
    const std::uint64_t rate_;
    std::mutex mutex_;
    Clock::time_point next_{}; // when the bytes taken so far have all been paid for
};

} // namespace vantorel::download

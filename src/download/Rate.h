#pragma once
// How fast bytes arrive. From the running count of bytes arrived, sampled now and then, a Rate
// knows what arrived over a window of time that slides with the samples: the speed shown (over
// the last second) and whether a whole download stays under the speed floor (over the time it
// may take to give up).

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace vantorel::download {

class Rate {
  public:
    using Clock = std::chrono::steady_clock;

    explicit Rate(Clock::duration window) : window_(window) {}

    // The running count of bytes arrived, as it is now.
    void add(std::uint64_t arrived);
    // Forgets every sample: the window starts again.
    void clear() {
        samples_.clear();
        span_ = {};
        bytes_ = 0;
    }
    // Bytes per second over the span the samples cover; 0 while they cover no time.
    double bytesPerSecond() const;
    // True when the samples cover the whole window and less than `floor` bytes per second
    // arrived over it.
    bool under(double floor) const;

  private:
    const Clock::duration window_;
    // (time, bytes arrived) samples over the last window, with one at or before its start as
    // the anchor: what arrived over the span they cover.
    std::deque<std::pair<Clock::time_point, std::uint64_t>> samples_;
    Clock::duration span_{};
    std::uint64_t bytes_ = 0;
};

// Seconds until `bytes` more have arrived at `bytesPerSecond`; none while nothing arrives.
std::optional<double> secondsToArrive(std::uint64_t bytes, double bytesPerSecond);

} // namespace vantorel::download

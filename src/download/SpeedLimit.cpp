#include "download/SpeedLimit.h"

#include <algorithm>

namespace vantorel::download {

void SpeedLimit::setRate(std::uint64_t bytesPerSecond) {
    std::lock_guard lock(mutex_);
    rate_.store(bytesPerSecond, std::memory_order_relaxed);
    changes_.fetch_add(1, std::memory_order_relaxed);
    // Time booked at the old rate is not owed at the new one.
    next_ = std::min(next_, Clock::now());
}

std::uint64_t SpeedLimit::take(std::uint64_t bytes,
                               const std::function<bool(std::chrono::nanoseconds)>& wait) {
    const std::uint64_t rate = this->rate();
    if (rate == 0 || bytes == 0)
        return bytes;
    const std::uint64_t piece = std::min(bytes, kPieceBytes);
    const std::uint64_t changes = changes_.load(std::memory_order_relaxed);
    Clock::time_point until;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        // Time not used for a while is credited only up to the burst.
        next_ = std::max(next_, now - std::chrono::duration_cast<Clock::duration>(kBurst));
        next_ += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(piece) / static_cast<double>(rate)));
        until = next_;
    }
    // In slices, so a piece booked at an old rate is let through once the rate changes.
    for (;;) {
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero() || changes_.load(std::memory_order_relaxed) != changes)
            return piece;
        if (!wait(std::min<Clock::duration>(left, kSlice)))
            return 0;
    }
}

} // namespace vantorel::download

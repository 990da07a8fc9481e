#include "download/SpeedLimit.h"

namespace vantorel::download {

bool SpeedLimit::take(std::uint64_t bytes,
                      const std::function<bool(std::chrono::nanoseconds)>& wait) {
    if (rate_ == 0 || bytes == 0)
        return true;
    Clock::time_point until;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        // Time not used for a while is credited only up to the burst.
        next_ = std::max(next_, now - std::chrono::duration_cast<Clock::duration>(kBurst));
        next_ += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(rate_)));
        until = next_;
    }
    const auto left = until - Clock::now();
    return left <= Clock::duration::zero() || wait(left);
}

} // namespace vantorel::download

#include "download/RequestSizer.h"

#include <algorithm>

namespace vantorel::download {

void RequestSizer::answered(Clock::time_point sent, Clock::time_point firstByte,
                            Clock::time_point ended, std::uint64_t bytes) {
    using Seconds = std::chrono::duration<double>;
    const double wait = std::max(0.0, Seconds(firstByte - sent).count());
    wait_ = std::min(wait_.value_or(wait), wait);
    // Each request counts twice as much as the one before: the speed follows the connection,
    // yet one short request does not decide it alone.
    flowBytes_ = flowBytes_ / 2 + static_cast<double>(bytes);
    flowSeconds_ = flowSeconds_ / 2 + std::max(0.0, Seconds(ended - firstByte).count());
    const double flowTime =
        std::clamp(*wait_ * (1 - sizing_.overheadShare) / sizing_.overheadShare,
                   Seconds(sizing_.shortest).count(), Seconds(sizing_.longest).count());
    const double grown = sizing_.growth * static_cast<double>(bytes);
    // All of it at once (no time between the first byte and the last): faster than measured.
    const double wanted =
        flowSeconds_ > 0 ? std::min(grown, flowBytes_ / flowSeconds_ * flowTime) : grown;
    next_ = std::clamp(static_cast<std::uint64_t>(wanted), sizing_.first, sizing_.most);
}

} // namespace vantorel::download

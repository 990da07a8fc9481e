#include "download/RequestSizer.h"

#include <algorithm>

namespace vantorel::download {

bool RequestSizer::openEnded() const {
    const double share = sizing_.overheadShare;
    return wait_ && *wait_ > Seconds(sizing_.flow).count() * share / (1 - share);
}

void RequestSizer::waited(Seconds wait) {
    const double seconds = std::max(0.0, wait.count());
    wait_ = std::min(wait_.value_or(seconds), seconds);
}

void RequestSizer::answered(Seconds wait, Seconds flow, std::uint64_t bytes) {
    waited(wait);
    // Each request counts twice as much as the one before: the speed follows the connection,
    // yet one short request does not decide it alone.
    flowBytes_ = flowBytes_ / 2 + static_cast<double>(bytes);
    flowSeconds_ = flowSeconds_ / 2 + std::max(0.0, flow.count());
    const double grown = sizing_.growth * static_cast<double>(bytes);
    // All of it at once (no time between the first byte and the last): faster than measured.
    const double wanted =
        flowSeconds_ > 0
            ? std::min(grown, flowBytes_ / flowSeconds_ * Seconds(sizing_.flow).count())
            : grown;
    next_ = std::clamp(static_cast<std::uint64_t>(wanted), sizing_.first, sizing_.most);
}

} // namespace vantorel::download

#include "download/Rate.h"

namespace vantorel::download {
namespace {

using Seconds = std::chrono::duration<double>;

} // namespace

void Rate::add(std::uint64_t arrived) {
    const auto now = Clock::now();
    samples_.emplace_back(now, arrived);
    while (samples_.size() > 1 && now - samples_[1].first >= window_)
        samples_.pop_front();
    const auto& [then, before] = samples_.front();
    span_ = now - then;
    bytes_ = arrived - before;
}

double Rate::bytesPerSecond() const {
    const double seconds = Seconds(span_).count();
    return seconds > 0 ? static_cast<double>(bytes_) / seconds : 0.0;
}

bool Rate::under(double floor) const {
    return span_ >= window_ && static_cast<double>(bytes_) < floor * Seconds(span_).count();
}

std::optional<double> secondsToArrive(std::uint64_t bytes, double bytesPerSecond) {
    if (bytesPerSecond > 0)
        return static_cast<double>(bytes) / bytesPerSecond;
    return std::nullopt;
}

} // namespace vantorel::download

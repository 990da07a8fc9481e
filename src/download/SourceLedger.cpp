#include "download/SourceLedger.h"

#include <algorithm>
#include <iterator>

namespace vantorel::download {

void SourceLedger::record(std::size_t source, ByteInterval written) {
    if (written.empty())
        return;
    std::lock_guard guard(mutex_);
    forgetLocked(written);
    auto [at, inserted] = spans_.emplace(written.begin, Span{written.end, source});
    // A worker's bytes arrive piece after piece: one entry per run of them keeps the map small.
    if (at != spans_.begin()) {
        const auto before = std::prev(at);
        if (before->second.end == written.begin && before->second.source == source) {
            before->second.end = written.end;
            spans_.erase(at);
            at = before;
        }
    }
    if (const auto after = std::next(at);
        after != spans_.end() && after->first == at->second.end && after->second.source == source) {
        at->second.end = after->second.end;
        spans_.erase(after);
    }
}

std::vector<std::size_t> SourceLedger::sourcesOf(ByteInterval interval) const {
    std::vector<std::size_t> found;
    std::lock_guard guard(mutex_);
    auto at = spans_.upper_bound(interval.begin);
    if (at != spans_.begin())
        --at;
    for (; at != spans_.end() && at->first < interval.end; ++at)
        if (at->second.end > interval.begin)
            found.push_back(at->second.source);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

std::vector<ByteInterval> SourceLedger::sentBy(std::size_t source) const {
    std::vector<ByteInterval> sent;
    std::lock_guard guard(mutex_);
    for (const auto& [begin, span] : spans_) {
        if (span.source != source)
            continue;
        if (!sent.empty() && sent.back().end == begin)
            sent.back().end = span.end;
        else
            sent.push_back({begin, span.end});
    }
    return sent;
}

void SourceLedger::forget(ByteInterval interval) {
    std::lock_guard guard(mutex_);
    forgetLocked(interval);
}

void SourceLedger::clear() {
    std::lock_guard guard(mutex_);
    spans_.clear();
}

void SourceLedger::forgetLocked(ByteInterval interval) {
    if (interval.empty())
        return;
    auto at = spans_.upper_bound(interval.begin);
    if (at != spans_.begin() && std::prev(at)->second.end > interval.begin)
        --at;
    while (at != spans_.end() && at->first < interval.end) {
        const std::uint64_t begin = at->first;
        const Span span = at->second;
        at = spans_.erase(at);
        if (begin < interval.begin)
            spans_.emplace(begin, Span{interval.begin, span.source});
        if (span.end > interval.end)
            at = spans_.emplace(interval.end, Span{span.end, span.source}).first;
    }
}

} // namespace vantorel::download

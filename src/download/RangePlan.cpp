#include "download/RangePlan.h"

#include <algorithm>

namespace vantorel::download {

std::vector<ByteRange> planRanges(std::uint64_t length, unsigned maxRanges,
                                  std::uint64_t minRange) {
    std::vector<ByteRange> ranges;
    if (length == 0)
        return ranges;
    std::uint64_t count = std::max<std::uint64_t>(1, maxRanges);
    if (minRange > 0)
        count = std::min(count, std::max<std::uint64_t>(1, length / minRange));
    const std::uint64_t base = length / count;
    const std::uint64_t remainder = length % count;
    ranges.reserve(static_cast<std::size_t>(count));
    std::uint64_t first = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t size = base + (i < remainder ? 1 : 0);
        ranges.push_back({first, first + size - 1});
        first += size;
    }
    return ranges;
}

} // namespace vantorel::download

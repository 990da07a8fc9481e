#pragma once
// Splitting a file of known length into the byte ranges that the download workers fetch.

#include <cstdint>
#include <vector>

namespace vantorel::download {

// Inclusive byte range [first, last], as in "Range:bytes=first-last".
struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;

    std::uint64_t size() const { return last - first + 1; }
    bool operator==(const ByteRange&) const = default;
};

// Splits [0, length-1] into consecutive inclusive ranges, the last one ending at length-1.
// At most `maxRanges` ranges, and never so many that a range would be smaller than `minRange`
// bytes (a connection costs a round trip; a tiny range is not worth one). The remainder of an
// uneven split goes one byte each to the first ranges, so sizes differ by at most one byte.
// length 0 gives no ranges; otherwise there is at least one.
std::vector<ByteRange> planRanges(std::uint64_t length, unsigned maxRanges, std::uint64_t minRange);

} // namespace vantorel::download

#include "download/ProofBlocks.h"

#include <algorithm>
#include <optional>

namespace vantorel::download {

std::vector<ByteInterval> proofBlocks(std::uint64_t length, std::span<const ByteInterval> held,
                                      std::uint64_t blockBytes) {
    std::vector<ByteInterval> blocks;
    if (length == 0 || blockBytes == 0)
        return blocks;
    const std::uint64_t block = std::min(length, blockBytes);
    const std::uint64_t count = length <= block ? 1 : std::clamp<std::uint64_t>(length >> 20, 3, 8);
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint64_t want = count == 1 ? 0 : (length - block) / (count - 1) * k;
        // The block nearest to `want` inside a held interval.
        std::optional<ByteInterval> best;
        std::uint64_t bestDistance = 0;
        for (const ByteInterval& interval : held) {
            const ByteInterval in{interval.begin, std::min(interval.end, length)};
            if (in.empty() || in.size() < block)
                continue;
            const std::uint64_t at = std::clamp(want, in.begin, in.end - block);
            const std::uint64_t distance = at > want ? at - want : want - at;
            if (!best || distance < bestDistance) {
                best = ByteInterval{at, at + block};
                bestDistance = distance;
            }
        }
        if (best && (blocks.empty() || best->begin >= blocks.back().end))
            blocks.push_back(*best);
    }
    return blocks;
}

} // namespace vantorel::download

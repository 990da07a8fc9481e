#pragma once
// The closing proof: before a file fetched in ranges takes its name, blocks sampled all over it
// are fetched once more from the source that defined the file and compared with the part.
//
// A server without validators can replace its file between two requests, and a mirror can
// change after it proved itself: every reply then looked right, only the bytes tell. A block that
// differs is judged by who sent it (DownloadRun::blames): another source's bytes are fetched
// again and that source is dropped; the defining source's own bytes mean that its file changed.
//
// The blocks are planned when a worker first finds nothing left to take, from the bytes complete
// then (ProofBlocks.h, over the whole part and over each other source's bytes), and workers with
// nothing to fetch check them over their open connections, while the last ranges run and once
// every byte is in. finish() checks what they left (a worker of another source, one that
// stopped), all blocks at once, on connections of its own. Bytes taken back make the
// plan start anew. The blocks cost under 1 % of the file (a few KiB each), so the proof is cheap
// on a file that does not change.
//
// Thread safety: one mutex guards the plan; every member takes it.

#include "common/Result.h"
#include "download/SegmentScheduler.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantorel::download {

class DownloadRun;

class ClosingProof {
  public:
    struct Block {
        ByteInterval range;
        std::uint64_t plan = 0; // the plan it belongs to
    };

    // A block nobody checks yet, of the plan made now when there is none.
    std::optional<Block> take(DownloadRun& job);
    // `theirs`: the block as source `asker` serves it now, or why it could not be asked (the
    // block is then checked later). A block that differs from the part is judged at once.
    void report(DownloadRun& job, std::size_t asker, const Block& block,
                const Result<std::string>& theirs);
    // Checks every block not yet checked, in parallel, and judges those that differ. Fails when
    // the source cannot be asked (the part is then of use to a later run).
    Status finish(DownloadRun& job);
    // The part's bytes changed: the plan, and what it proved, no longer hold.
    void reset();

  private:
    void planLocked(DownloadRun& job);

    std::mutex mutex_;
    bool planned_ = false;
    std::uint64_t plan_ = 0;
    std::vector<ByteInterval> open_;  // not yet handed out
    std::vector<ByteInterval> taken_; // handed out, not yet reported
};

} // namespace vantorel::download

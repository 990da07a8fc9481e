#include "download/ClosingProof.h"

#include "download/DownloadRun.h"
#include "download/ProofBlocks.h"
#include "download/SourceProof.h"

#include <algorithm>
#include <thread>

namespace vantorel::download {
namespace {

// A block is a small share of the file, a few KiB at least: enough bytes that another version
// cannot match them by chance.
constexpr std::uint64_t kLeastBlockBytes = 1024;
constexpr std::uint64_t kBlockShare = 800; // 8 blocks of total/800 are 1 % of the file
// Tries per block before the proof gives up on the source.
constexpr unsigned kBlockTries = 3;

std::uint64_t blockBytesFor(std::uint64_t total) {
    return std::clamp(total / kBlockShare, kLeastBlockBytes, kProofBlockBytes);
}

// Adds `more` to the sorted, disjoint `blocks`, leaving out any that overlaps one already there.
void addBlocks(std::vector<ByteInterval>& blocks, const std::vector<ByteInterval>& more) {
    for (const ByteInterval& block : more) {
        const bool overlaps = std::any_of(blocks.begin(), blocks.end(), [&](const ByteInterval& b) {
            return b.begin < block.end && block.begin < b.end;
        });
        if (!overlaps)
            blocks.insert(std::upper_bound(blocks.begin(), blocks.end(), block,
                                           [](const ByteInterval& a, const ByteInterval& b) {
                                               return a.begin < b.begin;
                                           }),
                          block);
    }
}

// The source the proof asks: the one that defined the file, or another proven one once it is
// gone.
std::optional<SourceUse> reference(const DownloadRun& job) {
    if (job.sources.state(job.primary) == SourceState::Proven) {
        const SourceSpec spec = job.sources.spec(job.primary);
        return SourceUse{job.primary, spec.url, {}};
    }
    auto other = job.sources.otherThan(job.primary);
    if (other)
        other->validators = {};
    return other;
}

} // namespace

void ClosingProof::planLocked(DownloadRun& job) {
    planned_ = true;
    open_.clear();
    taken_.clear();
    const std::uint64_t bytes = blockBytesFor(job.total);
    const std::vector<ByteInterval> complete = job.scheduler->complete();
    // A source with a strong ETag vouches for its bytes: each of its requests carried If-Range
    // with it and each reply had to prove it, so a file changed there came back whole and was
    // taken for a change. Only bytes without that guarantee are asked again.
    const auto vouched = [&job](std::size_t id) { return job.sources.validators(id).strongEtag(); };
    bool allVouched = vouched(job.primary);
    for (std::size_t id = 0; id < job.sources.size(); ++id)
        if (id != job.primary && !job.ledger.sentBy(id).empty())
            allVouched = allVouched && vouched(id);
    if (!allVouched)
        addBlocks(open_, proofBlocks(job.total, complete, bytes));
    // Each other source's bytes get blocks of their own: a mirror that changed is found in them.
    for (std::size_t id = 0; id < job.sources.size(); ++id)
        if (id != job.primary && !vouched(id))
            addBlocks(open_, proofBlocks(job.total, job.ledger.sentBy(id), bytes));
}

std::optional<ClosingProof::Block> ClosingProof::take(DownloadRun& job) {
    std::lock_guard guard(mutex_);
    // Planned once most of the file is in, so that its blocks cover most of it.
    if (!planned_ && job.scheduler->completeBytes() < job.total / 4 * 3)
        return std::nullopt;
    if (!planned_)
        planLocked(job);
    if (open_.empty())
        return std::nullopt;
    const ByteInterval range = open_.back();
    open_.pop_back();
    taken_.push_back(range);
    return Block{range, plan_};
}

void ClosingProof::report(DownloadRun& job, std::size_t asker, const Block& block,
                          const Result<std::string>& theirs) {
    {
        std::lock_guard guard(mutex_);
        if (block.plan != plan_)
            return;
        if (std::erase(taken_, block.range) > 0 && !theirs)
            open_.push_back(block.range);
    }
    if (!theirs) {
        // The source now serves a file of another length: it changed.
        if (theirs.error().kind == FailureKind::NotSameFile)
            job.sourceChanged(asker);
        return;
    }
    const auto ours = job.file.read(block.range.begin, block.range.size());
    if (!ours || *ours == *theirs)
        return;
    if (job.blames(asker, block.range))
        job.sourceChanged(asker);
}

Status ClosingProof::finish(DownloadRun& job) {
    // Bytes a dropped source sent while it was being dropped are fetched again first.
    if (job.sweepDistrusted() || !job.scheduler->finished())
        return {};
    std::vector<Block> left;
    {
        std::lock_guard guard(mutex_);
        if (!planned_)
            planLocked(job);
        // Blocks still out with a worker were cut short with it.
        open_.insert(open_.end(), taken_.begin(), taken_.end());
        taken_.clear();
        for (const ByteInterval& range : open_)
            left.push_back({range, plan_});
        taken_ = std::move(open_);
        open_.clear();
    }
    std::vector<Error> failures(left.size());
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < left.size(); ++i)
            threads.emplace_back([&job, &left, &failures, i, this] {
                net::DownloadConnection transfer(job.connectionRules());
                for (unsigned tries = 0; tries < kBlockTries && !job.stopping(); ++tries) {
                    const std::optional<SourceUse> source = reference(job);
                    if (!source) {
                        failures[i] = job.noSourceLeft();
                        return;
                    }
                    const Result<std::string> theirs =
                        fetchBlock(job, transfer, source->url, {}, left[i].range);
                    report(job, source->id, left[i], theirs);
                    if (theirs || theirs.error().kind == FailureKind::NotSameFile) {
                        failures[i] = {};
                        return;
                    }
                    failures[i] = theirs.error();
                    // A share link's address that expired meanwhile is resolved again.
                    const FailureKind kind = theirs.error().kind;
                    if (kind == FailureKind::Expired || kind == FailureKind::Gone)
                        job.refreshSource(source->id);
                    transfer.freshConnection();
                    job.pause(job.request.retryDelay * (1L << tries));
                }
            });
    }
    if (job.stopping() || !job.scheduler->finished())
        return {};
    for (const Error& failure : failures)
        if (!failure.message.empty()) {
            Error why = failure;
            why.message = "无法核对已下载的文件：" + why.message;
            return why;
        }
    return {};
}

void ClosingProof::reset() {
    std::lock_guard guard(mutex_);
    planned_ = false;
    ++plan_;
    open_.clear();
    taken_.clear();
}

} // namespace vantorel::download

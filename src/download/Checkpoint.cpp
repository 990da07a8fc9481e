#include "download/Checkpoint.h"

#include "download/ProofBlocks.h"
#include "download/ResumeState.h"

#include <algorithm>
#include <utility>

namespace vantorel::download {
namespace {

// A multiple of every page size in use.
constexpr std::uint64_t kWritebackBlock = 64 << 10;

// The parts of `complete` (sorted, disjoint) that `listed` (sorted, disjoint, each inside one of
// `complete`, as bytes once complete stay complete) does not cover.
std::vector<ByteInterval> notListed(const std::vector<ByteInterval>& complete,
                                    const std::vector<ByteInterval>& listed) {
    std::vector<ByteInterval> fresh;
    auto old = listed.begin();
    for (ByteInterval interval : complete) {
        while (old != listed.end() && old->end <= interval.begin)
            ++old;
        for (auto o = old; o != listed.end() && o->begin < interval.end; ++o) {
            if (o->begin > interval.begin)
                fresh.push_back({interval.begin, o->begin});
            interval.begin = std::max(interval.begin, o->end);
        }
        if (!interval.empty())
            fresh.push_back(interval);
    }
    return fresh;
}

} // namespace

void Checkpoint::enable(bool on) {
    enabled_ = on;
    saved_ = false;
    takenBack_ = 0;
    every_ = std::min<Clock::duration>(kFirstCheckpointEvery, job_.request.checkpointEvery);
    flushed_.clear();
    handed_.clear();
}

std::uint64_t Checkpoint::listedBytes() const {
    std::uint64_t bytes = 0;
    for (const ByteInterval& interval : flushed_)
        bytes += interval.size();
    return bytes;
}

bool Checkpoint::provable() const {
    if (listedBytes() == 0)
        return false;
    const Validators& validators = job_.validators;
    return validators.strongEtag() || !validators.lastModified.empty() ||
           !proofBlocks(job_.total, flushed_).empty();
}

void Checkpoint::maybe() {
    if (!job_.scheduler)
        return;
    // Only whole blocks go to the disk early: a page still filling would be written again at
    // every tick of a slow download. The flush before the rename takes the rest.
    std::vector<ByteInterval> whole;
    for (ByteInterval interval : job_.scheduler->complete()) {
        if (interval.end != job_.total)
            interval.end -= interval.end % kWritebackBlock;
        if (!interval.empty())
            whole.push_back(interval);
    }
    for (const ByteInterval& fresh : notListed(whole, handed_))
        job_.file.startWriteback(fresh.begin, fresh.size());
    handed_ = std::move(whole);
    if (!enabled_)
        return;
    if (saved_ ? Clock::now() - last_ >= every_ : job_.scheduler->completeBytes() > 0) {
        every_ = std::min<Clock::duration>(2 * every_, job_.request.checkpointEvery);
        now();
    }
}

bool Checkpoint::now() {
    if (!enabled_ || !job_.scheduler)
        return false;
    last_ = Clock::now();
    ResumeState state;
    state.url = key_;
    state.finalUrl = job_.url;
    state.length = job_.total;
    state.validators = job_.validators;
    state.sources = job_.sources.records();
    // Bytes taken back since the last state may be complete again with other bytes: every byte
    // listed is flushed anew.
    if (const std::uint64_t taken = job_.scheduler->takenBack(); taken != takenBack_) {
        takenBack_ = taken;
        flushed_.clear();
    }
    state.complete = job_.scheduler->complete();
    state.replaces = job_.request.replaces;
    // A state that cannot be written only costs the resume; the download goes on.
    for (const ByteInterval& fresh : notListed(state.complete, flushed_))
        if (!job_.file.sync(fresh.begin, fresh.size()))
            return false;
    if (!saveResumeState(job_.file.statePath(), state))
        return false;
    saved_ = true;
    flushed_ = std::move(state.complete);
    return true;
}

} // namespace vantorel::download

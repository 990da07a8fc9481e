#include "download/RangeWorker.h"

#include "common/Text.h"
#include "download/ReplyChecks.h"
#include "download/SourceProof.h"
#include "net/Transport.h"

#include <algorithm>
#include <chrono>

namespace vantorel::download {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kMaxRetryDelay{5000};
// How long a worker with nothing to take waits before it asks the scheduler again, unless a
// range ends before (a slow connection's range may be taken over only as time passes).
constexpr milliseconds kWaitForWork{20};
// Requests of one source that fail in a row before it is dropped, when another source can stand
// in for it: a server that went down costs a moment, not every worker's round of retries.
constexpr unsigned kSourceFailures = 3;
// How often a worker asks whether its connection should give way to a new one.
constexpr milliseconds kCheckEvery{100};
// Bytes held on each side of a request that it asks for again to compare: 1/128 of the request,
// from 64 bytes to 4 KiB, so they cost under 2 % of the bytes and catch any changed file.
constexpr std::uint64_t kLeastOverlap = 64;
constexpr std::uint64_t kMostOverlap = 4096;
constexpr std::uint64_t kOverlapShare = 128;

bool holds(const std::vector<ByteInterval>& complete, ByteInterval bytes) {
    return std::any_of(complete.begin(), complete.end(), [&](const ByteInterval& held) {
        return held.begin <= bytes.begin && bytes.end <= held.end;
    });
}

std::string droppedBecause(Verdict verdict, const Error& why) {
    if (why.kind == FailureKind::Gone)
        return "上已没有这个文件";
    if (why.kind == FailureKind::Expired)
        return "的地址已失效";
    switch (verdict) {
    case Verdict::Changed:
        return "上的文件已被更换";
    case Verdict::FallBack:
        return "不能按要求分段下载";
    case Verdict::Retry:
        return "连接失败（" + why.message + "）";
    default:
        return "出错（" + why.message + "）";
    }
}

} // namespace

void RangeWorker::run() {
    SegmentScheduler& scheduler = *job_.scheduler;
    unsigned failures = 0;
    while (!job_.stopping()) {
        const SegmentScheduler::Work work = scheduler.next(index_, Clock::now());
        // With nothing to fetch, the closing proof's blocks go over the open connection.
        if (work.kind == SegmentScheduler::Work::Kind::Finished) {
            if (!proveBlock())
                return;
            continue;
        }
        if (work.kind == SegmentScheduler::Work::Kind::Wait) {
            if (!proveBlock())
                scheduler.waitForChange(work, kWaitForWork);
            continue;
        }
        Error why;
        const Verdict verdict = attempt(work.range, why);
        if (verdict == Verdict::NoSource) {
            // Every source is gone, unless one is being refreshed or where they came from gives
            // new ones.
            if (!job_.sources.refreshing() && !job_.renewSources()) {
                job_.fail(job_.noSourceLeft());
                return;
            }
            if (!job_.pause(kWaitForWork))
                return;
            continue;
        }
        if (verdict != Verdict::Done && verdict != Verdict::Stopped && leftSource(verdict, why))
            continue;
        switch (verdict) {
        case Verdict::Done:
            // A request answered in full is progress.
            failures = 0;
            brought_ = 0;
            continue;
        case Verdict::Stopped:
            return;
        case Verdict::FallBack:
            job_.fallBack();
            return;
        case Verdict::Changed:
            job_.versionChanged();
            return;
        case Verdict::Fatal:
            job_.fail(std::move(why));
            return;
        case Verdict::Retry:
        case Verdict::NoSource:
            break;
        }
        job_.attemptFailed(why);
        if (brought_ >= job_.request.progressResetBytes)
            failures = 0;
        brought_ = 0;
        if (++failures > job_.request.maxRetries) {
            // Perhaps the server allows fewer connections than we opened: a worker that is
            // still going takes the rest of this range over.
            scheduler.giveUp(index_);
            return;
        }
        const milliseconds delay = std::min<milliseconds>(
            kMaxRetryDelay, job_.request.retryDelay * (1L << std::min(failures - 1, 10u)));
        job_.retryAt(index_, Clock::now() + delay);
        const bool going = job_.pause(delay);
        job_.retryAt(index_, {});
        if (!going)
            return;
        transfer_.freshConnection();
        scheduler.reconnected(index_, Clock::now());
    }
}

bool RangeWorker::leftSource(Verdict verdict, const Error& why) {
    const std::size_t id = source_.id;
    const bool expired = verdict == Verdict::Fatal &&
                         (why.kind == FailureKind::Gone || why.kind == FailureKind::Expired);
    if (expired && job_.refreshSource(id))
        return true;
    if (job_.sources.state(id) != SourceState::Proven)
        return true; // another worker refreshed or dropped it meanwhile
    const bool others = job_.sources.provenCount() > 1 || job_.sources.refreshing();
    if (!others || (verdict == Verdict::Retry && job_.sources.failed(id) < kSourceFailures))
        return false;
    // A source whose replies could not show their version may have sent the other one before
    // it was caught: none of its bytes are kept.
    if (verdict == Verdict::Changed && (differed_ || !source_.validators.any()))
        job_.distrust(id, droppedBecause(verdict, why));
    else
        job_.dropSource(id, droppedBecause(verdict, why));
    return true;
}

bool RangeWorker::proveBlock() {
    const auto source = job_.sources.pick(index_);
    if (proofFailed_ || !source || source->id != job_.primary)
        return false;
    const auto block = job_.closing.take(job_);
    if (!block)
        return false;
    if (source->id != source_.id)
        sizer_.reset();
    source_ = *source;
    // Without If-Range: a server that has another version now sends its bytes, which differ.
    const Result<std::string> theirs =
        fetchBlock(job_, transfer_, source->url, Validators{}, block->range);
    job_.closing.report(job_, source->id, *block, theirs);
    // A block that could not be asked is left to ClosingProof::finish(), which gives up in time.
    if (!theirs) {
        transfer_.freshConnection();
        proofFailed_ = true;
    }
    return true;
}

bool RangeWorker::sameAsHeld(std::uint64_t at, std::span<const char> data) {
    const auto held = job_.file.read(at, data.size());
    if (!held || std::string_view(*held) == std::string_view(data.data(), data.size()))
        return true;
    if (!job_.blames(source_.id, {at, at + data.size()}))
        return true; // the bytes held were another source's, and are fetched again
    differed_ = true;
    verdict_ = Verdict::Changed;
    return false;
}

Verdict RangeWorker::attempt(ByteInterval range, Error& why) {
    // Near the end requests shrink, so the last ones end together rather than one long
    // request holding up the finish.
    const unsigned workers = std::clamp(job_.request.workers, 1u, kMaxWorkers);
    const std::uint64_t endgame = std::max(
        RequestSizing{}.first, (job_.total - job_.scheduler->completeBytes()) / (2 * workers));
    auto source = job_.sources.pick(index_ + moves_);
    if (!source)
        return Verdict::NoSource;
    // Another server: what a request costs there is still to be learnt.
    if (source->id != source_.id)
        sizer_.reset();
    source_ = std::move(*source);
    const bool openEnded = sizer_.openEnded();
    range_ = openEnded ? range
                       : job_.scheduler->reserve(index_,
                                                 std::min({range.size(), sizer_.next(), endgame}));
    if (range_.empty())
        return Verdict::Done; // the range was handed on meanwhile
    // An open-ended request's end may move, so only its front is compared.
    const std::uint64_t overlap =
        std::clamp(range_.size() / kOverlapShare, kLeastOverlap, kMostOverlap);
    const std::vector<ByteInterval> complete = job_.scheduler->complete();
    asked_ = range_;
    if (const ByteInterval front{range_.begin - std::min(range_.begin, overlap), range_.begin};
        !front.empty() && holds(complete, front))
        asked_.begin = front.begin;
    if (const ByteInterval tail{range_.end, std::min(job_.total, range_.end + overlap)};
        !openEnded && !tail.empty() && holds(complete, tail))
        asked_.end = tail.end;
    checked_ = false;
    cut_ = false;
    replace_ = false;
    verdict_.reset();
    differed_ = false;
    received_ = 0;
    seen_ = 0;
    const auto outcome = transfer_.get(
        source_.url, requestHeaders({asked_.begin, asked_.end - 1}, source_.validators),
        [this](std::span<const char> data) { return onBody(data); }, false);
    const bool completed = outcome == net::DownloadConnection::Outcome::Completed;
    if (job_.stopping())
        return Verdict::Stopped;
    // A reply judged Fatal before its body is a web page in the file's place.
    if (verdict_ == Verdict::Fatal)
        why = makeError("服务器返回了一个网页，不是所要的文件", FailureKind::Expired);
    if (verdict_)
        return *verdict_;
    if (received_ > 0)
        job_.sources.brought(source_.id);
    if (received_ == range_.size() || cut_) {
        if (checked_)
            sizer_.answered(transfer_.replyWait(), Clock::now() - firstByte_, received_);
        // A request of a size is taken over only when its connection is far too slow.
        if (cut_ && !openEnded)
            moveOn();
        return Verdict::Done;
    }
    if (replace_) {
        // The rest of the range goes on over a new connection.
        transfer_.freshConnection();
        moveOn();
        return Verdict::Done;
    }
    const net::ReplyHead& head = transfer_.head();
    if (head.complete && head.status >= 400 && head.status != 416) {
        why = httpError(head.status);
        return why.kind == FailureKind::ServerBusy ? Verdict::Retry : Verdict::Fatal;
    }
    if (head.complete && head.status != 0 && head.status != 206 && !head.length.bad())
        return judgeWholeReply(head);
    if (!head.complete && completed)
        why = makeError(std::string(net::kUnendedHeadText));
    else
        why = completed ? makeError("连接中断（数据不完整）") : transfer_.failure();
    return Verdict::Retry;
}

Verdict RangeWorker::judgeWholeReply(const net::ReplyHead& head) const {
    // A page where a part of the file was asked for: what a signed address that expired
    // leads to.
    if (startsWithIgnoreCase(head.contentType, "text/html"))
        return Verdict::Fatal;
    const auto length = head.length.value();
    if (source_.validators.contradictedBy(validatorsOf(head)) ||
        (head.status == 200 && !head.coded() && length && *length != job_.total))
        return Verdict::Changed;
    return Verdict::FallBack;
}

std::optional<Verdict> RangeWorker::judgeReply() const {
    const net::ReplyHead& head = transfer_.head();
    if (head.status != 206)
        return judgeWholeReply(head);
    if (!provesSameVersion(source_.validators, head) || transfer_.redirectedAwayFrom(source_.url))
        return Verdict::Changed;
    const auto range = net::parseContentRange(head.contentRange);
    if (range && range->total && *range->total != job_.total)
        return Verdict::Changed;
    const auto length = head.length.value();
    if (head.coded() || !range || range->first != asked_.begin || range->last != asked_.end - 1 ||
        (length && *length != asked_.size()))
        return Verdict::FallBack;
    return std::nullopt;
}

std::size_t RangeWorker::onBody(std::span<const char> data) {
    const std::size_t bytes = data.size();
    if (!checked_) {
        const long status = transfer_.head().status;
        if (status != 200 && status != 206)
            return 0; // an error reply: attempt() judges it by its status
        if (auto verdict = judgeReply()) {
            verdict_ = verdict;
            return 0;
        }
        checked_ = true;
        firstByte_ = Clock::now();
    }
    if (bytes > asked_.size() - seen_) {
        verdict_ = Verdict::FallBack; // more than was asked for
        return 0;
    }
    std::span<const char> rest = data;
    // The bytes held before the range, then the range, then the bytes held after it.
    const std::uint64_t front = range_.begin - asked_.begin;
    if (seen_ < front) {
        const std::size_t compared =
            static_cast<std::size_t>(std::min<std::uint64_t>(rest.size(), front - seen_));
        if (!sameAsHeld(asked_.begin + seen_, rest.first(compared)))
            return 0;
        seen_ += compared;
        rest = rest.subspan(compared);
    }
    if (!rest.empty() && received_ < range_.size()) {
        const std::size_t part = static_cast<std::size_t>(
            std::min<std::uint64_t>(rest.size(), range_.size() - received_));
        // A reply takes what is still the worker's: fewer bytes when the range was taken over
        // meanwhile (the back of an open-ended one, or the rest of a slow connection's request),
        // and the reply ends there.
        const std::uint64_t keep = job_.scheduler->claim(index_, part).size();
        const std::uint64_t at = range_.begin + received_;
        if (keep > 0 && !writer_.write(at, rest.data(), keep, range_.end)) {
            verdict_ = Verdict::Stopped;
            return 0;
        }
        job_.ledger.record(source_.id, {at, at + keep});
        job_.scheduler->wrote(index_, keep, Clock::now());
        received_ += keep;
        brought_ += keep;
        seen_ += keep;
        cut_ = keep < part;
        if (cut_)
            return 0;
        rest = rest.subspan(part);
    }
    if (!rest.empty()) {
        if (!sameAsHeld(asked_.begin + seen_, rest))
            return 0;
        seen_ += rest.size();
    }
    return givesWay() ? 0 : bytes;
}

net::ConnectionRules RangeWorker::watchedRules() {
    net::ConnectionRules rules = job_.connectionRules();
    rules.stopping = [this, stopping = std::move(rules.stopping)] {
        return stopping() || givesWay();
    };
    return rules;
}

bool RangeWorker::givesWay() {
    if (cut_ || replace_)
        return true;
    const auto now = Clock::now();
    if (received_ >= range_.size() || now - checkedAt_ < kCheckEvery)
        return false;
    checkedAt_ = now;
    const SegmentScheduler::Progress progress = job_.scheduler->check(index_, now);
    cut_ = progress.ended;
    // A connection is judged by bytes that flow: a reply still to come may be a far server's.
    replace_ = received_ > 0 && progress.replaceConnection;
    return cut_ || replace_;
}

void RangeWorker::moveOn() {
    ++moves_;
    if (job_.sources.provenCount() > 1)
        job_.scheduler->newServer(index_, Clock::now());
    else
        job_.scheduler->reconnected(index_, Clock::now());
}

} // namespace vantorel::download

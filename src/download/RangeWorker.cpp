#include "download/RangeWorker.h"

#include "download/ReplyChecks.h"
#include "net/Curl.h"
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
// How often a worker asks whether its connection should give way to a new one.
constexpr milliseconds kCheckEvery{100};

} // namespace

void RangeWorker::run() {
    SegmentScheduler& scheduler = *job_.scheduler;
    unsigned failures = 0;
    while (!job_.stopping()) {
        const SegmentScheduler::Work work = scheduler.next(index_, Clock::now());
        if (work.kind == SegmentScheduler::Work::Kind::Finished)
            return;
        if (work.kind == SegmentScheduler::Work::Kind::Wait) {
            scheduler.waitForChange(work, kWaitForWork);
            continue;
        }
        Error why;
        const Verdict verdict = attempt(work.range, why);
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
        case Verdict::Gone:
            job_.fail(std::move(why), verdict == Verdict::Gone);
            return;
        case Verdict::Retry:
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

Verdict RangeWorker::attempt(ByteInterval range, Error& why) {
    // Near the end requests shrink, so the last ones end together rather than one long
    // request holding up the finish.
    const unsigned workers = std::clamp(job_.request.workers, 1u, kMaxWorkers);
    const std::uint64_t endgame = std::max(
        RequestSizing{}.first, (job_.total - job_.scheduler->completeBytes()) / (2 * workers));
    streaming_ = sizer_.openEnded();
    range_ = streaming_
                 ? range
                 : job_.scheduler->claim(index_, std::min({range.size(), sizer_.next(), endgame}));
    if (range_.empty())
        return Verdict::Done; // the range was handed on meanwhile
    checked_ = false;
    cut_ = false;
    replace_ = false;
    verdict_.reset();
    received_ = 0;
    std::string headers = requestHeaders({range_.begin, range_.end - 1});
    if (const std::string ifRange = job_.validators.ifRange(); !ifRange.empty())
        headers += "\r\nIf-Range: " + ifRange;
    const CURLcode code = transfer_.get(job_.url, headers, &RangeWorker::onBody, this, false);
    if (job_.stopping())
        return Verdict::Stopped;
    if (verdict_)
        return *verdict_;
    if (received_ == range_.size() || cut_) {
        sizer_.answered(net::replyWait(transfer_.handle()), Clock::now() - firstByte_, received_);
        return Verdict::Done;
    }
    if (replace_) {
        // The rest of the range goes on over a new connection.
        transfer_.freshConnection();
        job_.scheduler->reconnected(index_, Clock::now());
        return Verdict::Done;
    }
    const net::ReplyHead& head = transfer_.head();
    if (head.complete && head.status >= 400 && head.status != 416) {
        why = makeError(httpMessage(head.status));
        if (goneStatus(head.status))
            return Verdict::Gone;
        return retryableStatus(head.status) ? Verdict::Retry : Verdict::Fatal;
    }
    if (head.complete && head.status != 0 && head.status != 206 && !head.length.bad())
        return judgeWholeReply(head);
    if (!head.complete && code == CURLE_OK)
        why = makeError(std::string(net::kUnendedHeadText));
    else
        why = code == CURLE_OK ? makeError("连接中断（数据不完整）") : transfer_.failure(code);
    return Verdict::Retry;
}

Verdict RangeWorker::judgeWholeReply(const net::ReplyHead& head) const {
    const auto length = head.length.value();
    if (job_.validators.contradictedBy(validatorsOf(head)) ||
        (head.status == 200 && !head.coded() && length && *length != job_.total))
        return Verdict::Changed;
    return Verdict::FallBack;
}

std::optional<Verdict> RangeWorker::judgeReply() const {
    const net::ReplyHead& head = transfer_.head();
    if (head.status != 206)
        return judgeWholeReply(head);
    if (!provesSameVersion(job_.validators, head) || transfer_.redirectedAwayFrom(job_.url))
        return Verdict::Changed;
    const auto range = net::parseContentRange(head.contentRange);
    if (range && range->total && *range->total != job_.total)
        return Verdict::Changed;
    const auto length = head.length.value();
    if (head.coded() || !range || range->first != range_.begin || range->last != range_.end - 1 ||
        (length && *length != range_.size()))
        return Verdict::FallBack;
    return std::nullopt;
}

std::size_t RangeWorker::onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& self = *static_cast<RangeWorker*>(user);
    const std::size_t bytes = size * count;
    if (!self.checked_) {
        const long status = self.transfer_.head().status;
        if (status != 200 && status != 206)
            return 0; // an error reply: attempt() judges it by its status
        if (auto verdict = self.judgeReply()) {
            self.verdict_ = verdict;
            return 0;
        }
        self.checked_ = true;
        self.firstByte_ = Clock::now();
    }
    if (bytes > self.range_.size() - self.received_) {
        self.verdict_ = Verdict::FallBack; // more than was asked for
        return 0;
    }
    // A reply to the end of the range takes what is still the worker's: fewer bytes when the
    // back of the range was taken over meanwhile, and the reply ends there.
    const std::uint64_t keep =
        self.streaming_ ? self.job_.scheduler->claim(self.index_, bytes).size() : bytes;
    if (keep > 0 &&
        !self.writer_.write(self.range_.begin + self.received_, data, keep, self.range_.end)) {
        self.verdict_ = Verdict::Stopped;
        return 0;
    }
    const auto now = Clock::now();
    self.job_.scheduler->wrote(self.index_, keep, now);
    self.received_ += keep;
    self.brought_ += keep;
    self.cut_ = keep < bytes;
    if (!self.cut_ && now - self.checkedAt_ >= kCheckEvery) {
        self.checkedAt_ = now;
        self.replace_ = self.received_ < self.range_.size() &&
                        self.job_.scheduler->check(self.index_, now).replaceConnection;
    }
    return self.cut_ || self.replace_ ? 0 : bytes;
}

} // namespace vantorel::download

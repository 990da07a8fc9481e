#include "download/DownloadRun.h"

#include <algorithm>

namespace vantorel::download {

void DownloadRun::fail(Error error) {
    {
        std::lock_guard guard(failMutex_);
        if (!failure_)
            failure_ = std::move(error);
    }
    stop_.store(true);
}

std::optional<Error> DownloadRun::failure() const {
    std::lock_guard guard(failMutex_);
    return failure_;
}

Error DownloadRun::lastFailure() const {
    std::lock_guard guard(failMutex_);
    return lastFailureReason_;
}

Error DownloadRun::retriesFailed() const {
    Error last = lastFailure();
    last.message = "多次重试仍未下载成功：" + last.message;
    return last;
}

Error DownloadRun::underFloor() const {
    if (failedSinceLastByte())
        return retriesFailed();
    return makeError(
        "下载速度过低：" +
        std::to_string(
            std::chrono::duration_cast<std::chrono::seconds>(request.giveUpAfter).count()) +
        " 秒内没有一个连接的速度达到 " + std::to_string(static_cast<long>(request.speedFloor)) +
        " 字节/秒");
}

void DownloadRun::attemptFailed(Error why) {
    if (!why.message.empty()) {
        std::lock_guard guard(failMutex_);
        lastFailureReason_ = std::move(why);
    }
    lastFailure_.store(Clock::now().time_since_epoch().count());
}

void DownloadRun::watchStall(std::uint64_t arrived, bool held) {
    const auto now = Clock::now();
    if (arrived != lastArrived_ || held) {
        lastArrived_ = arrived;
        lastByte_ = now;
    }
    const DownloadState state = progress.snapshot().state;
    if (state != DownloadState::Downloading && state != DownloadState::Stalled)
        return;
    const auto quiet = now - lastByte_;
    if ((failedSinceLastByte() && quiet >= kSampleEvery) || quiet >= kStalledAfter) {
        Clock::rep next = 0;
        for (const auto& at : retryAt_) {
            const Clock::rep until = at.load();
            if (until > now.time_since_epoch().count() && (next == 0 || until < next))
                next = until;
        }
        const auto wait = Clock::duration(next) - now.time_since_epoch();
        progress.setRetryIn(
            next == 0 ? 0
                      : static_cast<int>(std::chrono::ceil<std::chrono::seconds>(wait).count()));
        progress.setState(DownloadState::Stalled);
    } else if (state == DownloadState::Stalled) {
        progress.setRetryIn(0);
        progress.setState(DownloadState::Downloading);
    }
}

bool DownloadRun::pause(Clock::duration duration) {
    const auto until = Clock::now() + duration;
    while (!stopping()) {
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        progress.waitForCancel(std::min<Clock::duration>(left, std::chrono::milliseconds(20)));
    }
    return false;
}

} // namespace vantorel::download

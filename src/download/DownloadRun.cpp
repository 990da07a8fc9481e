#include "download/DownloadRun.h"

#include "download/SourceProof.h"

#include <algorithm>

namespace vantorel::download {
namespace {

std::vector<SourceSpec> sourcesOf(const DownloadRequest& request) {
    std::vector<SourceSpec> specs{{request.resumeKey.empty() ? request.url : request.resumeKey,
                                   request.label, request.url, request.refreshable}};
    specs.insert(specs.end(), request.mirrors.begin(), request.mirrors.end());
    return specs;
}

// The proven sources' names, for "已只用…".
std::string provenNames(const Sources& sources) {
    std::string names;
    for (std::size_t id = 0; id < sources.size(); ++id)
        if (sources.state(id) == SourceState::Proven)
            names += (names.empty() ? "" : "、") + sources.name(id);
    return names;
}

} // namespace

DownloadRun::DownloadRun(const DownloadRequest& request, DownloadProgress& progress, PartFile& file)
    : request(request), progress(progress), file(file), sources(sourcesOf(request)) {}

void DownloadRun::dropSource(std::size_t id, const std::string& why) {
    sources.drop(id);
    {
        std::lock_guard guard(failMutex_);
        lastDrop_ = makeError(sources.name(id) + " " + why);
    }
    if (!why.empty() && sources.provenCount() > 0)
        progress.addNotice(sources.name(id) + " " + why + "，已只用" + provenNames(sources));
}

void DownloadRun::fetchAgain(ByteInterval interval) {
    std::lock_guard guard(againMutex_);
    const std::uint64_t before = scheduler->takenBack();
    scheduler->fetchAgain(interval);
    progress.takeBack(scheduler->takenBack() - before);
    ledger.forget(interval);
    closing.reset();
}

bool DownloadRun::blames(std::size_t asked, ByteInterval held) {
    if (asked != primary || sources.state(primary) != SourceState::Proven)
        return true;
    std::vector<std::size_t> others = ledger.sourcesOf(held);
    std::erase(others, asked);
    for (const std::size_t other : others)
        distrust(other, "的文件与" + sources.name(primary) + " 不同");
    return others.empty();
}

void DownloadRun::sourceChanged(std::size_t id) {
    if (sources.state(id) != SourceState::Proven)
        return;
    if (sources.provenCount() > 1)
        distrust(id, "上的文件已被更换");
    else
        versionChanged();
}

void DownloadRun::distrust(std::size_t id, const std::string& why) {
    if (sources.state(id) != SourceState::Dropped)
        dropSource(id, why);
    {
        std::lock_guard guard(againMutex_);
        if (std::find(distrusted_.begin(), distrusted_.end(), id) == distrusted_.end())
            distrusted_.push_back(id);
    }
    for (const ByteInterval& sent : ledger.sentBy(id))
        fetchAgain(sent);
}

bool DownloadRun::sweepDistrusted() {
    std::vector<std::size_t> ids;
    {
        std::lock_guard guard(againMutex_);
        ids = distrusted_;
    }
    bool any = false;
    for (const std::size_t id : ids)
        for (const ByteInterval& sent : ledger.sentBy(id)) {
            fetchAgain(sent);
            any = true;
        }
    return any;
}

Result<std::string> DownloadRun::directAddress(std::size_t id) const {
    SourceSpec spec = sources.spec(id);
    if (!spec.url.empty())
        return std::move(spec.url);
    return request.resolve ? request.resolve(spec.address) : Result<std::string>(spec.address);
}

void DownloadRun::joinSource(std::size_t id) {
    const Result<std::string> url = directAddress(id);
    const Status joined = url ? proveSource(*this, id, *url) : Status(url.error());
    if (joined || settled())
        return;
    if (joined.error().kind == FailureKind::NotSameFile) {
        sources.drop(id);
        progress.addNotice(
            differentFileText(sources.name(id), sources.name(primary), provenNames(sources)));
    } else {
        dropSource(id, "无法使用（" + joined.error().message + "）");
    }
}

Error DownloadRun::noSourceLeft() const {
    std::lock_guard guard(failMutex_);
    Error error = lastDrop_;
    error.message = "所有下载地址都已无法使用：" + error.message;
    return error;
}

bool DownloadRun::refreshSource(std::size_t id) {
    if (!request.resolve || !sources.beginRefresh(id))
        return false;
    progress.setRefreshing(true);
    auto fresh = request.resolve(sources.spec(id).address);
    const Status proven = fresh ? proveSource(*this, id, *fresh) : Status(fresh.error());
    if (!proven)
        dropSource(id, "的地址已失效，刷新后仍无法使用（" + proven.error().message + "）");
    progress.setRefreshing(sources.refreshing());
    return true;
}

bool DownloadRun::renewSources() {
    if (!request.renew || renewed_.exchange(true))
        return false;
    progress.setRefreshing(true);
    auto renewed = request.renew();
    if (renewed)
        for (SourceSpec& spec : *renewed)
            joinSource(sources.add(std::move(spec)));
    progress.setRefreshing(false);
    return sources.provenCount() > 0;
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

#include "download/DownloadJob.h"

#include "common/Text.h"
#include "download/Staging.h"
#include "net/DirectSessionClient.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace vantorel::download {
namespace {

namespace fs = std::filesystem;

// A reply to HEAD that says the address serves a web page.
bool servesWebPage(const std::string& direct, const net::Timeouts& timeouts) {
    net::FetchRequest head;
    head.url = direct;
    head.method = net::HttpMethod::Head;
    head.timeouts = timeouts;
    auto reply = net::DirectSessionClient().fetch(head);
    return reply && reply->status >= 200 && reply->status < 300 &&
           startsWithIgnoreCase(reply->header("Content-Type"), "text/html");
}

} // namespace

DownloadJob::DownloadJob(std::vector<std::string> addresses, std::string target, JobOptions options)
    : addresses_(std::move(addresses)), target_(std::move(target)), options_(std::move(options)) {}

DownloadJob::~DownloadJob() {
    interrupt();
    if (worker_.joinable())
        worker_.join();
}

void DownloadJob::start() {
    std::lock_guard lock(mutex_);
    if (phase_ != JobPhase::Idle)
        return;
    phase_ = JobPhase::Resolving;
    resolvingShareLink_ = !addresses_.empty() && isShareLink(addresses_.front());
    worker_ = std::thread([this] { work(); });
}

JobView DownloadJob::run() {
    {
        std::lock_guard lock(mutex_);
        phase_ = JobPhase::Resolving;
    }
    work();
    return view();
}

void DownloadJob::cancel() {
    cancelled_.store(true);
    interrupt();
}

void DownloadJob::interrupt() {
    stop_.store(true);
    std::lock_guard lock(mutex_);
    if (downloader_)
        downloader_->cancel();
}

void DownloadJob::finish(JobPhase phase, std::string error) {
    std::lock_guard lock(mutex_);
    if (phase != JobPhase::Done && stopping())
        phase = cancelled_.load() ? JobPhase::Cancelled : JobPhase::Interrupted;
    phase_ = phase;
    error_ = std::move(error);
}

void DownloadJob::work() {
    if (addresses_.empty())
        return finish(JobPhase::AddressError, "没有可用的下载地址");
    JobPhase outcome = JobPhase::Failed;
    std::string error;
    for (const std::string& address : addresses_) {
        if (stopping())
            break;
        outcome = fetchOne(address, error);
        if (outcome == JobPhase::Done)
            break;
    }
    finish(outcome, outcome == JobPhase::Done ? std::string() : error);
}

JobPhase DownloadJob::fetchOne(const std::string& address, std::string& error) {
    {
        std::lock_guard lock(mutex_);
        phase_ = JobPhase::Resolving;
        resolvingShareLink_ = isShareLink(address);
    }
    ShareLinkOptions share = options_.share;
    share.cancelled = &stop_;
    auto direct = downloadAddressFor(address, share);
    if (!direct) {
        error = std::string(shareStepName(direct.error().code)) + "：" + address;
        return JobPhase::AddressError;
    }
    if (options_.refuseWebPages && servesWebPage(*direct, options_.share.timeouts)) {
        error = "文件地址指向一个网页：" + *direct;
        return JobPhase::AddressError;
    }

    const fs::path target(target_);
    const fs::path staging = stagingPathFor(target);
    DownloadRequest request;
    request.url = *direct;
    request.target = staging.string();
    request.workers = options_.workers;
    request.retryDelay = options_.retryDelay;
    request.stallTimeout = options_.stallTimeout;
    Downloader* downloader = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (stopping())
            return JobPhase::Cancelled;
        downloader_ = std::make_unique<Downloader>(std::move(request));
        downloader = downloader_.get();
        phase_ = JobPhase::Downloading;
    }
    // Only this thread replaces downloader_, so the pointer stays good while it runs.
    auto result = downloader->run();
    if (!result) {
        error = result.error().message;
        return JobPhase::Failed;
    }
    std::error_code ec;
    switch (saveStaged(staging, target, options_.refuseWebPages, ec)) {
    case StagedOutcome::WebPage:
        error = "下载到的是一个网页：" + *direct;
        return JobPhase::AddressError;
    case StagedOutcome::NotSaved:
        error = "无法保存 " + target_ + "：" + ec.message();
        return JobPhase::Failed;
    case StagedOutcome::Saved:
        break;
    }
    return JobPhase::Done;
}

JobView DownloadJob::view() const {
    std::lock_guard lock(mutex_);
    JobView v;
    v.phase = phase_;
    v.resolvingShareLink = resolvingShareLink_;
    v.error = error_;
    if (downloader_) {
        v.progress = downloader_->progress().snapshot();
        v.percent = std::clamp(v.progress.percent(), 0, 100);
        v.progressText = progressLabel(v.progress);
    }
    if (phase_ == JobPhase::Done) {
        v.percent = 100;
        v.progressText = "100%";
        v.file = target_;
    }
    return v;
}

} // namespace vantorel::download

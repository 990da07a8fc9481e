#include "download/DownloadJob.h"

#include "download/Checksum.h"
#include "download/DownloadTarget.h"
#include "download/ResumeState.h"
#include "download/Staging.h"

#include <algorithm>
#include <filesystem>

namespace vantorel::download {

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
    stopSource_.request_stop();
    std::lock_guard lock(mutex_);
    if (downloader_)
        downloader_->cancel();
}

void DownloadJob::interrupt() {
    stopSource_.request_stop();
    std::lock_guard lock(mutex_);
    if (downloader_ && !cancelled_.load())
        downloader_->interrupt();
}

void DownloadJob::finish(JobPhase phase, Error error) {
    {
        std::lock_guard lock(mutex_);
        if (phase != JobPhase::Done && stopping())
            phase = cancelled_.load() ? JobPhase::Cancelled : JobPhase::Interrupted;
        phase_ = phase;
        error_ = std::move(error.message);
        errorDetail_ = std::move(error.detail);
        errorKind_ = error.kind;
    }
    if (options_.onEnded)
        options_.onEnded();
}

void DownloadJob::work() {
    if (addresses_.empty())
        return finish(JobPhase::AddressError, makeError("没有可用的下载地址"));
    // What stands at the target now is what the caller let this job replace; a file put there
    // while it runs is not.
    replaceable_ = stampOf(target_);
    if (alreadySaved()) {
        {
            std::lock_guard lock(mutex_);
            saved_ = replaceable_;
        }
        return finish(JobPhase::Done);
    }
    // The address an earlier run left a part of goes first, so that part is taken up as it is
    // instead of proven against another address first.
    std::vector<std::size_t> order(addresses_.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const std::string partFrom = addressOfPartFor(target_);
    const auto holder = std::find_if(order.begin(), order.end(), [&](std::size_t i) {
        return !partFrom.empty() && withoutCredentials(addresses_[i]) == partFrom;
    });
    if (holder != order.end())
        std::rotate(order.begin(), holder, holder + 1);

    // The first address that resolves leads; the others are resolved when they are used, as
    // sources of the same file.
    Error error;
    for (std::size_t first = 0; first < order.size(); ++first) {
        if (stopping())
            return finish(JobPhase::Cancelled);
        auto direct = resolveShown(order[first]);
        if (!direct) {
            if (stopping())
                return finish(JobPhase::Cancelled);
            if (first == 0)
                error = direct.error();
            continue;
        }
        std::vector<std::size_t> others(order.begin() + static_cast<long>(first) + 1, order.end());
        const JobPhase outcome = fetch(order[first], *direct, others, error);
        return finish(outcome, outcome == JobPhase::Done ? Error{} : error);
    }
    finish(JobPhase::AddressError, error);
}

bool DownloadJob::alreadySaved() const {
    // Only a plain file is read: a pipe would block, and what a link points to is not at the
    // target.
    std::error_code ec;
    return options_.checksum &&
           std::filesystem::symlink_status(target_, ec).type() ==
               std::filesystem::file_type::regular &&
           verifyFile(target_, *options_.checksum).ok();
}

Result<std::string> DownloadJob::resolveShown(std::size_t i) {
    {
        std::lock_guard lock(mutex_);
        phase_ = JobPhase::Resolving;
        resolvingShareLink_ = isShareLink(addresses_[i]);
    }
    return resolve(addresses_[i]);
}

Result<std::string> DownloadJob::resolve(const std::string& address) {
    ShareLinkOptions share = options_.share;
    share.stop = stopSource_.get_token();
    auto direct = downloadAddressFor(address, share);
    if (!direct)
        return makeError(std::string(shareStepName(direct.failedAt)) + "：" + address,
                         FailureKind::BadAddress);
    return direct;
}

JobPhase DownloadJob::fetch(std::size_t first, const std::string& direct,
                            const std::vector<std::size_t>& others, Error& error) {
    DownloadRequest request;
    request.url = direct;
    request.resumeKey = addresses_[first];
    request.label = labelOf(first);
    request.refreshable = isShareLink(addresses_[first]);
    // Address `i` of a list parallel to the labels, as a source still to be resolved.
    const auto sourceOf = [this](const std::string& address, std::size_t i) {
        return SourceSpec{address, labelOf(i), {}, isShareLink(address)};
    };
    for (const std::size_t i : others)
        request.mirrors.push_back(sourceOf(addresses_[i], i));
    request.resolve = [this](const std::string& address) { return resolve(address); };
    if (options_.renewAddresses)
        request.renew = [this, sourceOf]() -> Result<std::vector<SourceSpec>> {
            auto renewed = options_.renewAddresses();
            if (!renewed)
                return renewed.error();
            std::vector<SourceSpec> specs;
            for (std::size_t i = 0; i < renewed->size(); ++i)
                specs.push_back(sourceOf((*renewed)[i], i));
            return specs;
        };
    request.startOverIfDifferent = options_.startOverIfDifferent;
    request.target = target_;
    request.replaces = replaceable_;
    request.workers = options_.workers;
    request.retryDelay = options_.retryDelay;
    request.giveUpAfter = options_.giveUpAfter;
    request.limit = options_.limit;
    request.checksum = options_.checksum;
    request.pieces = options_.pieces;
    request.expectedLength = options_.expectedLength;
    // An address that names a file never has a web page saved under that file's name.
    const bool fileExpected = options_.refuseWebPages || namesAFile(addresses_[first]);
    request.refuseWebPages = fileExpected;
    request.check = [this, fileExpected](const std::string& complete) {
        if (Status own = checkOwnTarget(target_, replaceable_); !own)
            return own;
        return finishComplete(complete, fileExpected, options_.executable);
    };
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
        error = result.error();
        return result.error().kind == FailureKind::WebPage ? JobPhase::AddressError
                                                           : JobPhase::Failed;
    }
    const std::optional<FileStamp> saved = stampOf(target_);
    std::lock_guard lock(mutex_);
    saved_ = saved;
    return JobPhase::Done;
}

std::string DownloadJob::labelOf(std::size_t i) const {
    if (i < options_.labels.size() && !options_.labels[i].empty())
        return options_.labels[i];
    return i < addresses_.size() ? withoutCredentials(addresses_[i]) : std::string();
}

JobView DownloadJob::view() const {
    std::lock_guard lock(mutex_);
    JobView v;
    v.phase = phase_;
    v.resolvingShareLink = resolvingShareLink_;
    v.error = error_;
    v.errorDetail = errorDetail_;
    v.errorKind = errorKind_;
    if (downloader_) {
        v.progress = downloader_->progress().snapshot();
        v.percent = std::clamp(v.progress.percent(), 0, 100);
        v.progressText = progressLabel(v.progress);
        v.progressBrief = progressLabel(v.progress, true);
    }
    if (phase_ == JobPhase::Done && !downloader_ && saved_) {
        // Found saved already: its size is all there is to tell.
        v.progress.total = v.progress.arrived = saved_->size;
        v.progress.totalKnown = true;
    }
    if (phase_ == JobPhase::Done) {
        v.percent = 100;
        v.progressText = v.progressBrief = "100%";
        v.file = target_;
        v.saved = saved_;
    }
    return v;
}

} // namespace vantorel::download

#include "app/EntryDownload.h"

#include "catalogue/AddressPolicy.h"
#include "update/ShareLink.h"
#include "update/UpdateFlow.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace vantorel::app {
namespace fs = std::filesystem;

std::vector<std::string> entryDownloadAddresses(const catalogue::CatalogueRecord& entry) {
    std::vector<std::string> addresses;
    for (const std::string* address : {&entry.url, &entry.https}) {
        if (catalogue::isWebAddress(*address) &&
            (addresses.empty() || addresses.front() != *address))
            addresses.push_back(*address);
    }
    return addresses;
}

EntryDownload::EntryDownload(std::vector<std::string> addresses, std::string target)
    : addresses_(std::move(addresses)), target_(std::move(target)) {}

EntryDownload::~EntryDownload() {
    cancel();
    if (worker_.joinable())
        worker_.join();
}

void EntryDownload::start() {
    if (worker_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        phase_ = EntryPhase::Resolving;
        resolvingShareLink_ = !addresses_.empty() && update::isShareLink(addresses_.front());
    }
    worker_ = std::thread([this] { run(); });
}

void EntryDownload::cancel() {
    cancelled_.store(true);
    std::lock_guard lock(mutex_);
    if (downloader_)
        downloader_->cancel();
}

void EntryDownload::finish(EntryPhase phase, std::string error) {
    std::lock_guard lock(mutex_);
    phase_ = phase;
    error_ = std::move(error);
}

void EntryDownload::run() {
    if (addresses_.empty()) {
        finish(EntryPhase::Failed, std::string(kNoDownloadAddressText));
        return;
    }
    std::string lastError;
    for (const std::string& address : addresses_) {
        if (cancelled_.load())
            break;
        Status fetched = fetchOne(address);
        if (fetched) {
            finish(EntryPhase::Done);
            return;
        }
        lastError = fetched.error().message;
    }
    if (cancelled_.load())
        finish(EntryPhase::Cancelled);
    else
        finish(EntryPhase::Failed, lastError);
}

Status EntryDownload::fetchOne(const std::string& address) {
    {
        std::lock_guard lock(mutex_);
        phase_ = EntryPhase::Resolving;
        resolvingShareLink_ = update::isShareLink(address);
        downloader_.reset();
    }
    update::ShareLinkOptions shareOptions;
    shareOptions.cancelled = &cancelled_;
    auto direct = update::downloadAddressFor(address, shareOptions);
    if (!direct)
        return direct.error();

    const fs::path target(target_);
    const fs::path hidden = update::stagingPathFor(target);
    update::DownloadRequest request;
    request.url = *direct;
    request.target = hidden.string();
    update::Downloader* downloader = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_.load())
            return makeError("已取消");
        downloader_ = std::make_unique<update::Downloader>(std::move(request));
        downloader = downloader_.get();
        phase_ = EntryPhase::Downloading;
    }
    // Only this thread replaces downloader_, so the pointer stays good while it runs.
    auto result = downloader->run();
    if (!result)
        return result.error();

    std::error_code ec;
    switch (update::saveStaged(hidden, target, ec)) {
    case update::StagedOutcome::WebPage:
        return makeError("服务器返回的是网页而不是安装程序");
    case update::StagedOutcome::NotSaved:
        return makeError("无法保存文件：" + target.string());
    case update::StagedOutcome::Saved:
        break;
    }
    return {};
}

EntryDownloadView EntryDownload::view() const {
    std::lock_guard lock(mutex_);
    EntryDownloadView v;
    v.phase = phase_;
    switch (phase_) {
    case EntryPhase::Idle:
    case EntryPhase::Cancelled:
        break;
    case EntryPhase::Resolving:
        // A plain address needs no resolving; its download is about to start.
        v.progressText = resolvingShareLink_ ? std::string(update::kResolvingText) : "0%";
        break;
    case EntryPhase::Downloading: {
        const update::DownloadSnapshot s = downloader_->progress().snapshot();
        v.percent = std::clamp(s.percent(), 0, 100);
        v.progressText = update::progressLabel(s);
        break;
    }
    case EntryPhase::Done:
        v.percent = 100;
        v.progressText = std::string(kEntryDoneText);
        v.file = target_;
        break;
    case EntryPhase::Failed:
        v.progressText = std::string(kEntryFailedText);
        v.error = error_;
        break;
    }
    return v;
}

} // namespace vantorel::app

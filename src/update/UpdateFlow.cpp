#include "update/UpdateFlow.h"

#include "catalogue/DisplayForms.h"
#include "common/Text.h"
#include "net/DirectSessionClient.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace vantorel::update {
namespace {

namespace fs = std::filesystem;

std::string statusText(UpdatePhase phase) {
    switch (phase) {
    case UpdatePhase::Resolving:
        return std::string(kResolvingText);
    case UpdatePhase::Downloading:
        return std::string(kDownloadingText);
    case UpdatePhase::Done:
        return std::string(kDoneText);
    case UpdatePhase::Failed:
        return std::string(kFailedText);
    case UpdatePhase::AddressError:
        return std::string(kAddressErrorText);
    case UpdatePhase::Idle:
    case UpdatePhase::Cancelled:
        break;
    }
    return {};
}

std::string messageText(UpdatePhase phase) {
    switch (phase) {
    case UpdatePhase::Done:
        return std::string(kDoneText);
    case UpdatePhase::Failed:
        return std::string(kRetryText);
    case UpdatePhase::AddressError:
        return std::string(kAddressErrorText);
    default:
        return {};
    }
}

} // namespace

bool looksLikeWebPage(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string head(512, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    std::string_view text = head;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return false;
    text.remove_prefix(first);
    return startsWithIgnoreCase(text, "<!doctype html") || startsWithIgnoreCase(text, "<html");
}

fs::path stagingPathFor(const fs::path& target) {
    return target.parent_path() / ("." + target.filename().string() + ".vantorel-part");
}

StagedOutcome saveStaged(const fs::path& staging, const fs::path& target, std::error_code& ec) {
    std::error_code ignored;
    if (looksLikeWebPage(staging)) {
        fs::remove(staging, ignored);
        return StagedOutcome::WebPage;
    }
    fs::rename(staging, target, ec);
    if (ec) {
        fs::remove(staging, ignored);
        return StagedOutcome::NotSaved;
    }
    return StagedOutcome::Saved;
}

std::string releaseFileName(const ReleaseInfo& release) {
    std::string wanted = release.fileName;
    if (wanted.empty())
        wanted = "Vantorel_v" + release.latestVersion;
    return catalogue::safeFileName(wanted);
}

bool shouldRetireProgram(std::string_view programFile, std::string_view downloaded) {
    std::error_code ec;
    fs::path program{std::string(programFile)};
    fs::path release{std::string(downloaded)};
    if (programFile.empty() || downloaded.empty() || !fs::is_regular_file(program, ec) ||
        !fs::is_regular_file(release, ec))
        return false;
    fs::path programReal = fs::canonical(program, ec);
    if (ec)
        return false;
    fs::path releaseReal = fs::canonical(release, ec);
    if (ec)
        return false;
    return programReal != releaseReal && programReal.parent_path() == releaseReal.parent_path();
}

UpdateFlow::UpdateFlow(ReleaseInfo release, std::string folder, UpdateFlowOptions options)
    : release_(std::move(release)),
      target_((fs::path(folder) / releaseFileName(release_)).string()),
      options_(std::move(options)) {}

UpdateFlow::~UpdateFlow() {
    cancel();
    if (worker_.joinable())
        worker_.join();
}

void UpdateFlow::start() {
    std::lock_guard lock(mutex_);
    if (phase_ != UpdatePhase::Idle)
        return;
    phase_ = UpdatePhase::Resolving;
    worker_ = std::thread([this] { run(); });
}

void UpdateFlow::cancel() {
    cancelled_.store(true);
    std::lock_guard lock(mutex_);
    if (downloader_)
        downloader_->cancel();
}

UpdateView UpdateFlow::view() const {
    std::lock_guard lock(mutex_);
    UpdateView v;
    v.phase = phase_;
    v.status = statusText(phase_);
    v.message = messageText(phase_);
    v.detail = detail_;
    v.file = file_;
    if (phase_ == UpdatePhase::Done) {
        v.percent = 100;
        v.percentText = "100%";
    } else if (downloader_) {
        const DownloadSnapshot s = downloader_->progress().snapshot();
        v.percent = std::clamp(s.percent(), 0, 100);
        v.percentText = progressLabel(s);
    }
    return v;
}

void UpdateFlow::finish(UpdatePhase phase, std::string detail, std::string file) {
    std::lock_guard lock(mutex_);
    phase_ = cancelled_.load() && phase != UpdatePhase::Done ? UpdatePhase::Cancelled : phase;
    detail_ = std::move(detail);
    file_ = std::move(file);
}

Status UpdateFlow::checkNotAPage(const std::string& direct) const {
    net::FetchRequest head;
    head.url = direct;
    head.method = net::HttpMethod::Head;
    head.timeouts = options_.share.timeouts;
    auto reply = net::DirectSessionClient().fetch(head);
    if (reply && reply->status >= 200 && reply->status < 300 &&
        startsWithIgnoreCase(reply->header("Content-Type"), "text/html"))
        return makeError("文件地址指向一个网页：" + direct);
    return {};
}

void UpdateFlow::run() {
    // Resolving.
    ShareLinkOptions share = options_.share;
    share.cancelled = &cancelled_;
    auto resolved = downloadAddressFor(release_.downloadAddress, share);
    if (!resolved)
        return finish(UpdatePhase::AddressError, std::string(shareStepName(resolved.error().code)) +
                                                     "：" + release_.downloadAddress);
    const std::string direct = std::move(*resolved);
    if (cancelled_.load())
        return finish(UpdatePhase::Cancelled);
    if (Status page = checkNotAPage(direct); !page)
        return finish(UpdatePhase::AddressError, page.error().message);

    // Downloading.
    DownloadRequest request;
    request.url = direct;
    // The file is checked under a hidden name before it takes the release's name.
    const fs::path target(target_);
    const fs::path staging = stagingPathFor(target);
    request.target = staging.string();
    request.workers = options_.workers;
    request.retryDelay = options_.retryDelay;
    request.stallTimeout = options_.stallTimeout;
    Downloader* downloader = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_.load()) {
            phase_ = UpdatePhase::Cancelled;
            return;
        }
        downloader_ = std::make_unique<Downloader>(std::move(request));
        downloader = downloader_.get();
        phase_ = UpdatePhase::Downloading;
    }
    auto result = downloader->run();
    if (!result)
        return finish(UpdatePhase::Failed, result.error().message);
    std::error_code ec;
    switch (saveStaged(staging, target, ec)) {
    case StagedOutcome::WebPage:
        return finish(UpdatePhase::AddressError, "下载到的是一个网页：" + direct);
    case StagedOutcome::NotSaved:
        return finish(UpdatePhase::Failed, "无法保存 " + target_ + "：" + ec.message());
    case StagedOutcome::Saved:
        break;
    }
    finish(UpdatePhase::Done, {}, target_);
}

} // namespace vantorel::update

#include "update/UpdateFlow.h"

#include "common/FileName.h"

#include <filesystem>

namespace vantorel::update {
namespace {

namespace fs = std::filesystem;
using download::JobPhase;

std::string statusText(JobPhase phase) {
    switch (phase) {
    case JobPhase::Resolving:
        return std::string(download::kResolvingText);
    case JobPhase::Downloading:
        return std::string(download::kDownloadingText);
    case JobPhase::Done:
        return std::string(download::kDoneText);
    case JobPhase::Failed:
        return std::string(download::kFailedText);
    case JobPhase::AddressError:
        return std::string(download::kAddressErrorText);
    case JobPhase::Idle:
    case JobPhase::Cancelled:
    case JobPhase::Interrupted:
        break;
    }
    return {};
}

std::string messageText(JobPhase phase, const std::string& file, bool installedCopy) {
    switch (phase) {
    case JobPhase::Done:
        return std::string(download::kDoneText) + "\r\n" + std::string(kSavedAtText) + "\r\n" +
               file + (installedCopy ? "\r\n" + std::string(kInstalledCopyText) : "");
    case JobPhase::Failed:
        return std::string(kRetryText);
    case JobPhase::AddressError:
        return std::string(download::kAddressErrorText);
    default:
        return {};
    }
}

download::JobOptions releaseOptions(download::JobOptions options) {
    options.refuseWebPages = true;
    options.executable = true;
    return options;
}

} // namespace

std::string releaseFileName(const ReleaseInfo& release) {
    std::string wanted = release.fileName;
    if (wanted.empty())
        wanted = "Vantorel_v" + release.latestVersion;
    return safeFileName(wanted);
}

UpdateFlow::UpdateFlow(ReleaseInfo release, ReleaseFolder folder, UpdateFlowOptions options)
    : installedCopy_(folder.installedCopy),
      job_({release.downloadAddress}, (fs::path(folder.path) / releaseFileName(release)).string(),
           releaseOptions(std::move(options))) {}

UpdateView UpdateFlow::view() const {
    const download::JobView job = job_.view();
    UpdateView v;
    v.phase = job.phase;
    v.status = statusText(job.phase);
    v.message = messageText(job.phase, job.file, installedCopy_);
    v.percent = job.percent;
    v.percentText = job.progressText;
    v.file = job.file;
    v.detail = job.error;
    return v;
}

} // namespace vantorel::update

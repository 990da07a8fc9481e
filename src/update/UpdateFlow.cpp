#include "update/UpdateFlow.h"

#include "catalogue/DisplayForms.h"

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

std::string messageText(JobPhase phase) {
    switch (phase) {
    case JobPhase::Done:
        return std::string(download::kDoneText);
    case JobPhase::Failed:
        return std::string(kRetryText);
    case JobPhase::AddressError:
        return std::string(download::kAddressErrorText);
    default:
        return {};
    }
}

download::JobOptions installerExpected(download::JobOptions options) {
    options.refuseWebPages = true;
    return options;
}

} // namespace

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
    : job_({release.downloadAddress}, (fs::path(folder) / releaseFileName(release)).string(),
           installerExpected(std::move(options))) {}

UpdateView UpdateFlow::view() const {
    const download::JobView job = job_.view();
    UpdateView v;
    v.phase = job.phase;
    v.status = statusText(job.phase);
    v.message = messageText(job.phase);
    v.percent = job.percent;
    v.percentText = job.progressText;
    v.file = job.file;
    v.detail = job.error;
    return v;
}

} // namespace vantorel::update

// vantorel-cli check-update [--json]: asks the version-check service about our release and
// prints the current and the latest version.

#include "cli/Commands.h"
#include "update/VersionCheck.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <string>

namespace vantorel::cli {

int runCheckUpdate(Args args) {
    bool json = false;
    for (std::string_view a : args) {
        if (a == "--json") {
            json = true;
        } else {
            return usageError("check-update", "未知选项: " + std::string(a));
        }
    }
    const update::VersionCheckResult result = update::checkForUpdate();
    using update::VersionOutcome;
    switch (result.outcome) {
    case VersionOutcome::NotConfigured:
        std::fputs("未设置版本检查服务（VANTOREL_VERSION_BASE）\n", stderr);
        return 1;
    case VersionOutcome::UnknownInstance:
    case VersionOutcome::NoAnswer:
    case VersionOutcome::AbnormalAnswer:
        if (result.detail.empty())
            std::fprintf(stderr, "%s\n", result.message.c_str());
        else
            std::fprintf(stderr, "%s（%s）\n", result.message.c_str(), result.detail.c_str());
        return 1;
    case VersionOutcome::UpToDate:
    case VersionOutcome::NewerRelease:
        break;
    }

    const bool newer = result.outcome == VersionOutcome::NewerRelease;
    const update::ReleaseInfo& release = result.release;
    if (json) {
        nlohmann::ordered_json out;
        out["current"] = result.currentVersion;
        out["latest"] = release.latestVersion;
        out["newer"] = newer;
        out["download"] = release.downloadAddress;
        out["file"] = release.fileName;
        out["notice"] = release.notice;
        out["notes"] = release.notesHtml;
        out["notesAreHtml"] = result.notesAreHtml;
        std::cout << out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                  << "\n";
        return 0;
    }
    std::printf("%s\n%s\n", update::currentVersionLabel(result.currentVersion).c_str(),
                update::latestVersionLabel(release.latestVersion).c_str());
    if (newer) {
        std::printf("有新版本：%s\n", release.downloadAddress.c_str());
        if (!release.notice.empty())
            std::printf("%s\n", release.notice.c_str());
    } else {
        std::puts("已是最新版本");
    }
    return 0;
}

} // namespace vantorel::cli

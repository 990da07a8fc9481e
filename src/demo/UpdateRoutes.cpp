// The demo's version-check service and the release it publishes on the share service.
//
// A release "3.10", newer than ours, is published as a share link on share.vantorel.example.
// The share page embeds a download frame; the frame page holds the four request values; the
// AJAX endpoints answer with {"dom": <this server>, "url": <file token>}, so the direct address
// dom + "/file/" + url lands on this server, which serves the release with byte ranges.

#include "common/Version.h"
#include "demo/DemoServices.h"
#include "demo/RangeServer.h"
#include "demo/ShareSite.h"

#include <cstdint>
#include <memory>

namespace vantorel::demo {
namespace {

constexpr std::string_view kSharePath = "/iVantorel310";
constexpr std::string_view kFrameQuery = "VT310frame";
constexpr std::string_view kAction = "downprocess";
constexpr std::string_view kFileId = "310";
constexpr std::string_view kSign = "1733567890";
constexpr std::string_view kKey = "dmFudG9yZWwtMzEw";
constexpr std::string_view kFileToken = "Vantorel-3.10-release";
constexpr std::size_t kReleaseBytes = 8u << 20;

// Made-up release bytes: a fixed pseudo-random sequence, the same in every run.
std::string releaseContent() {
    std::string content(kReleaseBytes, '\0');
    std::uint32_t state = 0x5eed1234u;
    for (char& c : content) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return content;
}

std::string versionReply() {
    return "3.10|" + DemoServices::releaseShareLink() +
           "|Vantorel_v3.10.bin|本次更新推荐所有用户安装|"
           "<h3>v3.10 更新内容</h3><ul><li>搜索结果按名称排序更稳定</li>"
           "<li>下载支持断点续传与多线程</li><li>修复详细信息中的乱码</li></ul>"
           "<p>感谢各位用户的反馈！</p>";
}

} // namespace

std::string DemoServices::releaseShareLink() {
    return "https://" + std::string(DemoServices::kShareHost) + std::string(kSharePath);
}

void DemoServices::addUpdateRoutes(Router& router, ShareSite& site) {
    router.add("/api/checkVersion", [](const HttpRequest& r) {
        if (r.queryValue("id") != kInstanceId)
            return HttpResponse::text("no");
        return HttpResponse::text(versionReply());
    });
    router.add("/api/getExample", [](const HttpRequest& r) {
        if (r.queryValue("id") != kInstanceId)
            return HttpResponse::text("no");
        if (r.queryValue("html") == "true")
            return HttpResponse::text("true");
        return HttpResponse::text("Vantorel_下载器");
    });
    site.add({std::string(kSharePath), "Vantorel_v3.10.bin", std::string(kFrameQuery),
              std::string(kAction), std::string(kFileId), std::string(kSign), std::string(kKey),
              [] { return std::string(kFileToken); }});

    // The release, slowed down a little so that its progress can be watched.
    auto files = std::make_shared<RangeFiles>();
    files->add("/file/" + std::string(kFileToken), releaseContent());
    RangeFaults pace;
    pace.throttleBytes = 32 * 1024;
    pace.throttleDelay = std::chrono::milliseconds(40);
    files->setFaults(pace);
    router.add("/file/", [files](const HttpRequest& r) { return files->respond(r); });
}

} // namespace vantorel::demo

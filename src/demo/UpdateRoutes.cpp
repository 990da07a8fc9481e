// The demo's version-check service, share service and release download.
//
// A release "3.10", newer than ours, is published as a share link on share.vantorel.example.
// The share page embeds a download frame; the frame page holds the four request values; the
// AJAX endpoints answer with {"dom": <this server>, "url": <file token>}, so the direct address
// dom + "/file/" + url lands on this server, which serves the release with byte ranges.

#include "common/Version.h"
#include "demo/DemoServices.h"
#include "demo/RangeServer.h"

#include <cstdint>
#include <memory>

namespace vantorel::demo {
namespace {

constexpr std::string_view kSharePath = "/iVantorel310";
constexpr std::string_view kFramePath = "/fn?VT310frame";
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

std::string sharePage() {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Vantorel_v3.10 - "
           "演示分享</title></head><body><div class=\"d\"><div class=\"b\">Vantorel_v3.10.bin"
           "</div><iframe class=\"ifr2\" name=\"1733567\" src=\"" +
           std::string(kFramePath) +
           "\" frameborder=\"0\" scrolling=\"no\"></iframe></div></body></html>";
}

std::string framePage() {
    return "<html><head><meta charset=\"utf-8\"></head><body><script type=\"text/javascript\">\n"
           "\t\tvar ajaxdata = '" +
           std::string(kAction) + "';\n\t\tvar fileid = '" + std::string(kFileId) +
           "';\n\t\tvar websignkey = '" + std::string(kSign) + "';\n\t\tvar skey = '" +
           std::string(kKey) +
           "';\n\t\tfunction down(){ /* the page's own script */ }\n</script></body></html>";
}

// The value of one field of a form body "a=1&b=2"; empty if absent.
std::string formValue(std::string_view body, std::string_view key) {
    while (!body.empty()) {
        std::size_t amp = body.find('&');
        std::string_view pair = body.substr(0, amp);
        std::size_t eq = pair.find('=');
        if (eq != std::string_view::npos && pair.substr(0, eq) == key)
            return percentDecode(pair.substr(eq + 1));
        if (amp == std::string_view::npos)
            break;
        body.remove_prefix(amp + 1);
    }
    return {};
}

HttpResponse fileLocation(const std::string& base) {
    return HttpResponse::text("{\"zt\":1,\"dom\":\"" + base + "\",\"url\":\"" +
                                  std::string(kFileToken) + "\",\"inf\":0}",
                              "application/json; charset=utf-8");
}

HttpResponse refused() {
    return HttpResponse::text("{\"zt\":0,\"inf\":\"参数错误\"}", "application/json; charset=utf-8");
}

} // namespace

std::string DemoServices::releaseShareLink() {
    return "https://" + std::string(DemoServices::kShareHost) + std::string(kSharePath);
}

void DemoServices::addUpdateRoutes(Router& router) {
    const std::string base = server_->base();

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
    router.add(std::string(kSharePath), [](const HttpRequest&) {
        return HttpResponse::text(sharePage(), "text/html; charset=utf-8");
    });
    router.add("/fn", [](const HttpRequest&) {
        return HttpResponse::text(framePage(), "text/html; charset=utf-8");
    });
    router.add("/ajaxm.php", [base](const HttpRequest& r) {
        if (r.method != "POST" || formValue(r.body, "action") != kAction ||
            formValue(r.body, "t") != kSign || formValue(r.body, "k") != kKey)
            return refused();
        return fileLocation(base);
    });
    router.add("/ajaxs.php", [base](const HttpRequest& r) {
        if (r.queryValue("action") != kAction || r.queryValue("file_id") != kFileId)
            return refused();
        return fileLocation(base);
    });

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

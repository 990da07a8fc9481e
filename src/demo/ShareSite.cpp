#include "demo/ShareSite.h"

namespace vantorel::demo {
namespace {

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

HttpResponse refused() {
    return HttpResponse::text("{\"zt\":0,\"inf\":\"参数错误\"}", "application/json; charset=utf-8");
}

} // namespace

void ShareSite::addRoutes(Router& router, std::shared_ptr<const ShareSite> self) {
    for (const SharedFile& file : self->files_)
        router.add(file.sharePath, [self](const HttpRequest& r) { return self->sharePage(r); });
    router.add("/fn", [self](const HttpRequest& r) { return self->framePage(r); });
    router.add("/ajaxm.php", [self](const HttpRequest& r) { return self->answer(r); });
    router.add("/ajaxs.php", [self](const HttpRequest& r) { return self->answer(r); });
}

HttpResponse ShareSite::sharePage(const HttpRequest& request) const {
    for (const SharedFile& file : files_) {
        if (request.path != file.sharePath)
            continue;
        return HttpResponse::text(
            "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + file.title +
                " - 演示分享</title></head><body><div class=\"d\"><div class=\"b\">" + file.title +
                "</div><iframe class=\"ifr2\" name=\"1733567\" src=\"/fn?" + file.frameQuery +
                "\" frameborder=\"0\" scrolling=\"no\"></iframe></div></body></html>",
            "text/html; charset=utf-8");
    }
    return HttpResponse::text("分享不存在", "text/plain; charset=utf-8", 404);
}

HttpResponse ShareSite::framePage(const HttpRequest& request) const {
    for (const SharedFile& file : files_) {
        if (request.query != file.frameQuery)
            continue;
        return HttpResponse::text(
            "<html><head><meta charset=\"utf-8\"></head><body><script type=\"text/javascript\">\n"
            "\t\tvar ajaxdata = '" +
                file.action + "';\n\t\tvar fileid = '" + file.fileId +
                "';\n\t\tvar websignkey = '" + file.sign + "';\n\t\tvar skey = '" + file.key +
                "';\n\t\tfunction down(){ /* the page's own script */ }\n</script></body></html>",
            "text/html; charset=utf-8");
    }
    return HttpResponse::text("页面不存在", "text/plain; charset=utf-8", 404);
}

// "/ajaxm.php" takes a POST form with action, t (the sign) and k (the key); "/ajaxs.php" a
// query with action and file_id.
HttpResponse ShareSite::answer(const HttpRequest& request) const {
    const bool form = request.path == "/ajaxm.php";
    if (form && request.method != "POST")
        return refused();
    for (const SharedFile& file : files_) {
        const bool matches = form ? formValue(request.body, "action") == file.action &&
                                        formValue(request.body, "t") == file.sign &&
                                        formValue(request.body, "k") == file.key
                                  : request.queryValue("action") == file.action &&
                                        request.queryValue("file_id") == file.fileId;
        if (matches)
            return HttpResponse::text("{\"zt\":1,\"dom\":\"" + dom_ + "\",\"url\":\"" +
                                          file.token() + "\",\"inf\":0}",
                                      "application/json; charset=utf-8");
    }
    return refused();
}

} // namespace vantorel::demo

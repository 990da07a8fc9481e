#include "demo/DemoServices.h"

#include "common/Config.h"
#include "demo/CatalogueReply.h"
#include "demo/PngWriter.h"

namespace vantorel::demo {

void Router::add(std::string pathPrefix, HttpServer::Handler handler) {
    routes_.emplace_back(std::move(pathPrefix), std::move(handler));
}

HttpResponse Router::operator()(const HttpRequest& request) const {
    for (const auto& [prefix, handler] : routes_)
        if (request.path.starts_with(prefix))
            return handler(request);
    return HttpResponse::text("not found", "text/plain; charset=utf-8", 404);
}

DemoServices::DemoServices() : router_(std::make_shared<Router>()) {
    // The server must exist before the programs can name its address, and the routes read the
    // programs: start it with a router that is filled right after.
    server_ = std::make_unique<HttpServer>(
        [router = router_](const HttpRequest& r) { return (*router)(r); });
    programs_ = demoPrograms(server_->base());
    addCatalogueRoutes(*router_);
    addUpdateRoutes(*router_);
}

DemoServices::~DemoServices() {
    server_->stop();
}

std::string DemoServices::groupLink() const {
    return base() + "/group/welcome";
}

void DemoServices::applyToConfig() const {
    config::set("VANTOREL_CATALOGUE_BASE", base());
    config::set("VANTOREL_LOGO_BASE", base());
    config::set("VANTOREL_GROUP_LINK_BASE", base());
    config::set("VANTOREL_VERSION_BASE", base());
    config::set("VANTOREL_SHARE_BASE", base());
    config::set("VANTOREL_SHARE_HOSTS", "share.vantorel.example");
    config::set("VANTOREL_CHAT_QQ", "10001");
    config::set("VANTOREL_GROUP_QQ", "20002");
}

void DemoServices::addCatalogueRoutes(Router& router) {
    router.add("/tapi/web/searchcgi.php", [this](const HttpRequest& r) {
        auto found = searchPrograms(programs_, r.queryValue("keyword"));
        return HttpResponse::text(catalogueReply(found), "application/javascript; charset=utf-8");
    });
    router.add("/softmgr/logo/48/", [this](const HttpRequest& r) {
        std::string name = r.path.substr(std::string("/softmgr/logo/48/").size());
        for (std::size_t i = 0; i < programs_.size(); ++i)
            if (programs_[i].record.logo48 == name)
                return HttpResponse::text(drawLogo(programs_[i].colour, unsigned(i)), "image/png");
        return HttpResponse::text("no such logo", "text/plain; charset=utf-8", 404);
    });
    router.add("/qun/api/", [this](const HttpRequest& r) {
        HttpResponse response = HttpResponse::text("", "text/html", 302);
        response.headers.emplace_back("Location", groupLink() + "?guin=" + r.queryValue("guin"));
        return response;
    });
    router.add("/group/welcome", [](const HttpRequest&) {
        return HttpResponse::text("<html><body><h1>欢迎加入演示群</h1></body></html>",
                                  "text/html; charset=utf-8");
    });
}

} // namespace vantorel::demo

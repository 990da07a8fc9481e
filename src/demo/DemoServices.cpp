#include "demo/DemoServices.h"

#include "common/Config.h"
#include "demo/CatalogueReply.h"
#include "demo/PngWriter.h"
#include "demo/RangeServer.h"

#include <mutex>
#include <set>

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

DemoServices::DemoServices(std::uint16_t port) : router_(std::make_shared<Router>()) {
    // The server must exist before the programs can name its address, and the routes read the
    // programs: start it with a router that is filled right after.
    server_ = std::make_unique<HttpServer>(
        [router = router_](const HttpRequest& r) { return (*router)(r); }, port);
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

namespace {

// Every setting the demo makes, with the value it gives (empty: the services' base).
struct DemoSetting {
    std::string_view key;
    std::string_view value;
};
constexpr DemoSetting kDemoSettings[] = {
    {"VANTOREL_CATALOGUE_BASE", ""},  {"VANTOREL_LOGO_BASE", ""},
    {"VANTOREL_GROUP_LINK_BASE", ""}, {"VANTOREL_VERSION_BASE", ""},
    {"VANTOREL_SHARE_BASE", ""},      {"VANTOREL_SHARE_HOSTS", DemoServices::kShareHost},
    {"VANTOREL_CHAT_QQ", "10001"},    {"VANTOREL_GROUP_QQ", "20002"},
};

} // namespace

std::vector<std::pair<std::string, std::string>> DemoServices::settings() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const DemoSetting& setting : kDemoSettings)
        out.emplace_back(setting.key, setting.value.empty() ? base() : std::string(setting.value));
    return out;
}

void DemoServices::applyToConfig() const {
    for (const auto& [key, value] : settings())
        config::set(key, value);
}

void DemoServices::removeFromConfig() {
    for (const DemoSetting& setting : kDemoSettings)
        config::unset(setting.key);
}

namespace {

// Each program's installer at /files/ and, as the second address, /mirror/ (the same bytes),
// served with byte ranges and a gentle pace so that progress can be watched. The bytes are
// made on the first request for them: most runs never download most programs.
struct InstallerFiles {
    RangeFiles files;
    std::mutex mutex;
    std::set<std::string, std::less<>> made;
};

void addDownloadRoutes(Router& router, const std::vector<DemoProgram>& programs) {
    auto installers = std::make_shared<InstallerFiles>();
    RangeFaults pace;
    pace.throttleBytes = 64 * 1024;
    pace.throttleDelay = std::chrono::milliseconds(20);
    installers->files.setFaults(pace);
    auto serve = [&programs, installers](const HttpRequest& r, std::string_view prefix) {
        const std::string name = r.path.substr(prefix.size());
        HttpRequest asFile = r;
        asFile.path = "/files/" + name;
        {
            std::lock_guard lock(installers->mutex);
            if (!installers->made.contains(name)) {
                for (const DemoProgram& p : programs) {
                    if (p.record.filename != name)
                        continue;
                    installers->files.add(asFile.path,
                                          installerBytes(name, std::stoull(p.record.filesize)));
                    installers->made.insert(name);
                    break;
                }
            }
        }
        return installers->files.respond(asFile);
    };
    router.add("/files/", [serve](const HttpRequest& r) { return serve(r, "/files/"); });
    router.add("/mirror/", [serve](const HttpRequest& r) { return serve(r, "/mirror/"); });
}

} // namespace

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
    addDownloadRoutes(router, programs_); // the programs live as long as the server
    router.add("/group/welcome", [](const HttpRequest&) {
        return HttpResponse::text("<html><body><h1>欢迎加入演示群</h1></body></html>",
                                  "text/html; charset=utf-8");
    });
}

} // namespace vantorel::demo

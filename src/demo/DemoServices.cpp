#include "demo/DemoServices.h"

#include "common/Config.h"
#include "demo/CatalogueReply.h"
#include "demo/PngWriter.h"
#include "demo/RangeServer.h"
#include "demo/ShareSite.h"
#include "demo/SignedDownloads.h"

#include <functional>
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

DemoServices::DemoServices(std::uint16_t port)
    : router_(std::make_shared<Router>()), mirrorRouter_(std::make_shared<Router>()) {
    // The servers must exist before the programs can name their addresses, and the routes read
    // the programs: start them with routers that are filled right after.
    server_ = std::make_unique<HttpServer>(
        [router = router_](const HttpRequest& r) { return (*router)(r); }, port);
    mirror_ = std::make_unique<HttpServer>(
        [router = mirrorRouter_](const HttpRequest& r) { return (*router)(r); });
    programs_ =
        demoPrograms(server_->base(), mirror_->base(), "https://" + std::string(kShareHost));
    auto site = std::make_shared<ShareSite>(server_->base());
    addCatalogueRoutes(*router_, *mirrorRouter_, *site);
    addUpdateRoutes(*router_, *site);
    ShareSite::addRoutes(*router_, site);
}

DemoServices::~DemoServices() {
    server_->stop();
    mirror_->stop();
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

// Installers served with byte ranges and a pace, so that progress can be watched. The bytes are
// made on the first request for them: most runs never download most programs.
class Installers {
  public:
    using Maker = std::function<std::string(const DemoProgram&)>;

    Installers(const std::vector<DemoProgram>& programs, RangeFaults pace, Maker make)
        : programs_(programs), make_(std::move(make)) {
        files_.setFaults(std::move(pace));
    }

    // The installer named by the rest of the path after `prefix`, made if it is not yet.
    HttpResponse respond(const HttpRequest& r, std::string_view prefix) {
        const std::string name = r.path.substr(prefix.size());
        HttpRequest asFile = r;
        asFile.path = "/files/" + name;
        {
            std::lock_guard lock(mutex_);
            for (const DemoProgram& p : programs_) {
                if (made_.contains(name))
                    break;
                if (p.record.filename == name) {
                    files_.add(asFile.path, make_(p));
                    made_.insert(name);
                }
            }
        }
        return files_.respond(asFile);
    }

  private:
    const std::vector<DemoProgram>& programs_; // live as long as the servers
    RangeFiles files_;
    Maker make_;
    std::mutex mutex_;
    std::set<std::string, std::less<>> made_;
};

std::string sameInstaller(const DemoProgram& p) {
    return installerBytes(p.record.filename, std::stoull(p.record.filesize));
}

// 下载链接1 of every plain entry at /files/, fast; every 下载链接2 on the mirror server at
// /mirror/, whose uplink all downloads share; the OtherMirror entry's mirror has other bytes of
// the same length.
void addDownloadRoutes(Router& router, Router& mirror, const std::vector<DemoProgram>& programs) {
    RangeFaults pace;
    pace.throttleBytes = 64 * 1024;
    pace.throttleDelay = std::chrono::milliseconds(20);
    auto installers = std::make_shared<Installers>(programs, pace, sameInstaller);
    router.add("/files/",
               [installers](const HttpRequest& r) { return installers->respond(r, "/files/"); });

    RangeFaults uplink;
    uplink.totalRate = 1u << 20;
    auto mirrored = std::make_shared<Installers>(programs, uplink, [](const DemoProgram& p) {
        return p.kind == DemoKind::OtherMirror
                   ? installerBytes(p.record.filename + ".other", std::stoull(p.record.filesize))
                   : sameInstaller(p);
    });
    mirror.add("/mirror/",
               [mirrored](const HttpRequest& r) { return mirrored->respond(r, "/mirror/"); });
}

// The ExpiringLink entry: its share link resolves to a signed address on this server that
// serves the installer, slowly enough that the download outlives the signature.
void addExpiringShare(Router& router, ShareSite& site, const std::vector<DemoProgram>& programs,
                      std::chrono::milliseconds lifetime) {
    for (const DemoProgram& p : programs) {
        if (p.kind != DemoKind::ExpiringLink)
            continue;
        RangeFaults slow;
        slow.totalRate = 512 * 1024;
        auto files = std::make_shared<RangeFiles>();
        files->setFaults(slow);
        auto signer = std::make_shared<SignedDownloads>(files, lifetime, ExpiredAnswer::Forbidden);
        auto made = std::make_shared<std::once_flag>();
        const std::string name = p.record.filename;
        const std::string sharePath = p.record.url.substr(p.record.url.rfind("/s/"));
        site.add({sharePath, name, "expiring", "downprocess", "1207", "1733560000", "ZXhwaXJpbmc",
                  [signer, name] { return signer->sign(name); }});
        router.add("/file/" + name, [signer, made, &p](const HttpRequest& r) {
            std::call_once(*made, [&] {
                signer->files().add("/file/" + p.record.filename, sameInstaller(p));
            });
            return signer->respond(r);
        });
    }
}

} // namespace

void DemoServices::addCatalogueRoutes(Router& router, Router& mirror, ShareSite& site) {
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
    // The programs live as long as the servers.
    addDownloadRoutes(router, mirror, programs_);
    addExpiringShare(router, site, programs_, kSignedLifetime);
    router.add("/group/welcome", [](const HttpRequest&) {
        return HttpResponse::text("<html><body><h1>欢迎加入演示群</h1></body></html>",
                                  "text/html; charset=utf-8");
    });
}

} // namespace vantorel::demo

#pragma once
// The offline services: one loopback server that answers like the catalogue, the logo host, the
// group-link service, the download mirrors, the version-check service and the share service,
// with made-up data. `vantorel --demo`, `vantorel-cli --demo` and the end-to-end tests use it.

#include "demo/CatalogueData.h"
#include "demo/HttpServer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantorel::demo {

class ShareSite;

// Dispatches a request to the first route whose path prefix it starts with.
class Router {
  public:
    void add(std::string pathPrefix, HttpServer::Handler handler);
    HttpResponse operator()(const HttpRequest& request) const;

  private:
    std::vector<std::pair<std::string, HttpServer::Handler>> routes_;
};

class DemoServices {
  public:
    // Listens on 127.0.0.1 at a free port, or at `port`; throws std::runtime_error if it cannot.
    explicit DemoServices(std::uint16_t port = 0);
    ~DemoServices();

    std::string base() const { return server_->base(); }
    // The second server, on a port of its own, that serves every entry's 下载链接2.
    std::string mirrorBase() const { return mirror_->base(); }
    // The configuration (catalogue, logos, group link, version check, share service, contact
    // numbers) that points the program at these services: (variable name, value) pairs.
    std::vector<std::pair<std::string, std::string>> settings() const;
    // Makes every one of settings() in this process.
    void applyToConfig() const;
    // Takes back every setting applyToConfig() made.
    static void removeFromConfig();

    const std::vector<DemoProgram>& programs() const { return programs_; }
    std::vector<HttpRequest> requests() const { return server_->requests(); }

    // The group link the redirect service hands out.
    std::string groupLink() const;
    // The share link under which the demo's newer release is published, on this share host.
    static std::string releaseShareLink();
    static constexpr std::string_view kShareHost = "share.vantorel.example";
    // How long a signed address of the ExpiringLink entry serves its file.
    static constexpr std::chrono::milliseconds kSignedLifetime{4000};

  private:
    void addCatalogueRoutes(Router& router, Router& mirror, ShareSite& site);
    void addUpdateRoutes(Router& router, ShareSite& site);

    std::vector<DemoProgram> programs_;
    std::shared_ptr<Router> router_;
    std::shared_ptr<Router> mirrorRouter_;
    std::unique_ptr<HttpServer> server_;
    std::unique_ptr<HttpServer> mirror_;
};

} // namespace vantorel::demo

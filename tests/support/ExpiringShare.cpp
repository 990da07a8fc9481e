#include "support/ExpiringShare.h"

#include "common/Config.h"
#include "demo/ShareSite.h"

namespace vantorel::testing {

ExpiringShare::ExpiringShare(std::string bytes, Options options)
    : name_(std::move(options.name)),
      signer_(std::make_shared<demo::SignedDownloads>(std::make_shared<demo::RangeFiles>(),
                                                      options.lifetime, options.expired)),
      router_(std::make_shared<demo::Router>()),
      server_([router = router_](const demo::HttpRequest& r) { return (*router)(r); }) {
    signer_->files().add("/file/" + name_, std::move(bytes));
    signer_->files().setFaults(std::move(options.faults));
    auto site = std::make_shared<demo::ShareSite>(server_.base());
    site->add({"/s/" + name_, name_, "f1", "downprocess", "1", "1733560001", "a2V5",
               [signer = signer_, name = name_] { return signer->sign(name); }});
    demo::ShareSite::addRoutes(*router_, site);
    router_->add("/file/",
                 [signer = signer_](const demo::HttpRequest& r) { return signer->respond(r); });
    router_->add(std::string(demo::kExpiredPagePath),
                 [signer = signer_](const demo::HttpRequest& r) { return signer->respond(r); });
    config::set("VANTOREL_SHARE_BASE", server_.base());
    config::set("VANTOREL_SHARE_HOSTS", std::string(kHost));
}

ExpiringShare::~ExpiringShare() {
    server_.stop();
    config::unset("VANTOREL_SHARE_BASE");
    config::unset("VANTOREL_SHARE_HOSTS");
}

std::string ExpiringShare::link() const {
    return "https://" + std::string(kHost) + "/s/" + name_;
}

} // namespace vantorel::testing

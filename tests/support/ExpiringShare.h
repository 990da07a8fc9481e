#pragma once
// A share link on loopback whose direct address expires: the share service's pages and AJAX
// answer resolve the link to "<server>/file/<name>?sig=<n>&exp=<t>", a fresh signature each
// time, which serves the file for `lifetime` and afterwards answers 403 or sends the client to
// a "链接已过期" page. While it lives the configuration makes its link a share link
// (VANTOREL_SHARE_HOSTS, VANTOREL_SHARE_BASE); it takes both back when it ends.

#include "demo/DemoServices.h"
#include "demo/RangeServer.h"
#include "demo/SignedDownloads.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace vantorel::testing {

struct ExpiringShareOptions {
    std::chrono::milliseconds lifetime{1000};
    demo::ExpiredAnswer expired = demo::ExpiredAnswer::Forbidden;
    demo::RangeFaults faults; // of the file's server: a pace that outlives the lifetime
    std::string name = "shared.bin";
};

class ExpiringShare {
  public:
    static constexpr std::string_view kHost = "share.expiring.test";
    using Options = ExpiringShareOptions;

    explicit ExpiringShare(std::string bytes, Options options = {});
    ~ExpiringShare();
    ExpiringShare(const ExpiringShare&) = delete;
    ExpiringShare& operator=(const ExpiringShare&) = delete;

    // "https://share.expiring.test/s/<name>".
    std::string link() const;
    // Resolutions answered so far: each handed out a new signed address.
    std::size_t resolutions() const { return signer_->signatures(); }
    // Body bytes of the file sent so far, over every signed address and connection.
    std::uint64_t bytesServed() const { return signer_->files().bodyBytesSent(); }

    demo::RangeFiles& files() { return signer_->files(); }
    demo::HttpServer& http() { return server_; }

  private:
    std::string name_;
    std::shared_ptr<demo::SignedDownloads> signer_;
    std::shared_ptr<demo::Router> router_;
    demo::HttpServer server_; // last: its threads use the members above until it is gone
};

} // namespace vantorel::testing

#pragma once
// Direct addresses that a share service signs and that expire: "/file/<name>?sig=<n>&exp=<t>"
// serves the file for a while and afterwards answers 403, or sends the client to a web page
// saying the link has expired, as share services do. Each signature is new.

#include "demo/RangeServer.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace vantorel::demo {

enum class ExpiredAnswer {
    Forbidden, // 403
    WebPage,   // a redirect to kExpiredPagePath, a small HTML page
};

inline constexpr std::string_view kExpiredPagePath = "/link-expired.html";
inline constexpr std::string_view kExpiredText = "链接已过期";

class SignedDownloads {
  public:
    // The files are served at "/file/" + name.
    SignedDownloads(std::shared_ptr<RangeFiles> files, std::chrono::milliseconds lifetime,
                    ExpiredAnswer expired);

    // "<name>?sig=<n>&exp=<unix seconds>", good for the lifetime from now: the part after
    // "/file/" of the direct address.
    std::string sign(std::string_view name);
    // Signatures handed out so far.
    std::size_t signatures() const;

    // A signed address while it holds; afterwards, and for a signature never given, the
    // expired answer. kExpiredPagePath gives the page.
    HttpResponse respond(const HttpRequest& request) const;

    RangeFiles& files() { return *files_; }

  private:
    struct Signature {
        std::string path;
        std::string exp;
        std::chrono::steady_clock::time_point until;
    };

    std::shared_ptr<RangeFiles> files_;
    const std::chrono::milliseconds lifetime_;
    const ExpiredAnswer expired_;
    mutable std::mutex mutex_;
    std::map<std::string, Signature, std::less<>> signatures_; // by "sig"
    std::uint64_t state_;
};

} // namespace vantorel::demo

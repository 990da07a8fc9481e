#include "demo/SignedDownloads.h"

#include <cstdio>
#include <random>

namespace vantorel::demo {

SignedDownloads::SignedDownloads(std::shared_ptr<RangeFiles> files,
                                 std::chrono::milliseconds lifetime, ExpiredAnswer expired)
    : files_(std::move(files)), lifetime_(lifetime), expired_(expired),
      state_(std::random_device{}() | 1) {}

std::string SignedDownloads::sign(std::string_view name) {
    const auto now = std::chrono::system_clock::now();
    const auto exp =
        std::chrono::duration_cast<std::chrono::seconds>((now + lifetime_).time_since_epoch())
            .count();
    std::lock_guard lock(mutex_);
    // A new value each time, not to be guessed from the one before.
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    char sig[17];
    std::snprintf(sig, sizeof sig, "%016llx", static_cast<unsigned long long>(state_));
    signatures_[sig] = {"/file/" + std::string(name), std::to_string(exp),
                        std::chrono::steady_clock::now() + lifetime_};
    return std::string(name) + "?sig=" + sig + "&exp=" + std::to_string(exp);
}

std::size_t SignedDownloads::signatures() const {
    std::lock_guard lock(mutex_);
    return signatures_.size();
}

HttpResponse SignedDownloads::respond(const HttpRequest& request) const {
    if (request.path == kExpiredPagePath)
        return HttpResponse::text("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" +
                                      std::string(kExpiredText) + "</title></head><body><h1>" +
                                      std::string(kExpiredText) +
                                      "</h1><p>请回到分享页面重新获取下载地址。</p></body></html>",
                                  "text/html; charset=utf-8");
    bool valid = false;
    {
        std::lock_guard lock(mutex_);
        const auto it = signatures_.find(request.queryValue("sig"));
        valid = it != signatures_.end() && it->second.path == request.path &&
                it->second.exp == request.queryValue("exp") &&
                std::chrono::steady_clock::now() < it->second.until;
    }
    if (valid)
        return files_->respond(request);
    if (expired_ == ExpiredAnswer::Forbidden)
        return HttpResponse::text(std::string(kExpiredText), "text/plain; charset=utf-8", 403);
    HttpResponse moved = HttpResponse::text("", "text/html; charset=utf-8", 302);
    moved.headers.emplace_back("Location", std::string(kExpiredPagePath));
    return moved;
}

} // namespace vantorel::demo

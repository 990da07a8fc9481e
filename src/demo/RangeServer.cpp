#include "demo/RangeServer.h"

#include <zlib.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <functional>
#include <stdexcept>

namespace vantorel::demo {
namespace {

struct Span {
    std::size_t first = 0;
    std::size_t last = 0;
};

std::optional<std::size_t> number(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    std::size_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

enum class RangeAsk { None, Satisfiable, Unsatisfiable };

// One "bytes=first-last", "bytes=first-" or "bytes=-suffix". Anything else (several ranges, bad
// syntax) is ignored, as a server may: the whole file is sent.
RangeAsk parseRange(std::string_view header, std::size_t size, Span& span) {
    if (!header.starts_with("bytes="))
        return RangeAsk::None;
    header.remove_prefix(6);
    if (header.find(',') != std::string_view::npos)
        return RangeAsk::None;
    const std::size_t dash = header.find('-');
    if (dash == std::string_view::npos)
        return RangeAsk::None;
    const std::string_view left = header.substr(0, dash);
    const std::string_view right = header.substr(dash + 1);
    if (left.find_first_not_of(' ') == std::string_view::npos) {
        const auto suffix = number(right);
        if (!suffix)
            return RangeAsk::None;
        if (*suffix == 0 || size == 0)
            return RangeAsk::Unsatisfiable;
        span = {size - std::min(*suffix, size), size - 1};
        return RangeAsk::Satisfiable;
    }
    const auto first = number(left);
    if (!first)
        return RangeAsk::None;
    std::optional<std::size_t> last = size == 0 ? 0 : size - 1;
    if (right.find_first_not_of(' ') != std::string_view::npos) {
        last = number(right);
        if (!last || *last < *first)
            return RangeAsk::None;
    }
    if (*first >= size)
        return RangeAsk::Unsatisfiable;
    span = {*first, std::min(*last, size - 1)};
    return RangeAsk::Satisfiable;
}

} // namespace

std::string encodeContent(std::string_view body, std::string_view coding) {
    int windowBits;
    if (coding == "gzip")
        windowBits = 15 + 16;
    else if (coding == "deflate")
        windowBits = 15;
    else
        throw std::runtime_error("unknown content coding");
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&stream, static_cast<uLong>(body.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    stream.avail_in = static_cast<uInt>(body.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw std::runtime_error("deflate failed");
    return out;
}

std::function<double(std::size_t)> connectionRates(double bytesPerSecond, std::size_t every,
                                                   double slowBytesPerSecond) {
    return [=](std::size_t connection) {
        return every > 0 && connection % every == 0 ? slowBytesPerSecond : bytesPerSecond;
    };
}

void RangeFiles::add(std::string path, std::string content) {
    char etag[32];
    std::snprintf(etag, sizeof etag, "\"%016zx\"", std::hash<std::string>{}(content));
    std::lock_guard lock(mutex_);
    // A fixed day, a second later for each new version.
    const std::time_t when = 1'796'000'000 + static_cast<std::time_t>(++versions_);
    std::tm utc{};
    gmtime_r(&when, &utc);
    char date[64];
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    files_[std::move(path)] = {std::make_shared<const std::string>(std::move(content)), etag, date};
}

void RangeFiles::setFaults(RangeFaults faults) {
    std::lock_guard lock(mutex_);
    meter_->setRate(faults.totalRate);
    meter_->setLimit(faults.goneAfterBytes);
    faults_ = std::move(faults);
}

RangeFaults RangeFiles::faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

HttpResponse RangeFiles::respond(const HttpRequest& request) {
    std::shared_ptr<const std::string> file;
    std::string etag;
    std::string lastModified;
    RangeFaults faults;
    bool cut = false;
    {
        std::lock_guard lock(mutex_);
        faults = faults_;
        if (auto it = files_.find(request.path); it != files_.end()) {
            file = it->second.content;
            etag = it->second.etag;
            lastModified = it->second.lastModified;
        }
        if (faults_.cutAfter && faults_.cutReplies != 0) {
            cut = true;
            if (faults_.cutReplies > 0)
                --faults_.cutReplies;
        }
    }
    if (meter_->exhausted()) {
        if (faults.goneStatus == 0) {
            HttpResponse dropped;
            dropped.dropWithoutReply = true;
            return dropped;
        }
        return HttpResponse::text(std::string(reasonPhrase(faults.goneStatus)),
                                  "text/plain; charset=utf-8", faults.goneStatus);
    }
    if (faults.notFound || !file)
        return HttpResponse::text("404 Not Found", "text/plain; charset=utf-8", 404);
    if (request.method != "GET" && request.method != "HEAD") {
        HttpResponse refused = HttpResponse::text("405", "text/plain; charset=utf-8", 405);
        refused.headers.emplace_back("Allow", "GET, HEAD");
        return refused;
    }

    const std::string& content = *file;
    HttpResponse response;
    response.headers.emplace_back("Content-Type", "application/octet-stream");
    response.headers.insert(response.headers.end(), faults.extraHeaders.begin(),
                            faults.extraHeaders.end());
    response.sendContentLength = !faults.noContentLength;
    response.meter = meter_;
    response.throttleBytes = faults.throttleBytes;
    response.throttleDelay = faults.throttleDelay;
    if (faults.connectionRate)
        response.bytesPerSecond = faults.connectionRate(request.connection);
    if (cut)
        response.cutAfter = faults.cutAfter;

    if (!faults.contentCoding.empty()) {
        response.headers.emplace_back("Content-Encoding", faults.contentCoding);
        response.body = encodeContent(content, faults.contentCoding);
        return response;
    }
    if (!faults.ignoreRanges)
        response.headers.emplace_back("Accept-Ranges", "bytes");
    if (!faults.noValidators) {
        response.headers.emplace_back("ETag", etag);
        response.headers.emplace_back("Last-Modified", lastModified);
    }
    const std::string ifRange = request.header("If-Range");
    const bool sameVersion =
        faults.noValidators || ifRange.empty() || ifRange == etag || ifRange == lastModified;

    Span span;
    const RangeAsk ask = faults.ignoreRanges || !sameVersion
                             ? RangeAsk::None
                             : parseRange(request.header("Range"), content.size(), span);
    if (ask == RangeAsk::Unsatisfiable) {
        response.status = 416;
        response.headers.emplace_back("Content-Range", "bytes */" + std::to_string(content.size()));
        response.cutAfter.reset();
        return response;
    }
    if (ask == RangeAsk::None) {
        response.body = content;
        return response;
    }
    if (faults.wrongContentRange)
        span = {0, span.last - span.first};
    response.status = 206;
    response.headers.emplace_back("Content-Range", "bytes " + std::to_string(span.first) + "-" +
                                                       std::to_string(span.last) + "/" +
                                                       std::to_string(content.size()));
    response.body = content.substr(span.first, span.last - span.first + 1);
    return response;
}

RangeServer::RangeServer()
    : server_([this](const HttpRequest& request) { return files_.respond(request); }) {}

} // namespace vantorel::demo

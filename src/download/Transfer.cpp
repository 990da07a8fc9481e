#include "download/Transfer.h"

#include "net/Deadlines.h"
#include "net/HeaderBlock.h"
#include "net/Session.h"
#include "net/TransferFailure.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>

namespace vantorel::download {
namespace {

constexpr long kMaxRedirects = 10;

// "scheme://host:port" of `url`, the default port filled in; empty when it cannot be parsed.
std::string originOf(const char* url) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || !url || curl_url_set(parsed.get(), CURLUPART_URL, url, 0) != CURLUE_OK)
        return {};
    std::string origin;
    for (const CURLUPart part : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
        char* text = nullptr;
        if (curl_url_get(parsed.get(), part, &text, CURLU_DEFAULT_PORT) != CURLUE_OK)
            return {};
        origin += text;
        origin += '|';
        curl_free(text);
    }
    return origin;
}

} // namespace

Error Transfer::failure(CURLcode code) const {
    if (unusableProxy_)
        return *unusableProxy_;
    if (head_.length.bad())
        return makeError(head_.length.problem());
    // The last head is a redirect that was not followed: to a scheme other than http(s), or from
    // https to plain http.
    if (code == CURLE_UNSUPPORTED_PROTOCOL && head_.complete && head_.status / 100 == 3)
        return makeError(
            net::refusedRedirectText(net::headerValue(head_.lines, "Location"), "下载"));
    // The download's own codes say what became of the file; the transport's step is no concern
    // of theirs.
    Error error =
        tooSlow_ ? net::transferFailure(easy_.get(), CURLE_OPERATION_TIMEDOUT, head_.complete,
                                        proxy_, {}, "connection under the speed floor")
                 : net::transferFailure(easy_.get(), code, head_.complete, proxy_, {}, errorText_);
    error.code = 0;
    return error;
}

bool Transfer::redirectedAwayFrom(const std::string& url) const {
    long redirects = 0;
    const char* effective = nullptr;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_REDIRECT_COUNT, &redirects) != CURLE_OK ||
        redirects == 0)
        return false;
    curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &effective);
    return originOf(effective) != originOf(url.c_str());
}

CURLcode Transfer::get(const std::string& url, const std::string& headerBlock,
                       curl_write_callback onBody, void* user, bool decode) {
    net::CurlHeaderList headers;
    std::string_view rest = headerBlock;
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        headers.append(std::string(rest.substr(0, end)));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    }
    head_ = net::ReplyHead{};
    errorText_[0] = '\0';
    tooSlow_ = false;
    floorFrom_ = Clock::now();
    floorBytes_ = 0;
    CURL* h = easy_.get();
    net::HandleOptions options;
    options.url = url;
    options.timeouts = net::deadlines::kDownload;
    options.maxRedirects = kMaxRedirects;
    options.errorText = errorText_;
    options.headers = headers.get();
    options.decode = decode;
    options.onHeader = &Transfer::onHeader;
    options.headerData = &head_;
    options.onBody = onBody;
    options.bodyData = user;
    options.onProgress = &Transfer::onProgress;
    options.progressData = this;
    options.bufferBytes = kReadBufferBytes;
    options.freshConnection = std::exchange(fresh_, false);
    options.share = job_.connections.get();
    auto proxy = net::prepareHandle(h, options);
    if (!proxy) {
        unusableProxy_ = proxy.error();
        return CURLE_COULDNT_RESOLVE_PROXY;
    }
    unusableProxy_.reset();
    proxy_ = std::move(*proxy);
    const CURLcode code = curl_easy_perform(h);
    net::releaseLists(h);
    long connects = 0;
    curl_off_t lookedUp = 0, connected = 0;
    if (curl_easy_getinfo(h, CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK && connects > 0 &&
        curl_easy_getinfo(h, CURLINFO_NAMELOOKUP_TIME_T, &lookedUp) == CURLE_OK &&
        curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connected) == CURLE_OK &&
        connected >= lookedUp)
        roundTrip_ = static_cast<double>(connected - lookedUp) / 1e6;
    return code;
}

std::size_t Transfer::onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    return static_cast<net::ReplyHead*>(user)->take(std::string_view(data, size * count))
               ? size * count
               : 0;
}

int Transfer::onProgress(void* user, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
    auto& self = *static_cast<Transfer*>(user);
    if (self.job_.stopping() || (self.background_ && self.job_.settled()))
        return 1;
    return self.underFloor(static_cast<std::uint64_t>(std::max<curl_off_t>(now, 0))) ? 1 : 0;
}

bool Transfer::underFloor(std::uint64_t received) {
    const auto now = Clock::now();
    // Time the speed limit held the download back is not the server's slowness.
    if (job_.heldSince(floorFrom_)) {
        floorFrom_ = now;
        floorBytes_ = received;
        return false;
    }
    const auto span = now - floorFrom_;
    if (span < job_.request.floorTime)
        return false;
    tooSlow_ = static_cast<double>(received - floorBytes_) <
               job_.request.speedFloor * Seconds(span).count();
    floorFrom_ = now;
    floorBytes_ = received;
    return tooSlow_;
}

} // namespace vantorel::download

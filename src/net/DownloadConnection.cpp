#include "net/DownloadConnection.h"

#include "net/Curl.h"
#include "net/Deadlines.h"
#include "net/HeaderBlock.h"
#include "net/Session.h"
#include "net/TransferFailure.h"
#include "net/Url.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>

namespace vantorel::net {
namespace {

constexpr long kMaxRedirects = 10;

using Clock = std::chrono::steady_clock;

// "scheme://host:port" of `url`, the default port filled in; empty when it cannot be parsed.
std::string originOf(std::string_view url) {
    const auto parsed = parseUrl(url, {.defaultPort = true});
    return parsed ? parsed->origin() : std::string();
}

} // namespace

struct DownloadConnection::Handle {
    CurlEasy easy = makeCurlEasy();
    char errorText[CURL_ERROR_SIZE] = {};
    CURLcode code = CURLE_OK; // how the last transfer ended
};

// libcurl's callbacks, with the connection as their user data.
struct ConnectionCallbacks {
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user);
    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
};

DownloadConnection::DownloadConnection(ConnectionRules rules)
    : rules_(std::move(rules)), handle_(std::make_unique<Handle>()) {}

DownloadConnection::~DownloadConnection() = default;

Error DownloadConnection::failure() const {
    const CURLcode code = handle_->code;
    if (unusableProxy_)
        return *unusableProxy_;
    if (head_.length.bad())
        return makeError(head_.length.problem());
    // The last head is a redirect that was not followed: to a scheme other than http(s), or from
    // https to plain http.
    if (code == CURLE_UNSUPPORTED_PROTOCOL && head_.complete && head_.status / 100 == 3)
        return makeError(refusedRedirectText(headerValue(head_.lines, "Location"), "下载"));
    // The download's own codes say what became of the file; the transport's step is no concern
    // of theirs.
    Error error =
        tooSlow_ ? transferFailure(handle_->easy.get(), CURLE_OPERATION_TIMEDOUT, head_.complete,
                                   proxy_, {}, "connection under the speed floor")
                 : transferFailure(handle_->easy.get(), code, head_.complete, proxy_, {},
                                   handle_->errorText);
    error.code = 0;
    return error;
}

bool DownloadConnection::redirectedAwayFrom(const std::string& url) const {
    long redirects = 0;
    if (curl_easy_getinfo(handle_->easy.get(), CURLINFO_REDIRECT_COUNT, &redirects) != CURLE_OK ||
        redirects == 0)
        return false;
    return originOf(effectiveUrl()) != originOf(url);
}

std::chrono::duration<double> DownloadConnection::replyWait() const {
    return net::replyWait(handle_->easy.get());
}

std::string DownloadConnection::effectiveUrl() const {
    const char* effective = nullptr;
    curl_easy_getinfo(handle_->easy.get(), CURLINFO_EFFECTIVE_URL, &effective);
    return effective ? effective : std::string();
}

DownloadConnection::Outcome DownloadConnection::get(const std::string& url,
                                                    const std::string& headerBlock,
                                                    const BodySink& sink, bool decode) {
    CurlHeaderList headers;
    std::string_view rest = headerBlock;
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        headers.append(std::string(rest.substr(0, end)));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    }
    head_ = ReplyHead{};
    handle_->errorText[0] = '\0';
    sink_ = &sink;
    sinkEnded_ = false;
    tooSlow_ = false;
    floorFrom_ = Clock::now();
    floorBytes_ = 0;
    CURL* h = handle_->easy.get();
    HandleOptions options;
    options.url = url;
    options.timeouts = deadlines::kDownload;
    options.maxRedirects = kMaxRedirects;
    options.errorText = handle_->errorText;
    options.headers = headers.get();
    options.decode = decode;
    options.onHeader = &ConnectionCallbacks::onHeader;
    options.headerData = &head_;
    options.onBody = &ConnectionCallbacks::onBody;
    options.bodyData = this;
    options.onProgress = &ConnectionCallbacks::onProgress;
    options.progressData = this;
    options.bufferBytes = rules_.bufferBytes;
    options.freshConnection = std::exchange(fresh_, false);
    options.share = rules_.connections ? rules_.connections->get() : nullptr;
    auto proxy = prepareHandle(h, options);
    if (!proxy) {
        unusableProxy_ = proxy.error();
        handle_->code = CURLE_COULDNT_RESOLVE_PROXY;
        return Outcome::Failed;
    }
    unusableProxy_.reset();
    proxy_ = std::move(*proxy);
    const CURLcode code = curl_easy_perform(h);
    handle_->code = code;
    sink_ = nullptr;
    releaseLists(h);
    if (code == CURLE_OK)
        return Outcome::Completed;
    return code == CURLE_WRITE_ERROR && sinkEnded_ ? Outcome::EndedBySink : Outcome::Failed;
}

std::size_t ConnectionCallbacks::onHeader(char* data, std::size_t size, std::size_t count,
                                          void* user) {
    return static_cast<ReplyHead*>(user)->take(std::string_view(data, size * count)) ? size * count
                                                                                     : 0;
}

std::size_t ConnectionCallbacks::onBody(char* data, std::size_t size, std::size_t count,
                                        void* user) {
    auto& self = *static_cast<DownloadConnection*>(user);
    const std::size_t bytes = size * count;
    const std::size_t taken = (*self.sink_)(std::span<const char>(data, bytes));
    if (taken != bytes)
        self.sinkEnded_ = true;
    return taken;
}

int ConnectionCallbacks::onProgress(void* user, curl_off_t, curl_off_t now, curl_off_t,
                                    curl_off_t) {
    auto& self = *static_cast<DownloadConnection*>(user);
    if (self.rules_.stopping())
        return 1;
    return self.underFloor(static_cast<std::uint64_t>(std::max<curl_off_t>(now, 0))) ? 1 : 0;
}

bool DownloadConnection::underFloor(std::uint64_t received) {
    const auto now = Clock::now();
    // Time the speed limit held the download back is not the server's slowness.
    if (rules_.heldSince(floorFrom_)) {
        floorFrom_ = now;
        floorBytes_ = received;
        return false;
    }
    const auto span = now - floorFrom_;
    if (span < rules_.floorTime)
        return false;
    tooSlow_ = static_cast<double>(received - floorBytes_) <
               rules_.speedFloor * std::chrono::duration<double>(span).count();
    floorFrom_ = now;
    floorBytes_ = received;
    return tooSlow_;
}

} // namespace vantorel::net

#include "net/Transport.h"

#include "net/Curl.h"
#include "net/HeaderBlock.h"
#include "net/ReplyHead.h"
#include "net/Session.h"
#include "net/TransferFailure.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stop_token>

namespace vantorel::net {
namespace {

using Clock = std::chrono::steady_clock;

struct TransferState {
    TransferState(const TransportRequest& r, TransportResponse& out, CURL* h)
        : request(r), response(out), handle(h) {}

    const TransportRequest& request;
    TransportResponse& response;
    CURL* handle;

    ReplyHead head; // of the response being received
    std::size_t headerBytes = 0;
    bool headerCapExceeded = false;
    bool bodyCapExceeded = false;
    bool idleTimedOut = false;

    bool connected = false;
    Clock::time_point lastActivity = Clock::now();
    curl_off_t lastDown = -1;
    curl_off_t lastUp = -1;
};

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& x = *static_cast<TransferState*>(user);
    std::size_t n = size * count;
    x.lastActivity = Clock::now();
    x.headerBytes += n;
    if (x.headerBytes > kMaxHeaderBytes) {
        x.headerCapExceeded = true;
        return 0;
    }
    if (!x.head.take(std::string_view(data, n)))
        return 0;
    if (const std::string_view line = withoutLineBreak(std::string_view(data, n));
        startsWithIgnoreCase(line, "Set-Cookie:")) {
        if (!x.response.setCookieLines.empty())
            x.response.setCookieLines += "\r\n";
        x.response.setCookieLines += line;
    }
    return n;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& x = *static_cast<TransferState*>(user);
    std::size_t n = size * count;
    x.lastActivity = Clock::now();
    if (x.response.body.size() + n > x.request.maxBodyBytes) {
        x.bodyCapExceeded = true;
        return 0;
    }
    x.response.body.append(data, n);
    return n;
}

// Enforces the send and receive idle limits once the connection stands.
int onProgress(void* user, curl_off_t, curl_off_t down, curl_off_t upTotal, curl_off_t up) {
    auto& x = *static_cast<TransferState*>(user);
    Clock::time_point now = Clock::now();
    if (!x.connected) {
        curl_off_t connectTime = 0;
        if (curl_easy_getinfo(x.handle, CURLINFO_CONNECT_TIME_T, &connectTime) != CURLE_OK ||
            connectTime <= 0)
            return 0;
        x.connected = true;
        x.lastActivity = now;
    }
    if (down != x.lastDown || up != x.lastUp) {
        x.lastDown = down;
        x.lastUp = up;
        x.lastActivity = now;
    }
    bool sending = upTotal > 0 && up < upTotal;
    auto limit = sending ? x.request.timeouts.send : x.request.timeouts.receive;
    if (limit.count() > 0 && now - x.lastActivity > limit) {
        x.idleTimedOut = true;
        return 1;
    }
    return 0;
}

bool wasConnected(const TransferState& x) {
    curl_off_t connectTime = 0;
    return x.connected ||
           (curl_easy_getinfo(x.handle, CURLINFO_CONNECT_TIME_T, &connectTime) == CURLE_OK &&
            connectTime > 0);
}

TransportStep stepOf(CURLcode code, const TransferState& x) {
    if (code == CURLE_WRITE_ERROR && (x.headerCapExceeded || x.head.length.bad()))
        return TransportStep::Response;
    return failedStep(code, wasConnected(x), x.head.complete);
}

// The user's message says what failed and with which host (or proxy); curl's words are the
// detail.
Error describe(TransportStep step, CURLcode code, const TransferState& x, const char* detail,
               std::string_view proxy) {
    const std::string host = hostOf(x.request.url);
    std::string text;
    if (step == TransportStep::Cancelled)
        text = failureMessage(step, code);
    else if (x.bodyCapExceeded)
        text = "回复内容超过 " + std::to_string(x.request.maxBodyBytes) + " 字节的上限";
    else if (x.headerCapExceeded)
        text = "回复的协议头过长";
    else if (x.head.length.bad())
        text = x.head.length.problem();
    else if (x.idleTimedOut)
        text = step == TransportStep::Connect ? "连接服务器超时" : "等待服务器超时";
    else if (code == CURLE_UNSUPPORTED_PROTOCOL && x.head.complete && x.head.status / 100 == 3)
        text = refusedRedirectText(headerValue(x.head.lines, "Location"), "请求");
    else
        return transferFailure(x.handle, code, x.head.complete, proxy, host, detail);
    if (!host.empty())
        text += "（" + host + "）";
    Error error = makeError(std::move(text), int(step));
    if (step != TransportStep::Cancelled)
        error.detail = detail && *detail ? detail : curl_easy_strerror(code);
    error.kind = step == TransportStep::Cancelled ? FailureKind::Cancelled
                 : x.idleTimedOut                 ? FailureKind::Network
                                                  : FailureKind::Other;
    return error;
}

// Runs the transfer until it ends or a stop is requested. A requested stop wakes the wait for
// the network at once, so a hung server cannot hold a cancelled exchange.
CURLcode run(CURL* h, const std::stop_token& stop, bool& cancelled) {
    CurlMulti multi = makeCurlMulti();
    CURLM* m = multi.get();
    if (curl_multi_add_handle(m, h) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode code = CURLE_OK;
    {
        std::stop_callback wake(stop, [m] { curl_multi_wakeup(m); });
        for (int running = 1;;) {
            if (stop.stop_requested()) {
                cancelled = true;
                code = CURLE_ABORTED_BY_CALLBACK;
                break;
            }
            if (curl_multi_perform(m, &running) != CURLM_OK) {
                code = CURLE_FAILED_INIT;
                break;
            }
            if (running == 0) {
                int queued = 0;
                CURLMsg* message = curl_multi_info_read(m, &queued);
                code = message && message->msg == CURLMSG_DONE ? message->data.result
                                                               : CURLE_FAILED_INIT;
                break;
            }
            if (curl_multi_poll(m, nullptr, 0, 1000, nullptr) != CURLM_OK) {
                code = CURLE_FAILED_INIT;
                break;
            }
        }
    }
    curl_multi_remove_handle(m, h);
    return code;
}

// curl takes "Name:" as "do not send Name"; an empty value is written "Name;".
std::string curlLine(const HeaderField& field) {
    return field.value.empty() ? field.name + ";" : field.name + ": " + field.value;
}

bool httpSupported() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (!info || !info->protocols)
        return false;
    for (const char* const* p = info->protocols; *p; ++p)
        if (std::strcmp(*p, "http") == 0)
            return true;
    return false;
}

Result<TransportResponse> performChecked(const TransportRequest& request) {
    CurlEasy easy = makeCurlEasy();
    CURL* h = easy.get();
    TransportResponse response;
    TransferState x(request, response, h);

    CurlHeaderList headers;
    bool hasContentType = false;
    bool hasAcceptEncoding = false;
    for (const std::string& line : request.headerLines) {
        for (const HeaderField& field : readHeaderBlock(line)) {
            if (equalsIgnoreCase(field.name, "Content-Length") ||
                equalsIgnoreCase(field.name, "Transfer-Encoding"))
                continue;
            hasContentType = hasContentType || equalsIgnoreCase(field.name, "Content-Type");
            hasAcceptEncoding =
                hasAcceptEncoding || equalsIgnoreCase(field.name, "Accept-Encoding");
            headers.append(curlLine(field));
        }
    }
    bool sendsBody = !request.body.empty() || request.method == HttpMethod::Post ||
                     request.method == HttpMethod::Put;
    if (sendsBody) {
        headers.append("Expect:");
        if (!hasContentType)
            headers.append("Content-Type:");
    }
    CurlHeaderList proxyHeaders;
    for (const std::string& line : request.proxyHeaderLines)
        for (const HeaderField& field : readHeaderBlock(line))
            proxyHeaders.append(curlLine(field));

    char errorText[CURL_ERROR_SIZE] = {};
    HandleOptions options;
    options.url = request.url;
    options.timeouts = request.timeouts;
    options.followRedirects = request.followRedirects;
    options.maxRedirects = request.maxRedirects;
    options.verifyTls = request.verifyTls;
    options.errorText = errorText;
    if (!request.proxy.empty())
        options.proxy = request.proxy;
    options.headers = headers.get();
    options.proxyHeaders = proxyHeaders.get();
    options.method = request.method;
    if (sendsBody)
        options.body = request.body;
    options.decode = hasAcceptEncoding;
    options.onHeader = onHeader;
    options.headerData = &x;
    options.onBody = onBody;
    options.bodyData = &x;
    options.onProgress = onProgress;
    options.progressData = &x;
    auto proxy = prepareHandle(h, options);
    if (!proxy)
        return makeError(proxy.error().message, FailureKind::Proxy, int(TransportStep::Connect));

    bool cancelled = false;
    CURLcode code = run(h, request.stop, cancelled);
    if (code != CURLE_OK) {
        TransportStep step = cancelled ? TransportStep::Cancelled : stepOf(code, x);
        return describe(step, code, x, errorText, *proxy);
    }

    if (!x.head.complete) {
        return makeError(std::string(kUnendedHeadText), FailureKind::Network,
                         int(TransportStep::Response));
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    // Only a proxy asks for proxy credentials: the reply is its refusal, not the site's answer.
    if (status == 407 && !proxy->empty() && request.proxy.empty())
        return makeError(proxyRefusedText(*proxy), FailureKind::Proxy, int(TransportStep::Connect));
    response.status = static_cast<int>(status);
    response.statusLine = std::move(x.head.statusLine);
    response.headers = std::move(x.head.lines);
    char* finalUrl = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &finalUrl) == CURLE_OK && finalUrl)
        response.url = finalUrl;
    return response;
}

} // namespace

TransportStep failedStep(int curlCode, bool connected, bool headComplete) {
    const TransportStep awaiting = headComplete ? TransportStep::Body : TransportStep::Response;
    switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OUT_OF_MEMORY:
        // Once connected, what libcurl refuses to hold is a header line beyond its limit.
        return connected ? TransportStep::Response : TransportStep::Setup;
    case CURLE_FAILED_INIT:
        return TransportStep::Setup;
    case CURLE_URL_MALFORMAT:
        return TransportStep::Address;
    case CURLE_UNSUPPORTED_PROTOCOL:
        // Also what a reply without a status line (HTTP/0.9) gives once connected.
        return connected ? awaiting : TransportStep::Address;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return TransportStep::Connect;
    case CURLE_SEND_ERROR:
    case CURLE_READ_ERROR:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return TransportStep::Send;
    case CURLE_GOT_NOTHING:
    case CURLE_TOO_MANY_REDIRECTS:
        return TransportStep::Response;
    case CURLE_PARTIAL_FILE:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_WRITE_ERROR:
        return TransportStep::Body;
    case CURLE_OPERATION_TIMEDOUT:
    default:
        return connected ? awaiting : TransportStep::Connect;
    }
}

std::string failureMessage(TransportStep step, int curlCode) {
    const auto code = static_cast<CURLcode>(curlCode);
    std::string text;
    if (code == CURLE_OPERATION_TIMEDOUT) {
        text = step == TransportStep::Connect ? "连接服务器超时" : "等待服务器超时";
    } else if (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE) {
        text = "服务器证书验证失败";
    } else if (code == CURLE_BAD_CONTENT_ENCODING) {
        text = "无法解码服务器发送的压缩内容";
    } else if (code == CURLE_TOO_MANY_REDIRECTS) {
        text = "服务器的重定向次数过多（可能是重定向循环）";
    } else if (code == CURLE_OUT_OF_MEMORY && step == TransportStep::Response) {
        text = "服务器回复的协议头过长";
    } else {
        switch (step) {
        case TransportStep::Platform:
        case TransportStep::Setup:
            text = "无法创建网络请求";
            break;
        case TransportStep::Address:
            text = "网址无法解析或不是 http/https 地址";
            break;
        case TransportStep::Connect:
            text = "无法连接到服务器";
            break;
        case TransportStep::Send:
            text = "发送请求失败";
            break;
        case TransportStep::Response:
            text = "服务器未响应";
            break;
        case TransportStep::Body:
            text = "读取数据失败";
            break;
        case TransportStep::Cancelled:
            text = "请求已取消";
            break;
        }
    }
    return text;
}

std::string failureText(TransportStep step, int curlCode, const char* detail) {
    return failureMessage(step, curlCode) + " (" +
           (detail && *detail ? detail : curl_easy_strerror(static_cast<CURLcode>(curlCode))) + ")";
}

Result<TransportResponse> perform(const TransportRequest& request) {
    ensureCurlGlobal();
    static const bool supported = httpSupported();
    if (!supported)
        return makeError("网络库不支持 HTTP", int(TransportStep::Platform));
    try {
        return performChecked(request);
    } catch (const std::bad_alloc&) {
        return makeError("内存不足, 无法创建网络请求", int(TransportStep::Setup));
    }
}

} // namespace vantorel::net

#include "net/Exchange.h"

#include "common/TextEncoding.h"
#include "net/Base64.h"
#include "net/Cookies.h"
#include "net/HeaderBlock.h"
#include "net/HttpAddress.h"

namespace vantorel::net {
namespace {

bool anyNegative(const Timeouts& t) {
    return t.resolve.count() < 0 || t.connect.count() < 0 || t.send.count() < 0 ||
           t.receive.count() < 0 || t.total.count() < 0;
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

std::string FetchReply::header(std::string_view name) const {
    return headerValue(headers, name);
}

Result<std::string> basicProxyCredential(std::string_view user, std::string_view password) {
    std::string plain = std::string(user) + ":" + std::string(password);
    auto gbk = utf8ToGbk(plain);
    if (!gbk)
        return makeError("代理用户名或密码含有无法用 GBK 表示的字符: " + gbk.error().message);
    return "Basic " + base64Encode(*gbk);
}

namespace detail {

Result<FetchReply> runExchange(const FetchRequest& request, std::string_view completedBlock,
                               bool followRedirects, std::string proxyUrl) {
    // Checked first: the address also stands in the Referer line of the block. An address
    // without its scheme is refused rather than guessed at.
    if (!isHttpAddress(request.url))
        return makeError("网址无法解析或不是 http/https 地址: " + request.url,
                         FailureKind::BadAddress, int(TransportStep::Address));
    if (anyNegative(request.timeouts))
        return makeError("超时时间不能为负数", int(PreparationFailure::Timeout));
    auto fields = parseHeaderBlock(completedBlock);
    if (!fields)
        return makeError(fields.error().message, int(PreparationFailure::HeaderLine));
    if (hasLineBreak(request.cookie))
        return makeError("Cookie 文本不能含有换行", int(PreparationFailure::HeaderLine));

    TransportRequest out;
    out.method = request.method;
    out.url = request.url;
    out.body = request.body;
    out.proxy = std::move(proxyUrl);
    out.timeouts = request.timeouts;
    out.stop = request.stop;
    out.followRedirects = followRedirects;
    out.verifyTls = request.verifyTls;
    out.maxBodyBytes = request.maxBodyBytes;

    // One Cookie line: a Cookie header of the block, updated by the cookie text, in the place of
    // the block's line, or after the block's lines when the block has none.
    std::string cookieLine = request.cookie;
    bool cookieFromBlock = false;
    for (const HeaderField& field : *fields) {
        if (equalsIgnoreCase(field.name, "Cookie")) {
            if (!cookieFromBlock)
                cookieLine = mergeCookies(field.value, request.cookie);
            cookieFromBlock = true;
        }
    }
    bool cookieWritten = false;
    for (const HeaderField& field : *fields) {
        if (equalsIgnoreCase(field.name, "Cookie")) {
            if (!cookieWritten && !cookieLine.empty())
                out.headerLines.push_back("Cookie: " + cookieLine);
            cookieWritten = true;
            continue;
        }
        out.headerLines.push_back(field.name + ": " + field.value);
    }
    if (!cookieWritten && !cookieLine.empty())
        out.headerLines.push_back("Cookie: " + cookieLine);

    if (!out.proxy.empty() && (!request.proxyUser.empty() || !request.proxyPassword.empty())) {
        auto credential = basicProxyCredential(request.proxyUser, request.proxyPassword);
        if (!credential)
            return makeError(credential.error().message, int(PreparationFailure::Credential));
        out.proxyHeaderLines.push_back("Proxy-Authorization: " + *credential);
    }

    auto done = perform(out);
    if (!done)
        return done.error();
    TransportResponse& response = *done;
    FetchReply reply;
    reply.status = response.status;
    reply.statusLine = std::move(response.statusLine);
    reply.headers = std::move(response.headers);
    reply.body = std::move(response.body);
    reply.url = std::move(response.url);
    reply.cookies = mergeCookies(cookieLine, collectSetCookies(response.setCookieLines));
    return reply;
}

} // namespace detail

} // namespace vantorel::net

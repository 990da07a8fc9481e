#include "net/DirectSessionClient.h"

#include "common/TextEncoding.h"
#include "net/HeaderBlock.h"
#include "script/RegexObject.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace vantorel::net {
namespace {

// Stored lines, each ended by "\r\n" as the session's header call takes them.
constexpr std::string_view kUserAgent =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n";
constexpr std::string_view kAccept = "Accept: text/html, application/xhtml+xml, */*\r\n";
constexpr std::string_view kAcceptEncoding = "Accept-Encoding: gbk, GB2312\r\n";
constexpr std::string_view kAcceptLanguage = "Accept-Language: zh-cn\r\n";
constexpr std::string_view kContentType = "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr std::string_view kCacheControl = "Cache-Control: no-cache\r\n";

constexpr std::string_view kCharsetPattern = R"(<meta.+?charset=[^\w]?([-\w]+))";
constexpr std::string_view kGbk = "gbk";
constexpr std::string_view kGb2312 = "gb2312";

Error failure(int code) {
    auto entry = sessionError(code);
    return makeError(std::string(entry->message), entry->code);
}

int codeOf(const Error& error) {
    switch (error.code) {
    case int(detail::PreparationFailure::Timeout):
        return 705;
    case int(detail::PreparationFailure::Credential):
        return 707;
    case int(detail::PreparationFailure::HeaderLine):
        return 710;
    case int(TransportStep::Platform):
        return 700;
    case int(TransportStep::Setup):
        return 702;
    case int(TransportStep::Address):
        return 701;
    case int(TransportStep::Connect):
        return 703;
    case int(TransportStep::Send):
        return 711;
    case int(TransportStep::Response):
        return 712;
    default:
        return 713;
    }
}

// The charset parameter of a Content-Type value; empty if none.
std::string contentTypeCharset(std::string_view contentType) {
    std::string lowered(contentType);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    std::size_t at = lowered.find("charset=");
    if (at == std::string::npos)
        return {};
    std::string_view rest = std::string_view(contentType).substr(at + 8);
    if (!rest.empty() && (rest.front() == '"' || rest.front() == '\''))
        rest.remove_prefix(1);
    std::size_t end = rest.find_first_of("\"'; \t");
    return std::string(rest.substr(0, end));
}

} // namespace

std::optional<SessionError> sessionError(int code) {
    for (const SessionError& entry : kSessionErrors)
        if (entry.code == code)
            return entry;
    return std::nullopt;
}

std::string DirectSessionClient::completeHeaders(std::string_view callerBlock, bool hasBody) {
    std::vector<DefaultHeader> defaults = {
        {"User-Agent: ", std::string(kUserAgent)},
        {"Accept: ", std::string(kAccept)},
        {"Accept-Encoding: ", std::string(kAcceptEncoding)},
        {"Accept-Language: ", std::string(kAcceptLanguage)},
    };
    if (hasBody)
        defaults.push_back({"Content-Type: ", std::string(kContentType)});
    defaults.push_back({"Cache-Control: ", std::string(kCacheControl)});
    return completeHeaderBlock(callerBlock, defaults);
}

Result<FetchReply> DirectSessionClient::fetch(const FetchRequest& request) const {
    std::string block = completeHeaders(request.headers, !request.body.empty());
    auto reply = detail::runExchange(
        request, block, request.followRedirects.value_or(kFollowRedirectsByDefault), request.proxy);
    if (!reply) {
        // The numbered message is the client's; what the exchange said stays as the detail.
        Error numbered = failure(codeOf(reply.error()));
        numbered.detail = messageWithDetail(reply.error());
        numbered.kind = reply.error().kind;
        return numbered;
    }
    return reply;
}

std::string DirectSessionClient::declaredCharset(const FetchReply& reply) {
    std::string fromHeader = contentTypeCharset(reply.header("Content-Type"));
    if (!fromHeader.empty())
        return fromHeader;
    script::RegexObject pattern;
    if (!pattern.create(kCharsetPattern, true) || pattern.execute(reply.body) == 0)
        return {};
    return pattern.submatch_text(0, 1);
}

Result<std::string> DirectSessionClient::text(const FetchReply& reply) {
    std::string charset = declaredCharset(reply);
    if (equalsIgnoreCase(charset, kGbk) || equalsIgnoreCase(charset, kGb2312))
        return gbkToUtf8(reply.body);
    if (charset.empty()) {
        if (isValidUtf8(reply.body))
            return reply.body;
        return gbkToUtf8(reply.body);
    }
    if (equalsIgnoreCase(charset, "utf-8") || equalsIgnoreCase(charset, "utf8")) {
        if (isValidUtf8(reply.body))
            return reply.body;
        return makeError("回复声明为 UTF-8, 但内容不是有效的 UTF-8");
    }
    return convertCharset(reply.body, charset, "UTF-8");
}

} // namespace vantorel::net

#include "download/ShareLink.h"

#include "net/UrlEncoding.h"

#include "common/Config.h"
#include "common/Text.h"
#include "net/DirectSessionClient.h"
#include "net/HeaderBlock.h"
#include "net/HttpAddress.h"
#include "script/JsonObject.h"
#include "script/RegexObject.h"

#include <optional>
#include <random>

namespace vantorel::download {
namespace {

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = asciiLower(c);
    return out;
}

Error addressError() {
    return makeError(std::string(kAddressErrorText), FailureKind::BadAddress);
}

ShareResolution stepFailure(ShareStep step) {
    return {addressError(), step};
}

// A step whose request failed: what failed (a proxy that refused, a server that cannot be
// reached) is the detail, so the user is not left guessing at the share service.
template <class T> ShareResolution stepFailure(ShareStep step, const Result<T>& fetched) {
    Error error = addressError();
    if (!fetched)
        error.detail = messageWithDetail(fetched.error());
    return {std::move(error), step};
}

bool cancelled(const ShareLinkOptions& options) {
    return options.stop.stop_requested();
}

net::FetchRequest makeRequest(std::string url, std::string headers,
                              const ShareLinkOptions& options) {
    net::FetchRequest request;
    request.url = std::move(url);
    request.headers = std::move(headers);
    request.timeouts = options.timeouts;
    request.maxBodyBytes = 4u << 20;
    request.stop = options.stop;
    return request;
}

// One page of the share service, as text; an error when it did not arrive whole with status 200.
Result<std::string> fetchText(const net::FetchRequest& request) {
    auto reply = net::DirectSessionClient().fetch(request);
    if (!reply)
        return reply.error();
    if (reply->status != 200)
        return makeError("服务器返回 " + std::to_string(reply->status));
    auto text = net::DirectSessionClient::text(*reply);
    if (!text)
        return text.error();
    return std::move(*text);
}

std::string randomDigits(std::size_t count) {
    std::random_device device;
    std::uniform_int_distribution<int> digit(0, 9);
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out.push_back(static_cast<char>('0' + digit(device)));
    return out;
}

} // namespace

std::string_view shareStepName(ShareStep step) {
    switch (step) {
    case ShareStep::None:
        break;
    case ShareStep::Link:
        return "不是分享链接";
    case ShareStep::SharePage:
        return "分享页面无法读取或没有下载框架";
    case ShareStep::FramePage:
        return "框架页面无法读取或没有请求参数";
    case ShareStep::Ajax:
        return "文件地址接口没有回复";
    case ShareStep::Reply:
        return "文件地址接口的回复无效";
    case ShareStep::NotHttp:
        return "不是 http(s) 地址";
    }
    return "";
}

std::optional<ShareAddress> parseShareLink(std::string_view address) {
    if (!net::isHttpAddress(address))
        return std::nullopt;
    std::string_view rest = address.substr(net::httpSchemeLength(address));
    std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    // The host followed by "/": no user part, no port, nothing but the host itself.
    std::string host = lowerAscii(rest.substr(0, slash));
    for (const std::string& shareHost : config::shareHosts()) {
        if (host == lowerAscii(shareHost))
            return ShareAddress{host, std::string(rest.substr(slash))};
    }
    return std::nullopt;
}

bool isShareLink(std::string_view address) {
    return parseShareLink(address).has_value();
}

ShareResolution resolveShareLink(std::string_view link, const ShareLinkOptions& options) {
    auto share = parseShareLink(link);
    if (!share)
        return stepFailure(ShareStep::Link);
    const std::string base = config::shareBase(share->host);
    const std::string userAgent = "User-Agent: " + std::string(kShareUserAgent);

    // Step 2: the share page and its download frame.
    const std::string sharePage = base + share->path;
    auto page = fetchText(makeRequest(sharePage, userAgent, options));
    if (!page || cancelled(options))
        return stepFailure(ShareStep::SharePage, page);
    script::RegexObject frame;
    if (!frame.create(kFramePattern) || frame.execute(*page) == 0)
        return stepFailure(ShareStep::SharePage);
    const std::string framePath = frame.submatch_text(0, 2);
    if (!framePath.starts_with("/") || framePath.starts_with("//") ||
        !net::isHttpAddress(base + framePath))
        return stepFailure(ShareStep::SharePage);

    // Step 3: the frame page and its four request values.
    const std::string framePage = base + framePath;
    auto frameText = fetchText(makeRequest(framePage, userAgent, options));
    if (!frameText || cancelled(options))
        return stepFailure(ShareStep::FramePage, frameText);
    script::RegexObject parameters;
    if (!parameters.create(kParameterPattern) || parameters.execute(*frameText) == 0)
        return stepFailure(ShareStep::FramePage);
    const std::string action = net::percentEncode(parameters.submatch_text(0, 1));
    const std::string fileId = net::percentEncode(parameters.submatch_text(0, 2));
    const std::string sign = net::percentEncode(parameters.submatch_text(0, 3));
    const std::string key = net::percentEncode(parameters.submatch_text(0, 4));

    // Step 4: ask the endpoint where the file lies.
    const std::string referer = "Referer: " + framePage;
    net::FetchRequest form =
        makeRequest(base + "/ajaxm.php", userAgent + "\r\n" + referer, options);
    form.method = net::HttpMethod::Post;
    form.body = "action=" + action + "&t=" + sign + "&k=" + key;
    auto reply = net::DirectSessionClient().fetch(form);
    if (reply && reply->status == 404 && !cancelled(options)) {
        const std::string query = base + "/ajaxs.php?action=" + action + "&file_id=" + fileId +
                                  "&cm=640|21&t=0." + randomDigits(16);
        reply = net::DirectSessionClient().fetch(
            makeRequest(query, userAgent + "\r\n" + referer, options));
    }
    if (!reply || reply->status != 200 || cancelled(options))
        return stepFailure(ShareStep::Ajax, reply);

    // Step 5: the file's place from the JSON reply.
    auto replyText = net::DirectSessionClient::text(*reply);
    script::JsonObject json;
    if (!replyText || !json.parse(*replyText))
        return stepFailure(ShareStep::Reply);
    if (json.type_of("dom") != script::JsonType::Text ||
        json.type_of("url") != script::JsonType::Text)
        return stepFailure(ShareStep::Reply);
    const std::string dom = json.get_text("dom");
    const std::string url = json.get_text("url");
    if (dom.empty() || url.empty())
        return stepFailure(ShareStep::Reply);
    std::string direct = dom + "/file/" + url;
    if (!net::isHttpAddress(direct) || direct == sharePage || direct == framePage ||
        direct == std::string(link))
        return stepFailure(ShareStep::Reply);
    return direct;
}

ShareResolution downloadAddressFor(std::string_view address, const ShareLinkOptions& options) {
    if (isShareLink(address))
        return resolveShareLink(address, options);
    if (net::isHttpAddress(address))
        return std::string(address);
    return stepFailure(ShareStep::NotHttp);
}

} // namespace vantorel::download

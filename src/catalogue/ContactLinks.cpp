#include "catalogue/ContactLinks.h"

#include "net/HttpAddress.h"
#include "net/RequestObjectClient.h"

#include <algorithm>

namespace vantorel::catalogue {

bool isContactNumber(std::string_view number) {
    return !number.empty() && number.size() <= 20 &&
           std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

Result<std::string> chatLink(std::string_view number) {
    if (!isContactNumber(number))
        return makeError(std::string(kChatNotSetMessage));
    return std::string(kChatLinkPrefix) + std::string(number);
}

bool isChatLink(std::string_view address) {
    return address.starts_with(kChatLinkPrefix) &&
           isContactNumber(address.substr(kChatLinkPrefix.size()));
}

Result<std::string> groupLinkRequestAddress(std::string_view groupLinkBase,
                                            std::string_view number) {
    if (groupLinkBase.empty() || !isContactNumber(number))
        return makeError(std::string(kGroupNotSetMessage));
    return std::string(groupLinkBase) + "/qun/api/?guin=" + std::string(number) + "&type=1";
}

std::optional<std::string> locationFromHeaders(std::string_view headerBlock) {
    constexpr std::string_view kName = "location: ";
    for (std::size_t lineStart = 0; lineStart < headerBlock.size();) {
        std::size_t lineEnd = headerBlock.find("\r\n", lineStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = headerBlock.size();
        const std::string_view line = headerBlock.substr(lineStart, lineEnd - lineStart);
        if (line.size() >= kName.size() &&
            std::equal(kName.begin(), kName.end(), line.begin(), [](char a, char b) {
                return a == ((b >= 'A' && b <= 'Z') ? char(b - 'A' + 'a') : b);
            }))
            return std::string(line.substr(kName.size()));
        lineStart = lineEnd + 2;
    }
    return std::nullopt;
}

Result<std::string> fetchGroupLink(std::string_view groupLinkBase, std::string_view number,
                                   std::stop_token stop) {
    auto address = groupLinkRequestAddress(groupLinkBase, number);
    if (!address)
        return address.error();
    net::FetchRequest request;
    request.url = *address;
    request.followRedirects = false;
    request.timeouts = net::deadlines::kGroupLink;
    request.stop = std::move(stop);
    auto reply = net::RequestObjectClient().fetch(request);
    if (!reply)
        return withMessage(reply.error(), "无法连接群链接服务：" + reply.error().message);
    // The client's block has no status line; the search looks at the header lines only.
    auto location = locationFromHeaders(reply->headers);
    if (!location || location->empty())
        return makeError(std::string(kNoLocationMessage));
    if (!net::isHttpAddress(*location))
        return makeError(std::string(kBadGroupLinkMessage));
    return std::move(*location);
}

} // namespace vantorel::catalogue

#pragma once
// The contact pictures' links: the chat link handed to the chat client, and the group link that
// a redirect service hands out in its "Location: " header.

#include "common/Result.h"

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace vantorel::catalogue {

inline constexpr std::string_view kChatLinkPrefix = "tencent://message/?uin=";

inline constexpr std::string_view kChatNotSetMessage = "未设置聊天QQ号码";
inline constexpr std::string_view kGroupNotSetMessage = "未设置QQ群号或群链接服务";
inline constexpr std::string_view kNoLocationMessage = "群链接服务没有返回跳转地址";
inline constexpr std::string_view kBadGroupLinkMessage =
    "群链接服务返回的地址不是网页地址，已拒绝打开";

// A contact number is decimal digits only: anything else could smuggle more into the link.
bool isContactNumber(std::string_view number);

// "tencent://message/?uin=" + number; an error when the number is not set or not a number.
Result<std::string> chatLink(std::string_view number);

// True for a chat link as chatLink makes it: the prefix followed by digits only.
bool isChatLink(std::string_view address);

// groupLinkBase + "/qun/api/?guin=" + number + "&type=1"; an error when either is not set.
Result<std::string> groupLinkRequestAddress(std::string_view groupLinkBase,
                                            std::string_view number);

// The value of the first header line that starts "Location: " (name in any case, as HTTP/2
// servers send it in lower case): the text after it up to the next "\r\n", or to the end of the
// block. A header that merely ends in "Location" ("X-Location: ") is not it. None when absent.
std::optional<std::string> locationFromHeaders(std::string_view headerBlock);

// Asks the group-link service with redirects off and returns the address it redirects to. Only
// an http(s) address is returned: anything else would be handed to the desktop unchecked.
// Blocks (net::deadlines::kGroupLink, or until `stop`): callers run it on a worker.
Result<std::string> fetchGroupLink(std::string_view groupLinkBase, std::string_view number,
                                   std::stop_token stop = {});

} // namespace vantorel::catalogue

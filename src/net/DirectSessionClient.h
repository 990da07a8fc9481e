#pragma once
// The direct session client: one exchange reported step by step. Each step that can fail has a
// numbered message (SessionError); a failed exchange gives the Error {code, message} of its
// step, e.g. {711, "711 发送请求失败!"}. There is no code 706.
//
// Default lines, added where the caller's block lacks the header:
//   User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)
//   Accept: text/html, application/xhtml+xml, */*
//   Accept-Encoding: gbk, GB2312
//   Accept-Language: zh-cn
//   Content-Type: application/x-www-form-urlencoded     (only when the request carries a body)
//   Cache-Control: no-cache
// Cookies travel only in the request's "Cookie: " line; nothing is kept between exchanges.
// Redirects are followed unless the caller says otherwise. Proxy credentials use Basic.
//
// How the steps map here:
//   700 the HTTP library lacks http            707 the proxy credential cannot be formed
//   701 the address cannot be parsed or is      710 a header line of the caller is malformed
//       not http/https                          711 sending failed (TLS handshake included)
//   702 no handle or no memory                  712 no reply, or a time-out awaiting it
//   703 name resolution or connection failed    713 the body broke off, failed to decode,
//   705 a time-out is negative                      timed out or exceeded the size cap
// 704, 708 and 709 have no way to fail here.

#include "common/Result.h"
#include "net/Exchange.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace vantorel::net {

struct SessionError {
    int code;
    std::string_view message;
};

inline constexpr std::array<SessionError, 13> kSessionErrors = {{
    {700, "700 当前系统不支持WinHttp服务!"},
    {701, "701 解析URL地址失败!"},
    {702, "702 创建WinHttp会话失败!"},
    {703, "703 创建WinHttp连接失败!"},
    {704, "704 创建WinHttp请求失败!"},
    {705, "705 设置超时时间失败!"},
    {707, "707 设置代理凭证失败!"},
    {708, "708 禁止自动设置Cookies失败!"},
    {709, "709 重定向设置失败!"},
    {710, "710 设置协议头失败!"},
    {711, "711 发送请求失败!"},
    {712, "712 服务器未响应!"},
    {713, "713 读取数据失败!"},
}};

// The entry for `code`; none for a code outside the table (706 among them).
std::optional<SessionError> sessionError(int code);

class DirectSessionClient {
  public:
    static constexpr bool kFollowRedirectsByDefault = true;

    // The caller's block completed with the defaults, as it goes out (before the cookie line).
    static std::string completeHeaders(std::string_view callerBlock, bool hasBody);

    Result<FetchReply> fetch(const FetchRequest& request) const;

    // The charset the reply declares: the Content-Type header's charset, else the one the
    // pattern "<meta.+?charset=[^\w]?([-\w]+)" finds in the body; empty when neither does.
    static std::string declaredCharset(const FetchReply& reply);

    // The body as the program's text (UTF-8). A body declared "gbk" or "gb2312" is read as GBK,
    // one declared otherwise in that charset (UTF-8 kept as it is); an undeclared body is taken
    // as UTF-8 when it is valid UTF-8, else as GBK. Bytes that are not valid in the charset are
    // an error, never silently altered text.
    static Result<std::string> text(const FetchReply& reply);
};

} // namespace vantorel::net

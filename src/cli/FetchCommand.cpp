// vantorel-cli fetch: one exchange through one of the three HTTP clients; the body goes to
// stdout, with --include after the status line and the response header block.

#include "cli/Commands.h"
#include "net/DirectSessionClient.h"
#include "net/InternetSessionClient.h"
#include "net/RequestObjectClient.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>

namespace vantorel::cli {
namespace {

enum class ClientKind { Object, Session, Internet };

int usage(const std::string& problem) {
    return usageError("fetch", problem);
}

bool writeAll(std::string_view bytes) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
}

} // namespace

int runFetch(Args args) {
    net::FetchRequest request;
    ClientKind client = ClientKind::Object;
    std::optional<net::HttpMethod> method;
    bool include = false;
    bool haveUrl = false;
    bool haveProxyCredential = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        if (arg == "--include") {
            include = true;
        } else if (arg == "--no-redirect") {
            request.followRedirects = false;
        } else if (arg == "--client" || arg == "-X" || arg == "-H" || arg == "--data" ||
                   arg == "--cookie" || arg == "--proxy" || arg == "--proxy-user" ||
                   arg == "--proxy-password" || arg == "--timeout") {
            auto v = value();
            if (!v)
                return usage("缺少 " + std::string(arg) + " 的值");
            if (arg == "--client") {
                if (*v == "object")
                    client = ClientKind::Object;
                else if (*v == "session")
                    client = ClientKind::Session;
                else if (*v == "internet")
                    client = ClientKind::Internet;
                else
                    return usage("未知的客户端: " + std::string(*v));
            } else if (arg == "-X") {
                std::string upper(*v);
                std::transform(upper.begin(), upper.end(), upper.begin(),
                               [](unsigned char c) { return char(std::toupper(c)); });
                method = net::methodFromName(upper);
                if (!method)
                    return usage("未知的请求方法: " + std::string(*v));
            } else if (arg == "-H") {
                if (!request.headers.empty())
                    request.headers += "\r\n";
                request.headers += *v;
            } else if (arg == "--data") {
                request.body = std::string(*v);
            } else if (arg == "--cookie") {
                request.cookie = std::string(*v);
            } else if (arg == "--proxy") {
                request.proxy = std::string(*v);
            } else if (arg == "--proxy-user") {
                request.proxyUser = std::string(*v);
                haveProxyCredential = true;
            } else if (arg == "--proxy-password") {
                request.proxyPassword = std::string(*v);
                haveProxyCredential = true;
            } else {
                long long ms = 0;
                auto [ptr, ec] = std::from_chars(v->data(), v->data() + v->size(), ms);
                if (ec != std::errc() || ptr != v->data() + v->size() || ms <= 0)
                    return usage("超时时间应为正整数毫秒: " + std::string(*v));
                // The whole exchange, header block included: a server trickling its header
                // lines keeps every idle limit satisfied.
                std::chrono::milliseconds limit(ms);
                request.timeouts.connect = limit;
                request.timeouts.send = limit;
                request.timeouts.receive = limit;
                request.timeouts.total = limit;
            }
        } else if (!arg.empty() && arg.front() == '-') {
            return usage("未知选项: " + std::string(arg));
        } else if (!haveUrl) {
            request.url = std::string(arg);
            haveUrl = true;
        } else {
            return usage("多余的参数: " + std::string(arg));
        }
    }
    if (!haveUrl)
        return usage("缺少网址");
    if (haveProxyCredential && request.proxy.empty())
        return usage("--proxy-user 和 --proxy-password 需要与 --proxy 一起使用");
    // Like a form submission: data without a method is posted.
    request.method =
        method.value_or(request.body.empty() ? net::HttpMethod::Get : net::HttpMethod::Post);

    Result<net::FetchReply> reply = [&]() -> Result<net::FetchReply> {
        switch (client) {
        case ClientKind::Session:
            return net::DirectSessionClient().fetch(request);
        case ClientKind::Internet:
            return net::InternetSessionClient().fetch(request);
        case ClientKind::Object:
            break;
        }
        return net::RequestObjectClient().fetch(request);
    }();
    if (!reply) {
        // The session client's numbered message stands alone, as its callers know it; the
        // others add what the network library said.
        const std::string text = client == ClientKind::Session ? reply.error().message
                                                               : messageWithDetail(reply.error());
        std::fprintf(stderr, "%s\n", text.c_str());
        return 1;
    }
    bool written = true;
    if (include) {
        std::string head = reply->statusLine + "\r\n";
        if (!reply->headers.empty())
            head += reply->headers + "\r\n";
        head += "\r\n";
        written = writeAll(head);
    }
    written = written && writeAll(reply->body) && std::fflush(stdout) == 0;
    if (!written) {
        std::fprintf(stderr, "无法写出回复内容\n");
        return 1;
    }
    return 0;
}

} // namespace vantorel::cli

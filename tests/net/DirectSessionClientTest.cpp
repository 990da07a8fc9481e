#include "net/DirectSessionClient.h"

#include "LoopbackHelpers.h"
#include "demo/HttpServer.h"
#include "net/Base64.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace vantorel;
using namespace std::chrono_literals;
using demo::HttpRequest;
using demo::HttpResponse;
using net::FetchRequest;
using net::HttpMethod;
using vantorel::testing::HeaderPairs;
using vantorel::testing::requestFor;
using vantorel::testing::withoutHost;

namespace {

// Fetches and expects the numbered failure `code`, with its message exactly.
void expectFailure(const FetchRequest& request, int code, std::string_view message) {
    auto reply = net::DirectSessionClient().fetch(request);
    ASSERT_FALSE(reply) << request.url << " gave status " << reply->status;
    EXPECT_EQ(reply.error().code, code) << reply.error().message;
    EXPECT_EQ(reply.error().message, message);
}

net::FetchReply replyWith(std::string contentType, std::string body) {
    net::FetchReply reply;
    reply.status = 200;
    if (!contentType.empty())
        reply.headers = "Content-Type: " + contentType;
    reply.body = std::move(body);
    return reply;
}

} // namespace

TEST(DirectSessionClient, SendsItsDefaultLinesExactlyAndInOrder) {
    demo::HttpServer server([](const HttpRequest&) { return HttpResponse::text("ok"); });
    auto reply = net::DirectSessionClient().fetch(requestFor(server.base() + "/a"));
    ASSERT_TRUE(reply) << reply.error().message;
    EXPECT_EQ(reply->body, "ok");
    const HeaderPairs defaults = {
        {"User-Agent", "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)"},
        {"Accept", "text/html, application/xhtml+xml, */*"},
        {"Accept-Encoding", "gbk, GB2312"},
        {"Accept-Language", "zh-cn"},
        {"Cache-Control", "no-cache"}};
    EXPECT_EQ(withoutHost(server.requests().at(0)), defaults);

    // With a body the Content-Type line takes its place before Cache-Control; a caller's
    // Accept replaces the default whatever its case; the cookie line follows.
    FetchRequest post = requestFor(server.base() + "/b");
    post.method = HttpMethod::Post;
    post.body = "k=v";
    post.headers = "accept: application/json\r\n";
    post.cookie = "sid=1";
    ASSERT_TRUE(net::DirectSessionClient().fetch(post));
    EXPECT_EQ(withoutHost(server.requests().at(1)),
              (HeaderPairs{{"accept", "application/json"},
                           defaults[0],
                           defaults[2],
                           defaults[3],
                           {"Content-Type", "application/x-www-form-urlencoded"},
                           defaults[4],
                           {"Cookie", "sid=1"},
                           {"Content-Length", "3"}}));
}

TEST(DirectSessionClient, ReportsEachStepThatFailsWithItsNumberedMessage) {
    expectFailure(requestFor("no scheme at all"), 701, "701 解析URL地址失败!");
    expectFailure(requestFor("ftp://127.0.0.1/file"), 701, "701 解析URL地址失败!");
    expectFailure(requestFor("http://"), 701, "701 解析URL地址失败!");
    // An address without its scheme is not guessed at (here it would reach a closed port).
    std::string closed = "127.0.0.1:" + std::to_string(vantorel::testing::closedPort()) + "/";
    expectFailure(requestFor(closed), 701, "701 解析URL地址失败!");
    expectFailure(requestFor("http://a.test/\r\nX-Injected: 1"), 701, "701 解析URL地址失败!");
    expectFailure(requestFor("http://" + closed), 703, "703 创建WinHttp连接失败!");

    FetchRequest negative = requestFor("http://127.0.0.1/");
    negative.timeouts.receive = -1ms;
    expectFailure(negative, 705, "705 设置超时时间失败!");

    FetchRequest credential = requestFor("http://127.0.0.1/");
    credential.proxy = "http://127.0.0.1:1";
    credential.proxyUser = "\xF0\x9F\x98\x80";
    expectFailure(credential, 707, "707 设置代理凭证失败!");

    FetchRequest malformed = requestFor("http://127.0.0.1/");
    malformed.headers = "this line has no colon";
    expectFailure(malformed, 710, "710 设置协议头失败!");
}

TEST(DirectSessionClient, BrokenServersGive711To713) {
    demo::HttpServer server([](const HttpRequest& r) {
        HttpResponse response = HttpResponse::text(std::string(10000, 'b'));
        if (r.path == "/drop")
            response.dropWithoutReply = true;
        if (r.path == "/cut")
            response.cutAfter = 100;
        if (r.path == "/garbage")
            response.raw = std::string("\x01\x02 not http at all\r\n\r\n");
        return response;
    });
    expectFailure(requestFor(server.base() + "/drop"), 712, "712 服务器未响应!");
    expectFailure(requestFor(server.base() + "/garbage"), 712, "712 服务器未响应!");
    expectFailure(requestFor(server.base() + "/cut"), 713, "713 读取数据失败!");

    FetchRequest capped = requestFor(server.base() + "/whole");
    capped.maxBodyBytes = 9999;
    expectFailure(capped, 713, "713 读取数据失败!");

    // The server refuses a request body above its limit and closes while it is being sent.
    FetchRequest huge = requestFor(server.base() + "/upload");
    huge.method = HttpMethod::Post;
    huge.body.assign((64u << 20) + 1, 'u');
    expectFailure(huge, 711, "711 发送请求失败!");
}

TEST(DirectSessionClient, HonoursTheReceiveTimeOut) {
    demo::HttpServer server([](const HttpRequest& r) {
        HttpResponse response = HttpResponse::text(std::string(2000, 's'));
        if (r.path == "/late")
            response.delayBeforeHead = 2500ms;
        if (r.path == "/stall") {
            response.throttleBytes = 1000;
            response.throttleDelay = 2500ms;
        }
        return response;
    });
    FetchRequest request = requestFor(server.base() + "/late");
    request.timeouts.receive = 200ms;
    auto started = std::chrono::steady_clock::now();
    expectFailure(request, 712, "712 服务器未响应!");
    // Idle limits are checked about once a second; far less than the server's delay.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2000ms);

    // A reply that stops half-way times out while the body is read.
    request.url = server.base() + "/stall";
    expectFailure(request, 713, "713 读取数据失败!");

    // A limit the server stays within changes nothing.
    request.url = server.base() + "/quick";
    request.timeouts.receive = 5000ms;
    EXPECT_TRUE(net::DirectSessionClient().fetch(request));
}

TEST(DirectSessionClient, SessionErrorTableHasThirteenCodesWithout706) {
    EXPECT_FALSE(net::sessionError(706));
    for (const auto& entry : net::kSessionErrors) {
        EXPECT_TRUE(entry.message.starts_with(std::to_string(entry.code) + " "));
        EXPECT_TRUE(entry.message.ends_with("!"));
    }
    EXPECT_EQ(net::sessionError(713)->message, "713 读取数据失败!");
}

TEST(DirectSessionClient, FollowsOrHoldsRedirectsAndCarriesProxyCredentials) {
    demo::HttpServer server([](const HttpRequest& r) {
        if (r.path == "/go") {
            HttpResponse moved = HttpResponse::text("", "text/plain", 301);
            moved.headers.emplace_back("Location", "/there");
            return moved;
        }
        return HttpResponse::text("there via " + r.target);
    });
    auto followed = net::DirectSessionClient().fetch(requestFor(server.base() + "/go"));
    ASSERT_TRUE(followed);
    EXPECT_EQ(followed->body, "there via /there");

    FetchRequest held = requestFor(server.base() + "/go");
    held.followRedirects = false;
    auto reply = net::DirectSessionClient().fetch(held);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 301);
    EXPECT_EQ(reply->header("Location"), "/there");

    FetchRequest proxied = requestFor("http://vantorel.test/x");
    proxied.proxy = server.base();
    proxied.proxyUser = "u";
    proxied.proxyPassword = "p:w";
    auto viaProxy = net::DirectSessionClient().fetch(proxied);
    ASSERT_TRUE(viaProxy) << viaProxy.error().message;
    EXPECT_EQ(viaProxy->body, "there via http://vantorel.test/x");
    EXPECT_EQ(server.requests().back().header("Proxy-Authorization"),
              "Basic " + net::base64Encode("u:p:w"));
}

TEST(DirectSessionClient, TurnsTheBodyIntoTextByItsDeclaredCharset) {
    const std::string gbkBytes = "\xD6\xD0\xCE\xC4"; // 中文
    // Declared by a meta tag (any case), by the header, or not at all.
    auto meta = replyWith("text/html", "<html><META http-equiv=\"Content-Type\" "
                                       "content=\"text/html; charset=gb2312\">" +
                                           gbkBytes);
    EXPECT_EQ(net::DirectSessionClient::declaredCharset(meta), "gb2312");
    EXPECT_EQ(net::DirectSessionClient::text(meta).value(),
              "<html><META http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">中文");

    auto header = replyWith("text/html; charset=GBK", gbkBytes);
    EXPECT_EQ(net::DirectSessionClient::text(header).value(), "中文");

    auto utf8 = replyWith("", "<meta charset=\"utf-8\">中文");
    EXPECT_EQ(net::DirectSessionClient::declaredCharset(utf8), "utf-8");
    EXPECT_EQ(net::DirectSessionClient::text(utf8).value(), "<meta charset=\"utf-8\">中文");

    EXPECT_EQ(net::DirectSessionClient::text(replyWith("", gbkBytes)).value(), "中文");
    EXPECT_EQ(net::DirectSessionClient::text(replyWith("", "plain")).value(), "plain");

    // Bytes that are not what the reply declares are an error, not mangled text.
    EXPECT_FALSE(net::DirectSessionClient::text(replyWith("text/html; charset=utf-8", gbkBytes)));
    EXPECT_FALSE(net::DirectSessionClient::text(replyWith("text/html; charset=gbk", "\xFF\xFF")));
    EXPECT_FALSE(net::DirectSessionClient::text(replyWith("text/html; charset=no-such-set", "x")));
}

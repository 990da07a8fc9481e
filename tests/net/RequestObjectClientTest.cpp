#include "net/RequestObjectClient.h"

#include "LoopbackHelpers.h"
#include "demo/HttpServer.h"
#include "net/Base64.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <thread>
#include <vector>

using namespace vantorel;
using demo::HttpRequest;
using demo::HttpResponse;
using net::FetchRequest;
using net::HttpMethod;
using vantorel::testing::HeaderPairs;
using vantorel::testing::requestFor;
using vantorel::testing::withoutHost;

namespace {

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

std::string gzip(std::string_view text) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(compressBound(text.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace

TEST(RequestObjectClient, SendsItsDefaultHeadersExactlyAndInOrder) {
    demo::HttpServer server([](const HttpRequest&) { return HttpResponse::text("ok"); });
    std::string url = server.base() + "/page?q=1";
    auto reply = net::RequestObjectClient().fetch(requestFor(url));
    ASSERT_TRUE(reply) << reply.error().message;
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, "ok");

    auto received = server.requests();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].method, "GET");
    EXPECT_EQ(received[0].target, "/page?q=1");
    EXPECT_EQ(received[0].headers.front().first, "Host");
    EXPECT_EQ(withoutHost(received[0]), (HeaderPairs{{"Accept", "*/*"},
                                                     {"Referer", url},
                                                     {"Accept-Language", "zh-cn"},
                                                     {"User-Agent", kUserAgent}}));
}

TEST(RequestObjectClient, ABodyBringsContentTypeAndCallerHeadersReplaceDefaults) {
    demo::HttpServer server([](const HttpRequest& r) { return HttpResponse::text(r.body); });
    FetchRequest request = requestFor(server.base() + "/form");
    request.method = HttpMethod::Post;
    request.body = "a=1&b=%E4%B8%AD";
    request.headers = "referer: http://elsewhere.test/\r\nUSER-AGENT: Mine/1.0\r\nX-Token: t";
    auto reply = net::RequestObjectClient().fetch(request);
    ASSERT_TRUE(reply) << reply.error().message;
    EXPECT_EQ(reply->body, request.body);

    auto received = server.requests().at(0);
    EXPECT_EQ(received.method, "POST");
    EXPECT_EQ(withoutHost(received),
              (HeaderPairs{{"referer", "http://elsewhere.test/"},
                           {"USER-AGENT", "Mine/1.0"},
                           {"X-Token", "t"},
                           {"Accept", "*/*"},
                           {"Accept-Language", "zh-cn"},
                           {"Content-Type", "application/x-www-form-urlencoded"},
                           {"Content-Length", std::to_string(request.body.size())}}));
}

TEST(RequestObjectClient, EveryMethodGoesOutUnderItsName) {
    demo::HttpServer server([](const HttpRequest& r) {
        HttpResponse response = HttpResponse::text("body of " + r.method);
        response.headers.emplace_back("X-Method", r.method);
        return response;
    });
    for (std::string_view name : net::kHttpMethodNames) {
        FetchRequest request = requestFor(server.base() + "/m");
        request.method = *net::methodFromName(name);
        auto reply = net::RequestObjectClient().fetch(request);
        ASSERT_TRUE(reply) << name << ": " << reply.error().message;
        EXPECT_EQ(reply->header("X-Method"), name);
        // HEAD has headers (with the length of the body it would have) but no body.
        EXPECT_EQ(reply->body, name == "HEAD" ? "" : "body of " + std::string(name));
    }
    auto received = server.requests();
    ASSERT_EQ(received.size(), net::kHttpMethodNames.size());
    for (std::size_t i = 0; i < received.size(); ++i)
        EXPECT_EQ(received[i].method, net::kHttpMethodNames[i]);
    EXPECT_EQ(received.back().method, "CONNECT");
}

TEST(RequestObjectClient, FollowsRedirectsOrHandsBackTheRedirectItself) {
    demo::HttpServer server([](const HttpRequest& r) {
        if (r.path == "/old") {
            HttpResponse moved = HttpResponse::text("moved", "text/plain", 302);
            moved.headers.emplace_back("Location", "/new");
            moved.headers.emplace_back("Set-Cookie", "hop=1; Path=/");
            return moved;
        }
        return HttpResponse::text("arrived");
    });
    FetchRequest request = requestFor(server.base() + "/old");
    auto followed = net::RequestObjectClient().fetch(request);
    ASSERT_TRUE(followed) << followed.error().message;
    EXPECT_EQ(followed->status, 200);
    EXPECT_EQ(followed->body, "arrived");
    EXPECT_EQ(followed->url, server.base() + "/new");
    // The header block is the final response's; cookies set on the way are still collected.
    EXPECT_EQ(followed->header("Location"), "");
    EXPECT_EQ(followed->statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(followed->cookies, "hop=1");

    request.followRedirects = false;
    auto held = net::RequestObjectClient().fetch(request);
    ASSERT_TRUE(held) << held.error().message;
    EXPECT_EQ(held->status, 302);
    EXPECT_EQ(held->header("Location"), "/new");
    EXPECT_EQ(held->body, "moved");
    EXPECT_FALSE(held->headers.ends_with("\r\n"));
    EXPECT_TRUE(held->headers.starts_with("Content-Type: text/plain\r\nLocation: /new\r\n"));
}

TEST(RequestObjectClient, SendsTheCookieTextAndMergesWhatTheServerSets) {
    demo::HttpServer server([](const HttpRequest&) {
        HttpResponse response = HttpResponse::text("ok");
        response.headers.emplace_back("Set-Cookie", "sid=new; HttpOnly");
        response.headers.emplace_back("Set-Cookie", "old=deleted; Path=/");
        return response;
    });
    FetchRequest request = requestFor(server.base() + "/");
    request.cookie = "sid=abc; old=1; keep=yes";
    auto reply = net::RequestObjectClient().fetch(request);
    ASSERT_TRUE(reply) << reply.error().message;
    EXPECT_EQ(server.requests().at(0).header("Cookie"), "sid=abc; old=1; keep=yes");
    EXPECT_EQ(reply->cookies, "sid=new; keep=yes");

    // A Cookie line in the caller's block and a cookie text become one line.
    request.headers = "Cookie: a=1; sid=block";
    auto merged = net::RequestObjectClient().fetch(request);
    ASSERT_TRUE(merged);
    auto second = server.requests().at(1);
    int cookieLines = 0;
    for (const auto& header : second.headers)
        cookieLines += header.first == "Cookie";
    EXPECT_EQ(cookieLines, 1);
    EXPECT_EQ(second.header("Cookie"), "a=1; sid=abc; old=1; keep=yes");

    request.cookie = "a=1\r\nX-Injected: 1";
    EXPECT_FALSE(net::RequestObjectClient().fetch(request));
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST(RequestObjectClient, CarriesTheBasicCredentialToTheProxy) {
    // The loopback server plays the proxy: a proxied request names the whole address.
    demo::HttpServer proxy(
        [](const HttpRequest& r) { return HttpResponse::text("via " + r.target); });
    FetchRequest request = requestFor("http://vantorel.test/path?x=1");
    request.proxy = proxy.base();
    request.proxyUser = "张三";
    request.proxyPassword = "";
    auto reply = net::RequestObjectClient().fetch(request);
    ASSERT_TRUE(reply) << reply.error().message;
    EXPECT_EQ(reply->body, "via http://vantorel.test/path?x=1");
    auto received = proxy.requests().at(0);
    EXPECT_EQ(received.header("Proxy-Authorization"),
              "Basic " + net::base64Encode("\xD5\xC5\xC8\xFD:"));
    EXPECT_EQ(received.header("Referer"), "http://vantorel.test/path?x=1");

    // Without credentials nothing is sent to the proxy about them.
    request.proxyUser.clear();
    ASSERT_TRUE(net::RequestObjectClient().fetch(request));
    EXPECT_FALSE(proxy.requests().at(1).hasHeader("Proxy-Authorization"));

    // A user name GBK cannot write fails before anything is sent.
    request.proxyUser = "\xF0\x9F\x98\x80";
    EXPECT_FALSE(net::RequestObjectClient().fetch(request));
    EXPECT_EQ(proxy.requests().size(), 2u);
}

TEST(RequestObjectClient, FailuresGiveNoReplyAndAMessage) {
    auto unparsable = net::RequestObjectClient().fetch(requestFor("not an address"));
    ASSERT_FALSE(unparsable);
    EXPECT_FALSE(unparsable.error().message.empty());

    // Only http and https are fetched, whatever the address says.
    EXPECT_FALSE(net::RequestObjectClient().fetch(requestFor("file:///etc/passwd")));

    auto refused = net::RequestObjectClient().fetch(
        requestFor("http://127.0.0.1:" + std::to_string(vantorel::testing::closedPort()) + "/"));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, int(net::TransportStep::Connect));
}

TEST(RequestObjectClient, ABodyOverTheCapIsAnErrorNotAnAllocation) {
    demo::HttpServer server(
        [](const HttpRequest&) { return HttpResponse::text(std::string(4096, 'x')); });
    FetchRequest request = requestFor(server.base() + "/big");
    request.maxBodyBytes = 4096;
    auto exact = net::RequestObjectClient().fetch(request);
    ASSERT_TRUE(exact) << exact.error().message;
    EXPECT_EQ(exact->body.size(), 4096u);

    request.maxBodyBytes = 4095;
    auto over = net::RequestObjectClient().fetch(request);
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error().code, int(net::TransportStep::Body));
    EXPECT_NE(over.error().message.find("4095"), std::string::npos);
}

TEST(RequestObjectClient, DecodesAContentCodingOnlyWhenTheCallerAskedForOne) {
    const std::string text = "压缩过的内容 compressed text compressed text";
    demo::HttpServer server([&](const HttpRequest&) {
        HttpResponse response = HttpResponse::text(gzip(text));
        response.headers.emplace_back("Content-Encoding", "gzip");
        return response;
    });
    FetchRequest request = requestFor(server.base() + "/z");
    request.headers = "Accept-Encoding: gzip";
    auto decoded = net::RequestObjectClient().fetch(request);
    ASSERT_TRUE(decoded) << decoded.error().message;
    EXPECT_EQ(decoded->body, text);
    EXPECT_EQ(server.requests().at(0).header("Accept-Encoding"), "gzip");

    // Not asked: no Accept-Encoding goes out and the bytes come back as sent.
    request.headers.clear();
    auto raw = net::RequestObjectClient().fetch(request);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->body, gzip(text));
    EXPECT_FALSE(server.requests().at(1).hasHeader("Accept-Encoding"));
}

TEST(RequestObjectClient, WorkerThreadsFetchAtTheSameTime) {
    demo::HttpServer server([](const HttpRequest& r) {
        HttpResponse response = HttpResponse::text("reply to " + r.query);
        response.delayBeforeHead = std::chrono::milliseconds(50);
        return response;
    });
    constexpr int kWorkers = 8;
    std::vector<std::string> bodies(kWorkers);
    std::vector<std::thread> workers;
    for (int i = 0; i < kWorkers; ++i)
        workers.emplace_back([&, i] {
            auto reply = net::RequestObjectClient().fetch(
                requestFor(server.base() + "/w?" + std::to_string(i)));
            bodies[i] = reply ? reply->body : reply.error().message;
        });
    for (auto& worker : workers)
        worker.join();
    for (int i = 0; i < kWorkers; ++i)
        EXPECT_EQ(bodies[i], "reply to " + std::to_string(i));
}

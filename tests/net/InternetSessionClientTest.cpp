#include "net/InternetSessionClient.h"

#include "LoopbackHelpers.h"
#include "demo/HttpServer.h"

#include <gtest/gtest.h>

using namespace vantorel;
using demo::HttpRequest;
using demo::HttpResponse;
using net::FetchRequest;
using net::InternetSessionClient;
using vantorel::testing::HeaderPairs;
using vantorel::testing::requestFor;
using vantorel::testing::withoutHost;

TEST(InternetSessionClient, SplitsAddressesWithDefaultPortsAndRootPath) {
    auto secure = InternetSessionClient::splitAddress("https://a.test");
    ASSERT_TRUE(secure);
    EXPECT_TRUE(secure->secure);
    EXPECT_EQ(secure->host, "a.test");
    EXPECT_EQ(secure->port, 443);
    EXPECT_EQ(secure->path, "/");
    EXPECT_EQ(secure->url(), "https://a.test/");

    auto plain = InternetSessionClient::splitAddress("HTTP://b.test/x/y?z=1&w=%E4");
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->secure);
    EXPECT_EQ(plain->port, 80);
    EXPECT_EQ(plain->path, "/x/y?z=1&w=%E4");

    auto named = InternetSessionClient::splitAddress("https://c.test:8443?q");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->port, 8443);
    EXPECT_EQ(named->path, "/?q");
    EXPECT_EQ(named->url(), "https://c.test:8443/?q");

    EXPECT_FALSE(InternetSessionClient::splitAddress("ftp://d.test/"));
    EXPECT_FALSE(InternetSessionClient::splitAddress("https://"));
    EXPECT_FALSE(InternetSessionClient::splitAddress("http://e.test:99999/"));
}

TEST(InternetSessionClient, NamesTheProxyInItsListForm) {
    EXPECT_EQ(InternetSessionClient::proxyList("http://127.0.0.1:8080/"), "http=127.0.0.1:8080");
    EXPECT_EQ(InternetSessionClient::proxyList("127.0.0.1:8080"), "http=127.0.0.1:8080");
    EXPECT_EQ(InternetSessionClient::proxyList("http=p.test:3128"), "http=p.test:3128");
    EXPECT_EQ(InternetSessionClient::proxyList(""), "");
}

TEST(InternetSessionClient, SendsTheAgentNameAndDefaultsAndAddsTheCookieLine) {
    demo::HttpServer server([](const HttpRequest&) { return HttpResponse::text("ok"); });
    // No path: "/" is requested, and the Referer names the address as requested.
    FetchRequest request = requestFor(server.base());
    request.cookie = "a=1; b=2";
    auto reply = InternetSessionClient().fetch(request);
    ASSERT_TRUE(reply) << reply.error().message;
    auto received = server.requests().at(0);
    EXPECT_EQ(received.target, "/");
    EXPECT_EQ(withoutHost(received),
              (HeaderPairs{{"Accept", "*/*"},
                           {"Referer", server.base() + "/"},
                           {"Accept-Language", "zh-cn"},
                           {"User-Agent", "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"},
                           {"Cookie", "a=1; b=2"}}));
    EXPECT_EQ(reply->statusLine.substr(0, 8), "HTTP/1.1");
}

TEST(InternetSessionClient, LeavesRedirectsForTheCallerToRead) {
    demo::HttpServer server([](const HttpRequest& r) {
        if (r.path == "/file") {
            HttpResponse moved = HttpResponse::text("", "text/plain", 302);
            moved.headers.emplace_back("Location", "http://downloads.test/real.exe");
            moved.headers.emplace_back("Set-Cookie", "seen=1");
            return moved;
        }
        return HttpResponse::text("final");
    });
    FetchRequest request = requestFor(server.base() + "/file");
    request.cookie = "seen=0; other=x";
    auto reply = InternetSessionClient().fetch(request);
    ASSERT_TRUE(reply) << reply.error().message;
    EXPECT_EQ(reply->status, 302);
    EXPECT_EQ(reply->header("Location"), "http://downloads.test/real.exe");
    EXPECT_EQ(reply->cookies, "seen=1; other=x");
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(InternetSessionClient, GoesThroughTheProxyAndFailsCleanly) {
    demo::HttpServer proxy(
        [](const HttpRequest& r) { return HttpResponse::text("proxied " + r.target); });
    FetchRequest request = requestFor("http://vantorel.test");
    request.proxy = InternetSessionClient::proxyList(proxy.base());
    auto reply = InternetSessionClient().fetch(request);
    ASSERT_TRUE(reply) << reply.error().message;
    EXPECT_EQ(reply->body, "proxied http://vantorel.test/");

    auto refused = InternetSessionClient().fetch(
        requestFor("http://127.0.0.1:" + std::to_string(vantorel::testing::closedPort())));
    ASSERT_FALSE(refused);
    EXPECT_FALSE(refused.error().message.empty());
    EXPECT_FALSE(InternetSessionClient().fetch(requestFor("gopher://x.test/")));

    // A cookie text cannot smuggle in a header line of its own.
    FetchRequest smuggling = requestFor(proxy.base() + "/");
    smuggling.cookie = "a=1\r\nX-Evil: 1";
    EXPECT_FALSE(InternetSessionClient().fetch(smuggling));
    EXPECT_EQ(proxy.requests().size(), 1u);
}

#include "demo/HttpServer.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;
using vantorel::demo::HttpRequest;
using vantorel::demo::HttpResponse;
using vantorel::demo::HttpServer;
using vantorel::testing::runCli;

namespace {

HttpResponse echo(const HttpRequest& r) {
    if (r.path == "/moved") {
        HttpResponse moved = HttpResponse::text("see elsewhere", "text/plain", 302);
        moved.headers.emplace_back("Location", "/echo");
        return moved;
    }
    if (r.path == "/drop") {
        HttpResponse dropped;
        dropped.dropWithoutReply = true;
        return dropped;
    }
    if (r.path == "/late") {
        HttpResponse late = HttpResponse::text("late");
        late.delayBeforeHead = 2500ms;
        return late;
    }
    return HttpResponse::text(r.method + " " + r.target + " " + r.body);
}

} // namespace

TEST(FetchCommand, PrintsTheBodyOrTheWholeReplyWithInclude) {
    HttpServer server(echo);
    auto plain = runCli({"fetch", server.base() + "/echo?a=1"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(plain.out, "GET /echo?a=1 ");

    auto posted = runCli({"fetch", server.base() + "/echo", "--data", "k=v", "-H",
                          "User-Agent: cli-test", "--cookie", "s=1", "--include"});
    ASSERT_EQ(posted.exitCode, 0) << posted.err;
    EXPECT_EQ(posted.out, "HTTP/1.1 200 OK\r\n"
                          "Content-Type: text/plain; charset=utf-8\r\n"
                          "Content-Length: 14\r\n"
                          "\r\n"
                          "POST /echo k=v");
    auto received = server.requests().back();
    EXPECT_EQ(received.header("User-Agent"), "cli-test");
    EXPECT_EQ(received.header("Cookie"), "s=1");
    EXPECT_EQ(received.header("Content-Type"), "application/x-www-form-urlencoded");

    auto put = runCli({"fetch", server.base() + "/echo", "-X", "put", "--client", "session"});
    ASSERT_EQ(put.exitCode, 0) << put.err;
    EXPECT_EQ(put.out, "PUT /echo ");
    EXPECT_EQ(server.requests().back().header("Cache-Control"), "no-cache");
}

TEST(FetchCommand, RedirectChoiceFollowsTheClientUnlessToldOtherwise) {
    HttpServer server(echo);
    auto followed = runCli({"fetch", server.base() + "/moved"});
    ASSERT_EQ(followed.exitCode, 0) << followed.err;
    EXPECT_EQ(followed.out, "GET /echo ");

    auto held = runCli({"fetch", server.base() + "/moved", "--no-redirect", "--include"});
    ASSERT_EQ(held.exitCode, 0) << held.err;
    EXPECT_TRUE(held.out.starts_with("HTTP/1.1 302 Found\r\n")) << held.out;
    EXPECT_NE(held.out.find("\r\nLocation: /echo\r\n"), std::string::npos);

    auto internet = runCli({"fetch", server.base() + "/moved", "--client", "internet"});
    ASSERT_EQ(internet.exitCode, 0) << internet.err;
    EXPECT_EQ(internet.out, "see elsewhere");
}

TEST(FetchCommand, FailuresAreMessagesOnStderrWithExitOne) {
    HttpServer server(echo);
    auto dropped = runCli({"fetch", server.base() + "/drop", "--client", "session"});
    EXPECT_EQ(dropped.exitCode, 1);
    EXPECT_EQ(dropped.err, "712 服务器未响应!\n");
    EXPECT_EQ(dropped.out, "");

    auto late =
        runCli({"fetch", server.base() + "/late", "--client", "session", "--timeout", "200"});
    EXPECT_EQ(late.exitCode, 1);
    EXPECT_EQ(late.err, "712 服务器未响应!\n");

    auto object = runCli({"fetch", server.base() + "/drop"});
    EXPECT_EQ(object.exitCode, 1);
    EXPECT_FALSE(object.err.empty());
}

// A header line every 100 ms keeps every idle limit happy; --timeout still ends the exchange.
TEST(FetchCommand, TimeoutBoundsATrickledHeaderBlock) {
    HttpServer server([](const HttpRequest&) {
        HttpResponse response;
        std::string head = "HTTP/1.1 200 OK\r\n";
        for (int i = 0; i < 600; ++i)
            head += "X-Line-" + std::to_string(i) + ": x\r\n";
        response.raw = head + "Content-Length: 0\r\n\r\n";
        response.throttleBytes = 12;
        response.throttleDelay = std::chrono::milliseconds(100);
        return response;
    });
    auto trickled = runCli({"fetch", server.base() + "/", "--timeout", "700"});
    EXPECT_EQ(trickled.exitCode, 1);
    EXPECT_TRUE(trickled.err.starts_with("等待服务器超时（127.0.0.1）")) << trickled.err;
    EXPECT_EQ(trickled.out, "");
}

TEST(FetchCommand, SendsTheProxyCredential) {
    HttpServer proxy(echo);
    auto r = runCli({"fetch", "http://vantorel.test/echo", "--proxy", proxy.base(), "--proxy-user",
                     "user", "--client", "internet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "GET http://vantorel.test/echo ");
    EXPECT_EQ(proxy.requests().back().header("Proxy-Authorization"), "Basic dXNlcjo=");
}

TEST(FetchCommand, BadUsageExitsTwo) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"fetch"},
             {"fetch", "http://127.0.0.1:1/", "http://127.0.0.1:2/"},
             {"fetch", "http://127.0.0.1:1/", "--client", "browser"},
             {"fetch", "http://127.0.0.1:1/", "-X", "PATCH"},
             {"fetch", "http://127.0.0.1:1/", "--timeout", "soon"},
             {"fetch", "http://127.0.0.1:1/", "--timeout", "0"},
             {"fetch", "http://127.0.0.1:1/", "--proxy-user", "u"},
             {"fetch", "http://127.0.0.1:1/", "--verbose"},
             {"fetch", "http://127.0.0.1:1/", "-H"}}) {
        auto r = runCli(args);
        EXPECT_EQ(r.exitCode, 2) << args.back();
        EXPECT_FALSE(r.err.empty());
    }
}

// The chat link, the group-link request and the "Location: " of its redirect.

#include "catalogue/ContactLinks.h"
#include "demo/HttpServer.h"

#include <gtest/gtest.h>

using namespace vantorel;
using namespace vantorel::catalogue;

TEST(ContactLinks, LinksAreBuiltOnlyFromSetNumbers) {
    EXPECT_EQ(chatLink("10001").value(), "tencent://message/?uin=10001");
    EXPECT_EQ(groupLinkRequestAddress("http://127.0.0.1:8", "20002").value(),
              "http://127.0.0.1:8/qun/api/?guin=20002&type=1");
    // Not set, or not a number: nothing is built that could carry more than a number.
    for (const char* bad : {"", "12a", "1&x=2", "1 2", "１２"}) {
        EXPECT_EQ(chatLink(bad).error().message, kChatNotSetMessage) << bad;
        EXPECT_FALSE(groupLinkRequestAddress("http://h", bad)) << bad;
    }
    EXPECT_EQ(groupLinkRequestAddress("", "20002").error().message, kGroupNotSetMessage);

    EXPECT_TRUE(isChatLink("tencent://message/?uin=10001"));
    EXPECT_FALSE(isChatLink("tencent://message/?uin="));
    EXPECT_FALSE(isChatLink("tencent://message/?uin=1&cmd=run"));
    EXPECT_FALSE(isChatLink("tencent://other/?uin=1"));
}

TEST(ContactLinks, LocationIsTheRestOfItsLine) {
    // The last line, ending with a line break, and the last line of a block without one.
    EXPECT_EQ(locationFromHeaders("Server: x\r\nLocation: https://g.example/a?b=1\r\n"),
              "https://g.example/a?b=1");
    EXPECT_EQ(locationFromHeaders("Server: x\r\nLocation: https://g.example/a"),
              "https://g.example/a");
    // Lines before and after do not change it; the first Location wins.
    EXPECT_EQ(locationFromHeaders("A: 1\r\nLocation: http://one/\r\nB: 2\r\nLocation: http://two/"),
              "http://one/");
    // HTTP/2 servers send the name in lower case.
    EXPECT_EQ(locationFromHeaders("location: http://lower/\r\n"), "http://lower/");
    // A header whose name merely ends in "Location" is another header.
    EXPECT_EQ(locationFromHeaders("X-Location: http://evil/\r\nContent-Location: /c"),
              std::nullopt);
    EXPECT_EQ(locationFromHeaders("Server: x\r\nContent-Length: 0"), std::nullopt);
    EXPECT_EQ(locationFromHeaders(""), std::nullopt);
    EXPECT_EQ(locationFromHeaders("Location: \r\n"), "");
}

namespace {

demo::HttpResponse redirect(std::string location) {
    auto response = demo::HttpResponse::text("", "text/html", 302);
    if (!location.empty())
        response.headers.emplace_back("Location", std::move(location));
    return response;
}

} // namespace

TEST(ContactLinks, GroupLinkComesFromTheRedirectItself) {
    std::string location;
    demo::HttpServer server([&](const demo::HttpRequest& r) {
        if (r.path == "/qun/api/" && r.queryValue("guin") == "20002" && r.queryValue("type") == "1")
            return redirect(location);
        return demo::HttpResponse::text("followed", "text/plain", 200);
    });

    location = "https://group.example/join?k=abc";
    EXPECT_EQ(fetchGroupLink(server.base(), "20002").value(), location);
    EXPECT_EQ(server.requests().size(), 1u) << "the redirect is not followed";

    location = "";
    EXPECT_EQ(fetchGroupLink(server.base(), "20002").error().message, kNoLocationMessage);

    // A redirect to anything but a web address is never handed on.
    for (const char* hostile : {"file:///etc/passwd", "/usr/bin/xterm", "javascript:alert(1)",
                                "tencent://message/?uin=1"}) {
        location = hostile;
        EXPECT_EQ(fetchGroupLink(server.base(), "20002").error().message, kBadGroupLinkMessage)
            << hostile;
    }

    EXPECT_EQ(fetchGroupLink("", "20002").error().message, kGroupNotSetMessage);
    const std::size_t asked = server.requests().size();
    EXPECT_FALSE(fetchGroupLink(server.base(), ""));
    EXPECT_EQ(server.requests().size(), asked) << "nothing is sent without a number";
}

TEST(ContactLinks, UnreachableGroupServiceIsAnError) {
    std::string base;
    {
        demo::HttpServer closed([](const demo::HttpRequest&) { return redirect("http://x/"); });
        base = closed.base();
    }
    auto link = fetchGroupLink(base, "20002");
    ASSERT_FALSE(link);
    EXPECT_TRUE(link.error().message.starts_with("无法连接群链接服务")) << link.error().message;
}

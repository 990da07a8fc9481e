#include "demo/HttpServer.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

using vantorel::testing::runCli;

TEST(ResolveCommand, PrintsTheDirectAddressOfADemoShareLink) {
    auto r = runCli({"--demo", "resolve", "https://share.vantorel.example/iVantorel310"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("http://127.0.0.1:")) << r.out;
    EXPECT_TRUE(r.out.ends_with("/file/Vantorel-3.10-release\n")) << r.out;
}

TEST(ResolveCommand, UnusableLinksFailWithTheMessage) {
    // A share host whose pages have no download frame.
    vantorel::demo::HttpServer pages([](const vantorel::demo::HttpRequest&) {
        return vantorel::demo::HttpResponse::text("<html>文件取消分享了</html>", "text/html");
    });
    std::vector<std::string> env = {"VANTOREL_SHARE_HOSTS=share.test",
                                    "VANTOREL_SHARE_BASE=" + pages.base()};
    auto noFrame = runCli({"resolve", "https://share.test/abc"}, env);
    EXPECT_EQ(noFrame.exitCode, 1);
    EXPECT_TRUE(noFrame.err.starts_with("后台地址有误，需联系作者处理、")) << noFrame.err;
    EXPECT_TRUE(noFrame.out.empty());

    auto notShare = runCli({"resolve", "https://elsewhere.test/abc"}, env);
    EXPECT_EQ(notShare.exitCode, 1);
    EXPECT_TRUE(notShare.err.starts_with("后台地址有误，需联系作者处理、")) << notShare.err;

    EXPECT_EQ(runCli({"resolve"}).exitCode, 2);
    EXPECT_EQ(runCli({"resolve", "a", "b"}).exitCode, 2);
}

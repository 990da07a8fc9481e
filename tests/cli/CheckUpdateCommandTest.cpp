#include "demo/HttpServer.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <mutex>

using vantorel::demo::HttpRequest;
using vantorel::demo::HttpResponse;
using vantorel::testing::runCli;

TEST(CheckUpdateCommand, ShowsBothVersionsFromTheDemoService) {
    auto text = runCli({"--demo", "check-update"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(text.out.starts_with("当前版本号v3.9\n最新版本号v3.10\n有新版本：https://share."))
        << text.out;

    auto json = runCli({"--demo", "check-update", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    auto out = nlohmann::json::parse(json.out);
    EXPECT_EQ(out["current"], "3.9");
    EXPECT_EQ(out["latest"], "3.10");
    EXPECT_EQ(out["newer"], true);
    EXPECT_EQ(out["notesAreHtml"], true);
    EXPECT_TRUE(out["notes"].get<std::string>().starts_with("<h3>"));
}

TEST(CheckUpdateCommand, UpToDateAndFailures) {
    // The reply is changed between runs while the server's threads may read it.
    std::mutex mutex;
    std::string reply = "3.9|x|y|z|w";
    auto answer = [&](std::string text) {
        std::lock_guard lock(mutex);
        reply = std::move(text);
    };
    vantorel::demo::HttpServer service([&](const HttpRequest&) {
        std::lock_guard lock(mutex);
        return HttpResponse::text(reply);
    });
    std::vector<std::string> env = {"VANTOREL_VERSION_BASE=" + service.base()};

    auto same = runCli({"check-update"}, env);
    EXPECT_EQ(same.exitCode, 0) << same.err;
    EXPECT_EQ(same.out, "当前版本号v3.9\n最新版本号v3.9\n已是最新版本\n");

    answer("no");
    auto unknown = runCli({"check-update"}, env);
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.err, "注意：服务器查询不到实例信息,请检查实例ID是否正确\n");
    EXPECT_TRUE(unknown.out.empty());

    answer("garbage");
    auto abnormal = runCli({"check-update", "--json"}, env);
    EXPECT_EQ(abnormal.exitCode, 1);
    EXPECT_TRUE(abnormal.err.starts_with("· 服务器连接异常、稍后再试！")) << abnormal.err;
    EXPECT_TRUE(abnormal.out.empty());

    auto unreachable = runCli({"check-update"}, {"VANTOREL_VERSION_BASE=http://127.0.0.1:1"});
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_TRUE(unreachable.err.starts_with("· 无法连接服务器、请检查网络配置！"))
        << unreachable.err;

    EXPECT_EQ(runCli({"check-update", "--bogus"}).exitCode, 2);
}

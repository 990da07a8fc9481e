#include "demo/CatalogueReply.h"
#include "demo/HttpServer.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using vantorel::testing::runCli;

TEST(SearchCommand, JsonHoldsTheNineFieldsInOrder) {
    auto r = runCli({"--demo", "search", "输入法", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto json = nlohmann::ordered_json::parse(r.out);
    EXPECT_EQ(json["count"], 2);
    ASSERT_EQ(json["records"].size(), 2u);
    std::vector<std::string> keys;
    for (auto& [key, value] : json["records"][0].items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"displayname", "filename", "filesize", "hash", "url",
                                              "publishdate", "versionname", "https", "logo48"}));
    EXPECT_EQ(json["records"][0]["displayname"], "拼音输入法");
}

TEST(SearchCommand, TableAndEmptyResultAndUsage) {
    auto table = runCli({"--demo", "search", "输入法"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_TRUE(table.out.starts_with("序号  应用名      大小    版本号  下载链接1\n"
                                      "1     拼音输入法  4.5MB   13.5.1  http://"))
        << table.out;
    EXPECT_NE(table.out.find("找到：2 项"), std::string::npos);

    auto none = runCli({"--demo", "search", "nothing-like-this", "--json"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(none.out)["count"], 0);

    // White space alone is no keyword, as in the window: nothing is listed.
    auto blank = runCli({"--demo", "search", " \u3000 "});
    EXPECT_EQ(blank.exitCode, 1);
    EXPECT_EQ(blank.out, "");
    EXPECT_EQ(blank.err, "请输入要搜索的软件名称\n");

    EXPECT_EQ(runCli({"search"}).exitCode, 2);
    EXPECT_EQ(runCli({"search", "a", "b"}).exitCode, 2);
}

TEST(SearchCommand, UnreachableCatalogueIsAFailureWithAMessage) {
    auto r = runCli({"search", "QQ"}, {"VANTOREL_CATALOGUE_BASE=http://127.0.0.1:1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.starts_with("搜索失败：")) << r.err;
    EXPECT_TRUE(r.out.empty());
}

TEST(SearchCommand, TableEscapesControlCharactersAndAlignsByDisplayWidth) {
    // A reply whose texts would recolour the terminal, retitle it, ring it and reorder the line.
    std::vector<vantorel::catalogue::CatalogueRecord> records(2);
    records[0] = {"宽字", "a.exe", "1048576", "h", "http://h/a", "d", "1.0", "http://h/a", "a.png"};
    records[1] = {"Evil\x1b[2Jname", "b.exe",      "2097152", "h", "http://h/b\x1b]0;x\x07", "d",
                  "2.0\u202e",       "http://h/b", "b.png"};
    vantorel::demo::HttpServer catalogue([&](const vantorel::demo::HttpRequest&) {
        return vantorel::demo::HttpResponse::text(vantorel::demo::catalogueReply(records),
                                                  "application/javascript; charset=utf-8");
    });
    auto r = runCli({"search", "x"}, {"VANTOREL_CATALOGUE_BASE=" + catalogue.base()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "序号  应用名             大小  版本号     下载链接1\n"
                     "1     宽字               1MB   1.0        http://h/a\n"
                     "2     Evil\\u001b[2Jname  2MB   2.0\\u202e  http://h/b\\u001b]0;x\\u0007\n"
                     "找到：2 项\n");
}

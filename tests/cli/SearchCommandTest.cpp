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
    EXPECT_TRUE(table.out.starts_with(
        "序号\t应用名\t大小\t版本号\t下载链接1\n1\t拼音输入法\t4.5MB\t13.5.1\thttp://"));
    EXPECT_NE(table.out.find("找到：2 项"), std::string::npos);

    auto none = runCli({"--demo", "search", "nothing-like-this", "--json"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(none.out)["count"], 0);

    EXPECT_EQ(runCli({"search"}).exitCode, 2);
    EXPECT_EQ(runCli({"search", "a", "b"}).exitCode, 2);
}

TEST(SearchCommand, UnreachableCatalogueIsAFailureWithAMessage) {
    auto r = runCli({"search", "QQ"}, {"VANTOREL_CATALOGUE_BASE=http://127.0.0.1:1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.starts_with("搜索失败：")) << r.err;
    EXPECT_TRUE(r.out.empty());
}

#include "catalogue/DisplayForms.h"
#include "catalogue/AddressPolicy.h"
#include "catalogue/SearchRequest.h"
#include "net/HttpAddress.h"
#include "net/UrlEncoding.h"

#include <gtest/gtest.h>

using namespace vantorel::catalogue;

namespace {

CatalogueRecord sample() {
    return {"示例\r\n程序",
            "setup.exe",
            "1048576",
            "ABC",
            "https://a.example/1.exe",
            "2026-12-01",
            "2.0",
            "https://b.example/1.exe",
            "logo.png"};
}

} // namespace

TEST(DisplayForms, SizeInMebibytes) {
    EXPECT_EQ(sizeDisplay("1048576"), "1MB");
    EXPECT_EQ(sizeDisplay("524288"), "0.5MB");
    EXPECT_EQ(sizeDisplay("1"), "0MB");
    EXPECT_EQ(sizeDisplay("123456789"), "117.74MB");
    EXPECT_EQ(sizeDisplay("0"), "0MB");
    EXPECT_EQ(sizeDisplay("12x"), "12x");
    EXPECT_EQ(sizeDisplay(""), "");
    EXPECT_EQ(sizeDisplay("-5"), "-5");
}

TEST(DisplayForms, LabelsAndCount) {
    CatalogueRecord r = sample();
    EXPECT_EQ(foundCountText(0), "找到：0 项");
    EXPECT_EQ(foundCountText(30), "找到：30 项");
    EXPECT_EQ(nameLabel(r), "应用程序：示例\r\n程序");
    EXPECT_EQ(versionLabel(r), "版本：2.0");
    EXPECT_EQ(sizeLabel(r), "大小：1MB");
    EXPECT_EQ(dateLabel(r), "更新：2026-12-01");
    EXPECT_EQ(logoAddress("http://127.0.0.1:5", "a/b.png"),
              "http://127.0.0.1:5/softmgr/logo/48/a/b.png");
}

TEST(DisplayForms, DetailsTextHasNineLabelledLines) {
    EXPECT_EQ(detailsText(sample()),
              "ID：ABC\r\n应用名：示例\r\n程序\r\n包名：setup.exe\r\n大小：1MB\r\n"
              "版本号：2.0\r\n发布日期：2026-12-01\r\n图标地址：logo.png\r\n"
              "下载链接1：https://a.example/1.exe\r\n下载链接2：https://b.example/1.exe");
    CatalogueRecord plain = sample();
    plain.displayname = "示例";
    std::string text = detailsText(plain);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8);
    EXPECT_TRUE(text.substr(text.rfind("\r\n") + 2).starts_with("下载链接2："));
}

TEST(DisplayForms, DownloadFileNameIsDisplayNameUnderscoreVersion) {
    CatalogueRecord r = sample();
    r.displayname = "微信";
    r.versionname = "3.9.12";
    EXPECT_EQ(downloadFileName(r), "微信_3.9.12.exe");
}

TEST(AddressPolicy, OnlyWebAddressesAreOpened) {
    using vantorel::net::isHttpAddress;
    EXPECT_TRUE(isHttpAddress("https://a.example/x.exe"));
    EXPECT_TRUE(isHttpAddress("HTTP://a.example"));
    for (const char* bad :
         {"file:///etc/passwd", "/usr/bin/xterm", "C:\\Windows\\calc.exe", "javascript:alert(1)",
          "tencent://message/?uin=1", "http://", "https:///path", "http://a.example/x y",
          "http://a.example/\nfile:///", "ftp://a.example/x", "", "https//a.example",
          "http://@a.example", "http://u@/x", "http://:80/x"})
        EXPECT_FALSE(isHttpAddress(bad)) << bad;
}

TEST(SearchRequest, KeywordIsUtf8PercentEncoded) {
    EXPECT_EQ(
        searchAddress("https://s.example", "QQ"),
        "https://s.example/tapi/web/searchcgi.php?type=search&callback=searchCallback&keyword=QQ"
        "&page=1&pernum=30&more=0");
    EXPECT_EQ(vantorel::net::percentEncode("微信 a&b=c/d"), "%E5%BE%AE%E4%BF%A1%20a%26b%3Dc%2Fd");
    EXPECT_EQ(vantorel::net::percentEncode("-._~Az09"), "-._~Az09");
}

TEST(AddressPolicy, DownloadAddressesAreTheEntrysWebAddressesInOrder) {
    CatalogueRecord entry;
    entry.url = "http://a/1.exe";
    entry.https = "https://b/1.exe";
    EXPECT_EQ(downloadAddresses(entry),
              (std::vector<std::string>{"http://a/1.exe", "https://b/1.exe"}));
    entry.https = entry.url;
    EXPECT_EQ(downloadAddresses(entry), std::vector<std::string>{"http://a/1.exe"});
    entry.url = "file:///etc/passwd";
    entry.https = "[]://odd";
    EXPECT_TRUE(downloadAddresses(entry).empty());
}

#include "download/DownloadTarget.h"

#include <gtest/gtest.h>

#include <filesystem>

using vantorel::download::downloadTarget;
using vantorel::download::fileNameFromUrl;
namespace fs = std::filesystem;

TEST(DownloadTarget, NameComesFromTheLastSegmentOfTheAddress) {
    EXPECT_EQ(fileNameFromUrl("http://h/a/b/setup.exe"), "setup.exe");
    EXPECT_EQ(fileNameFromUrl("https://h/a/%E4%B8%AD%20x.exe?k=v/w#frag/x"), "中 x.exe");
    EXPECT_EQ(fileNameFromUrl("http://h/a/100%.zip"), "100%.zip");
    EXPECT_EQ(fileNameFromUrl("http://h/a/x%E2%80%AEfdp.exe"), "xfdp.exe");
    // Nothing usable, or a name that would leave the folder.
    for (const char* url :
         {"http://h", "http://h/", "http://h/dir/", "http://h/..", "http://h/a/%2e%2e",
          "http://h/a/..%2fetc%2fpasswd", "http://h/a/..%5cx", "http://h/a/x%00y",
          "http://h/a/x%0Ay.exe", "http://h/a/x%1By", "http://h/a/%E2%81%A6"})
        EXPECT_EQ(fileNameFromUrl(url), "download") << url;
}

TEST(DownloadTarget, FolderOutputKeepsTheAddressName) {
    const fs::path folder = fs::temp_directory_path();
    EXPECT_EQ(downloadTarget("http://h/f/a.exe", ""), "a.exe");
    EXPECT_EQ(fs::path(downloadTarget("http://h/f/a.exe", folder.string())), folder / "a.exe");
    EXPECT_EQ(downloadTarget("http://h/f/a.exe", (folder / "b.exe").string()),
              (folder / "b.exe").string());
}

TEST(DownloadTarget, AddressAndOutputAreCheckedBeforeAnyRequest) {
    using vantorel::download::checkDownloadAddress;
    using vantorel::download::checkOutput;
    EXPECT_TRUE(checkDownloadAddress("https://h/a.exe"));
    for (const char* bad : {"notaurl", "ftp://h/a.exe"})
        EXPECT_EQ(checkDownloadAddress(bad).error().message,
                  std::string("不是 http(s) 地址：") + bad);

    const fs::path folder = fs::temp_directory_path();
    EXPECT_TRUE(checkOutput(""));
    EXPECT_TRUE(checkOutput(folder.string() + "/"));
    EXPECT_TRUE(checkOutput((folder / "b.exe").string()));
    EXPECT_TRUE(checkOutput("b.exe"));
    EXPECT_EQ(checkOutput("missing-vantorel/dir/").error().message,
              "保存的文件夹不存在：missing-vantorel/dir/");
    EXPECT_EQ(checkOutput("missing-vantorel/b.exe").error().message,
              "保存的文件夹不存在：missing-vantorel");
}

#include "settings/Preferences.h"
#include "common/Config.h"
#include "common/TextEncoding.h"
#include "settings/SettingsFile.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace vantorel;
using namespace vantorel::settings;
namespace fs = std::filesystem;

namespace {

std::string gbk(std::string_view utf8) {
    return utf8ToGbk(utf8).value();
}

class PreferencesFile : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = vantorel::testing::freshTestFolder("vantorel-prefs");
        ini_ = folder_ / "Vantorel.ini";
        config::set("VANTOREL_INI", ini_.string());
    }
    void TearDown() override {
        config::unset("VANTOREL_INI");
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    void writeIni(std::string_view bytes) { std::ofstream(ini_, std::ios::binary) << bytes; }
    std::string readIni() const { return vantorel::testing::readFile(ini_); }
    unsigned mode() const {
        struct stat info {};
        EXPECT_EQ(::stat(ini_.c_str(), &info), 0);
        return info.st_mode & 0777;
    }

    fs::path folder_;
    fs::path ini_;
};

Preferences changed() {
    Preferences p;
    p.proxy = "socks5h://代理.example:1080";
    p.proxyUser = "用户";
    p.proxyPassword = "p=w;[x]";
    p.speedLimit = 2 * 1024 * 1024;
    p.connections = 16;
    p.downloadFolder = "/home/me/下载";
    p.downloadsAtOnce = 1;
    return p;
}

} // namespace

TEST_F(PreferencesFile, RoundTripKeepsEveryOtherByteOfTheFile) {
    const std::string program =
        gbk("; 注释\r\n[Vantorel]\r\n路径=/opt/万通/\r\n版本号=3.9\r\n"
            "实例ID=5c0f3e9a7b2d4e61a8f09c3b7d2e4a10\r\n\r\n[别的]\r\nx=1\r\n");
    writeIni(program);
    ASSERT_TRUE(savePreferences(changed()).ok());
    EXPECT_EQ(loadPreferences().value(), changed());

    // Saving again replaces the section's values in place: nothing else moves, nothing doubles.
    Preferences other;
    other.speedLimit = 20000;
    ASSERT_TRUE(savePreferences(other).ok());
    EXPECT_EQ(loadPreferences().value(), other);
    const std::string content = readIni();
    EXPECT_EQ(content.substr(0, program.size()), program);
    EXPECT_EQ(content.find(gbk("[偏好设置]")), content.rfind(gbk("[偏好设置]")));
}

TEST_F(PreferencesFile, MissingFileGivesDefaultsAndIsNotCreated) {
    EXPECT_EQ(loadPreferences().value(), Preferences{});
    EXPECT_FALSE(fs::exists(ini_));
}

TEST_F(PreferencesFile, BrokenValuesReadAsDefaultsBesideGoodOnes) {
    writeIni(gbk("[偏好设置]\r\n代理=ftp://h:21\r\n连接数=17\r\n同时下载数=0\r\n"
                 "下载文件夹=相对/路径\r\n  限速 = 512K \r\n") +
             gbk("代理用户名") + "=\xff\xff\r\n"); // bytes that are not GBK
    Preferences expected;
    expected.speedLimit = 512 * 1024;
    EXPECT_EQ(loadPreferences().value(), expected);

    writeIni(gbk("[偏好设置]\r\n连接数=-1\r\n同时下载数=4294967299\r\n限速=lots\r\n"));
    EXPECT_EQ(loadPreferences().value(), Preferences{});
}

TEST_F(PreferencesFile, UnusableValuesAreRefusedAndNothingIsWritten) {
    writeIni("[Vantorel]\r\n");
    auto refusedWith = [](Preferences p, std::string_view words) {
        auto saved = savePreferences(p);
        ASSERT_FALSE(saved.ok());
        EXPECT_NE(saved.error().message.find(words), std::string::npos) << saved.error().message;
    };
    Preferences p;
    p.proxy = "ftp://127.0.0.1:21";
    refusedWith(p, "协议");
    p = {};
    p.connections = 0;
    refusedWith(p, "连接数");
    p = {};
    p.downloadsAtOnce = 17;
    refusedWith(p, "同时下载数");
    p = {};
    p.proxyPassword = " 首尾空格";
    refusedWith(p, "代理密码");
    p = {};
    p.downloadFolder = "下载";
    refusedWith(p, "下载文件夹");
    p = {};
    p.speedLimit = 8;
    refusedWith(p, "限速过低");
    EXPECT_EQ(readIni(), "[Vantorel]\r\n");
}

TEST_F(PreferencesFile, PasswordKeepsTheFileToItsOwner) {
    Preferences p;
    p.proxyPassword = "secret";
    ASSERT_TRUE(savePreferences(p).ok()); // a new file
    EXPECT_EQ(mode(), 0600u);

    ::chmod(ini_.c_str(), 0644);
    ASSERT_TRUE(savePreferences(p).ok());
    EXPECT_EQ(mode(), 0600u);

    // A narrower mode is never widened, and a later write without the password keeps it.
    ::chmod(ini_.c_str(), 0400);
    ASSERT_TRUE(savePreferences(p).ok());
    EXPECT_EQ(mode(), 0400u);
    ASSERT_TRUE(writeProgramSettings("/opt/app").ok());
    EXPECT_EQ(mode(), 0400u);

    // Without a password the file keeps the mode it has.
    ::chmod(ini_.c_str(), 0644);
    ASSERT_TRUE(savePreferences(Preferences{}).ok());
    EXPECT_EQ(mode(), 0644u);
}

TEST(ProxyAddress, UsableSchemesHostsAndPortsOnly) {
    for (std::string_view good : {"", "http://127.0.0.1:3128", "HTTPS://proxy.example",
                                  "socks5://[::1]:1080", "socks5h://host:1080/"})
        EXPECT_FALSE(proxyProblem(good)) << good;
    for (std::string_view bad :
         {"ftp://h:21", "127.0.0.1:3128", "http://", "http://:80", "http://h:0", "http://h:65536",
          "http://h:", "http://h:x", "http://u:p@h:80", "http://h/path", "http://h h",
          "socks5://[::1", "socks5://[::1]x"}) {
        auto problem = proxyProblem(bad);
        ASSERT_TRUE(problem) << bad;
        EXPECT_NE(problem->find("代理地址"), std::string::npos);
    }
}

TEST(Rate, WhatUsersTypeAndWhatTheListPrints) {
    constexpr std::uint64_t k = 1024;
    const std::pair<std::string_view, std::uint64_t> cases[] = {
        {"100k", 100 * k},
        {"100K", 100 * k},
        {"100KB", 100 * k},
        {"100 KB/s", 100 * k},
        {" 100kb/S ", 100 * k},
        {"100KiB/s", 100 * k},
        {"1.5M", 3 * k * k / 2},
        {"2MB/s", 2 * k * k},
        {"20000", 20000},
        {"20000 B/s", 20000},
        {"0", 0},
        {"", 0},
        {"0k", 0},
        {"10k", kMinRate},
        {"17592186044415M", 17592186044415u << 20},
        {"18446744073709551615", UINT64_MAX},
    };
    for (const auto& [text, rate] : cases) {
        const auto parsed = parseRate(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(*parsed, rate) << text;
    }
}

TEST(Rate, GarbageOverflowAndCrawlsAreRefusedWithTheReason) {
    for (std::string_view bad : {"k", "M", "-1", "+1", "1G", "abc", "1.5.2M", ".5M", "1.M",
                                 "12 k s", "100 KB/h", "18446744073709551616", "17592186044416M"}) {
        const auto parsed = parseRate(bad);
        ASSERT_FALSE(parsed) << bad;
        EXPECT_EQ(parsed.error().message, kBadRateText) << bad;
    }
    // A bare "8" is 8 bytes a second: a download that would never end, not what was meant.
    for (std::string_view slow : {"8", "9k", "9.99k", "10239"}) {
        const auto parsed = parseRate(slow);
        ASSERT_FALSE(parsed) << slow;
        EXPECT_EQ(parsed.error().message, kSlowRateText) << slow;
    }
}

TEST(Rate, ShortestFormReadsBack) {
    EXPECT_EQ(formatRate(0), "0");
    EXPECT_EQ(formatRate(20000), "20000");
    EXPECT_EQ(formatRate(512 * 1024), "512k");
    EXPECT_EQ(formatRate(2 * 1024 * 1024), "2M");
    EXPECT_EQ(formatRate(1025 * 1024), "1025k");
    for (std::uint64_t rate : {kMinRate, std::uint64_t{1} << 20, std::uint64_t{12345}, UINT64_MAX,
                               UINT64_MAX - UINT64_MAX % 1024})
        EXPECT_EQ(parseRate(formatRate(rate)).value(), rate);
}

#include "settings/SettingsFile.h"
#include "common/Config.h"
#include "common/TextEncoding.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace vantorel;
using namespace vantorel::settings;
namespace fs = std::filesystem;

namespace {

std::string gbk(std::string_view utf8) {
    return utf8ToGbk(utf8).value();
}

std::string set(std::string_view file, std::string section, std::string key, std::string value) {
    auto out = setProfileString(file, {std::move(section), std::move(key), std::move(value)});
    EXPECT_TRUE(out.ok()) << (out ? "" : out.error().message);
    return out ? *out : std::string();
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class ScratchFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("vantorel-ini-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(folder_, fs::perms::owner_all, ec);
        fs::remove_all(folder_, ec);
        config::unset("VANTOREL_INI");
    }
    fs::path folder_;
};

} // namespace

TEST(SettingsFile, NewFileHoldsTheThreeEntriesInGbk) {
    std::string file;
    for (const auto& entry : programSettings("/opt/万通/"))
        file = setProfileString(file, entry).value();
    EXPECT_EQ(file, gbk("[Vantorel]\r\n路径=/opt/万通/\r\n版本号=3.9\r\n"
                        "实例ID=5c0f3e9a7b2d4e61a8f09c3b7d2e4a10\r\n"));
}

TEST(SettingsFile, ProgramFolderGetsItsSeparator) {
    EXPECT_EQ(programSettings("/opt/app")[0].value, "/opt/app/");
    EXPECT_EQ(programSettings("/opt/app/")[0].value, "/opt/app/");
    EXPECT_EQ(programSettings("D:\\Vantorel\\")[0].value, "D:\\Vantorel\\");
}

TEST(SettingsFile, KeyIsReplacedInPlaceAndTheRestKeptByteForByte) {
    const std::string before = gbk("; 注释\n[Other]\nname = 别动\n\n[VANTOREL]\n ; note\n"
                                   "  版本号 = 1.0\nextra=keep\r\n\r\n[Tail]\nx=1");
    std::string after = set(before, "Vantorel", "版本号", "3.9");
    EXPECT_EQ(after, gbk("; 注释\n[Other]\nname = 别动\n\n[VANTOREL]\n ; note\n"
                         "版本号=3.9\nextra=keep\r\n\r\n[Tail]\nx=1"));
    // Writing the same key again changes nothing: no duplicate appears.
    EXPECT_EQ(set(after, "Vantorel", "版本号", "3.9"), after);
}

TEST(SettingsFile, KeysAndSectionsAreAddedWhereTheyBelong) {
    // A new key follows the last non-blank line of its section, before the blank lines.
    EXPECT_EQ(set("[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "A", "z", "3"),
              "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n");
    // The last line of a file without a final line break.
    EXPECT_EQ(set("[A]\r\nx=1", "A", "z", "3"), "[A]\r\nx=1\r\nz=3\r\n");
    // An empty section gets the key right after its header.
    EXPECT_EQ(set("[A]\n[B]\n", "A", "z", "3"), "[A]\nz=3\r\n[B]\n");
    // A missing section goes to the end, on a line of its own.
    EXPECT_EQ(set("x=1", "A", "z", "3"), "x=1\r\n[A]\r\nz=3\r\n");
    // A key of the same name in another section or in a comment is not the one.
    EXPECT_EQ(set("[B]\r\nz=9\r\n[A]\r\n;z=8\r\n", "A", "z", "3"),
              "[B]\r\nz=9\r\n[A]\r\n;z=8\r\nz=3\r\n");
}

TEST(SettingsFile, CrAloneEndsALineAndEveryWrittenLineEndsInCrLf) {
    // A file written with CR alone: the key is found and replaced in place, no duplicate.
    EXPECT_EQ(set("[A]\rx=1\ry=2\r[B]\rx=5\r", "A", "x", "9"), "[A]\rx=9\ry=2\r[B]\rx=5\r");
    EXPECT_EQ(set("[A]\rx=1\r[B]\r", "A", "z", "3"), "[A]\rx=1\rz=3\r\n[B]\r");
    EXPECT_EQ(set("x=1\r", "A", "z", "3"), "x=1\r[A]\r\nz=3\r\n");
    // A replaced last line without a line break gets one.
    EXPECT_EQ(set("[A]\r\nx=1", "A", "x", "2"), "[A]\r\nx=2\r\n");
}

TEST(SettingsFile, GbkTrailBytesAreNotFoldedAsLetters) {
    // "丄" is 0x81 0x41 and "乤" is 0x81 0x61: their trail bytes look like "A" and "a", yet the
    // names differ. Latin letters still compare without regard to case.
    std::string file = set(gbk("[S]\r\n丄=1\r\n"), "s", "乤", "2");
    EXPECT_EQ(file, gbk("[S]\r\n丄=1\r\n乤=2\r\n"));
    file = set(gbk("[S]\r\n键A=1\r\n"), "S", "键a", "2");
    EXPECT_EQ(file, gbk("[S]\r\n键a=2\r\n"));
}

TEST(SettingsFile, HostileValuesCannotAddKeysOrSections) {
    const std::string file = "[Vantorel]\r\n";
    for (std::string value :
         {std::string("/a\r\n[Evil]\r\nx=1"), std::string("/a\nb=2"), std::string("/a\0b", 4)}) {
        auto out = setProfileString(file, {"Vantorel", "路径", value});
        ASSERT_FALSE(out.ok());
        EXPECT_NE(out.error().message.find("路径"), std::string::npos);
    }
    // A "[" or "=" inside a value is just text on the key's line.
    std::string out = set(file, "Vantorel", "路径", "/x/[Evil]/a=b/");
    EXPECT_EQ(out, "[Vantorel]\r\n" + gbk("路径") + "=/x/[Evil]/a=b/\r\n");
    // Names that would reshape the file are refused too.
    EXPECT_FALSE(setProfileString(file, {"A]B", "k", "v"}).ok());
    EXPECT_FALSE(setProfileString(file, {"A", "k=v", "v"}).ok());
    EXPECT_FALSE(setProfileString(file, {"A", "[k", "v"}).ok());
    EXPECT_FALSE(setProfileString(file, {"A", "", "v"}).ok());
    // A character without a GBK form is refused, never written altered.
    EXPECT_FALSE(setProfileString(file, {"Vantorel", "路径", "/tmp/😀/"}).ok());
}

TEST(SettingsFile, ReadFindsTheFirstKeyOfTheFirstSectionLikeTheWriter) {
    const std::string file = gbk("[Other]\rk=no\r\n[ 偏好 ]\n;k=comment\n  K = 第 一 \r\n"
                                 "k=second\r\n[偏好]\r\nk=third\r\n");
    EXPECT_EQ(getProfileString(file, "偏好", "k").value(), "第 一");
    EXPECT_EQ(getProfileString(file, "other", "K").value(), "no");
    EXPECT_FALSE(getProfileString(file, "偏好", "missing").value());
    EXPECT_FALSE(getProfileString(file, "Missing", "k").value());
    // Whatever the writer stores reads back as it was given.
    const std::string value = "\"a=[b]\" ;c";
    EXPECT_EQ(getProfileString(set(file, "偏好", "k", value), "偏好", "k").value(), value);
    // Bytes that are not GBK are an error naming the key, not an empty value.
    auto broken = getProfileString("[S]\r\nk=\xff\xff\r\n", "S", "k");
    ASSERT_FALSE(broken.ok());
    EXPECT_NE(broken.error().message.find("“k”"), std::string::npos);
}

TEST_F(ScratchFolder, ReadingAMissingFileGivesNothingAndAnOversizedOneAnError) {
    fs::path ini = folder_ / "Vantorel.ini";
    EXPECT_EQ(readSettingsFile(ini.string()).value(), "");
    EXPECT_FALSE(fs::exists(ini));
    std::ofstream(ini, std::ios::binary) << std::string(kMaxSettingsFileBytes + 1, 'x');
    auto big = readSettingsFile(ini.string());
    ASSERT_FALSE(big.ok());
    EXPECT_NE(big.error().message.find("1 MiB"), std::string::npos);
    EXPECT_FALSE(readSettingsFile(folder_.string()).ok());
}

TEST_F(ScratchFolder, WritesTheFileAtomicallyAndCreatesItsFolder) {
    fs::path ini = folder_ / "sub" / "Vantorel.ini";
    config::set("VANTOREL_INI", ini.string());
    ASSERT_TRUE(writeProgramSettings("/opt/万通").ok());
    std::string first = readAll(ini);
    EXPECT_EQ(first, gbk("[Vantorel]\r\n路径=/opt/万通/\r\n版本号=3.9\r\n"
                         "实例ID=5c0f3e9a7b2d4e61a8f09c3b7d2e4a10\r\n"));

    // A second write keeps other content and leaves no temporary file behind.
    std::ofstream(ini, std::ios::app | std::ios::binary) << "[Mine]\r\nk=v\r\n";
    ASSERT_TRUE(writeProgramSettings("/opt/万通").ok());
    EXPECT_EQ(readAll(ini), first + "[Mine]\r\nk=v\r\n");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(ini.parent_path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(ScratchFolder, WriteThroughALinkReplacesTheTarget) {
    fs::path real = folder_ / "real.ini";
    fs::path link = folder_ / "link.ini";
    std::ofstream(real, std::ios::binary) << "[Keep]\r\na=1\r\n";
    fs::create_symlink(real, link);
    ASSERT_TRUE(writeProfileStrings(link.string(), {{"S", "k", "v"}}).ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readAll(real), "[Keep]\r\na=1\r\n[S]\r\nk=v\r\n");
}

TEST_F(ScratchFolder, FailedWriteIsAnErrorAndLeavesTheFileAlone) {
    fs::path ini = folder_ / "Vantorel.ini";
    std::ofstream(ini, std::ios::binary) << "[Keep]\r\na=1\r\n";
    // A refused value: the file is untouched.
    EXPECT_FALSE(writeProfileStrings(ini.string(), {{"S", "k", "a\nb"}}).ok());
    EXPECT_EQ(readAll(ini), "[Keep]\r\na=1\r\n");
    // A path below a file: no folder can be created there.
    auto blocked = writeProfileStrings((ini / "x.ini").string(), {{"S", "k", "v"}});
    ASSERT_FALSE(blocked.ok());
    EXPECT_FALSE(blocked.error().message.empty());
    // A folder without write permission (skipped as root, who may write anyway).
    if (::geteuid() != 0) {
        fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(writeProfileStrings(ini.string(), {{"S", "k", "v"}}).ok());
        fs::permissions(folder_, fs::perms::owner_all);
        EXPECT_EQ(readAll(ini), "[Keep]\r\na=1\r\n");
    }
}

TEST_F(ScratchFolder, OversizedFileIsRefusedAndLeftAlone) {
    fs::path ini = folder_ / "Vantorel.ini";
    const std::string big = "[Vantorel]\r\n" + std::string(kMaxSettingsFileBytes, 'x');
    std::ofstream(ini, std::ios::binary) << big;
    auto refused = writeProfileStrings(ini.string(), {{"Vantorel", "k", "v"}});
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message.find("1 MiB"), std::string::npos);
    EXPECT_EQ(readAll(ini), big);
}

TEST_F(ScratchFolder, WritersAtTheSameTimeLoseNothing) {
    fs::path ini = folder_ / "Vantorel.ini";
    constexpr int kKeysEach = 50;
    auto writer = [&](char who) {
        for (int i = 0; i < kKeysEach; ++i)
            EXPECT_TRUE(
                writeProfileStrings(ini.string(), {{"S", who + std::to_string(i), "v"}}).ok());
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();
    const std::string content = readAll(ini);
    for (char who : {'a', 'b'})
        for (int i = 0; i < kKeysEach; ++i)
            EXPECT_NE(content.find("\r\n" + (who + std::to_string(i)) + "=v\r\n"),
                      std::string::npos)
                << who << i;
}

TEST_F(ScratchFolder, AFileHoldingAPasswordIsKeptToItsOwnerWhoeverWrites) {
    const fs::path ini = folder_ / "Vantorel.ini";
    std::ofstream(ini, std::ios::binary) << gbk("[偏好设置]\r\n代理密码=secret\r\n");
    fs::permissions(ini, fs::perms(0644));
    ASSERT_TRUE(writeProfileStrings(ini.string(), programSettings("/opt/app")).ok());
    EXPECT_EQ(fs::status(ini).permissions() & fs::perms::all, fs::perms(0600));
    EXPECT_NE(readAll(ini).find("secret"), std::string::npos);
}

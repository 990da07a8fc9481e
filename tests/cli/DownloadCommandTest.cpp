#include "demo/RangeServer.h"
#include "download/Checksum.h"
#include "support/RunCommand.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

extern char** environ;

using namespace vantorel;
using vantorel::testing::runCli;
namespace fs = std::filesystem;

using vantorel::testing::readFile;

namespace {

class DownloadCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = vantorel::testing::freshTestFolder("vantorel-cli-download");
        for (int i = 0; i < 300000; ++i)
            content_.push_back(static_cast<char>(i * 7 + i / 251));
        server_.add("/pkg/setup.exe", content_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    std::string content_;
    demo::RangeServer server_;
};

TEST_F(DownloadCommandTest, SavesTheWholeFileAndSaysSoUnlessQuiet) {
    const fs::path out = dir_ / "a.exe";
    auto loud =
        runCli({"download", server_.url("/pkg/setup.exe"), "-o", out.string(), "--threads", "4"});
    EXPECT_EQ(loud.exitCode, 0) << loud.err;
    EXPECT_TRUE(readFile(out) == content_);
    EXPECT_NE(loud.err.find("下载完毕~"), std::string::npos) << loud.err;
    // stderr is not a terminal here, so no progress lines.
    EXPECT_EQ(loud.err.find('\r'), std::string::npos);

    const fs::path quietOut = dir_ / "b.exe";
    auto quiet =
        runCli({"download", "--quiet", server_.url("/pkg/setup.exe"), "-o", quietOut.string()});
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_TRUE(quiet.err.empty()) << quiet.err;
    EXPECT_TRUE(readFile(quietOut) == content_);
}

TEST_F(DownloadCommandTest, FolderOutputSavesUnderTheAddressName) {
    server_.add("/pkg/%E4%B8%AD%20x.exe", content_);
    auto r = runCli({"download", "-q", server_.url("/pkg/%E4%B8%AD%20x.exe"), "-o", dir_.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(readFile(dir_ / "中 x.exe") == content_);
}

TEST_F(DownloadCommandTest, FailedDownloadExitsOneAndKeepsTheOldFile) {
    const fs::path out = dir_ / "a.exe";
    std::ofstream(out) << "old";
    auto missing = runCli({"download", server_.url("/pkg/none.exe"), "-o", out.string(), "-q"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("下载失败！"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("404"), std::string::npos) << missing.err;
    EXPECT_EQ(readFile(out), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(DownloadCommandTest, AClosedStderrDoesNotKillTheDownload) {
    const fs::path out = dir_ / "a.exe";
    // stderr goes into a pipe whose reader is gone before the result line is written.
    auto r = vantorel::testing::runCommand(
        {"/bin/bash", "-c",
         "set -o pipefail; \"$0\" download \"$1\" -o \"$2\" 2>&1 >/dev/null | true",
         VANTOREL_CLI_PATH, server_.url("/pkg/setup.exe"), out.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(readFile(out) == content_);
}

TEST_F(DownloadCommandTest, TheEnvironmentsProxyIsUsedUnlessNoproxySaysOtherwise) {
    const fs::path out = dir_ / "a.exe";
    const std::vector<std::string> deadProxy = {"http_proxy=http://127.0.0.1:1"};
    auto proxied =
        runCli({"download", "-q", server_.url("/pkg/setup.exe"), "-o", out.string()}, deadProxy);
    EXPECT_EQ(proxied.exitCode, 1) << proxied.err;
    auto direct =
        runCli({"download", "-q", "--noproxy", server_.url("/pkg/setup.exe"), "-o", out.string()},
               deadProxy);
    EXPECT_EQ(direct.exitCode, 0) << direct.err;
    EXPECT_TRUE(readFile(out) == content_);
    auto badProxy = runCli({"download", "--proxy", "ftp://127.0.0.1:21", server_.url("/x")});
    EXPECT_EQ(badProxy.exitCode, 2) << badProxy.err;
}

TEST_F(DownloadCommandTest, SeveralAddressesGoThroughOneQueueAndAllMustSucceed) {
    server_.add("/pkg/other.exe", content_.substr(1000));
    const std::string a = server_.url("/pkg/setup.exe"), b = server_.url("/pkg/other.exe");
    auto both = runCli({"download", a, b, "-d", dir_.string(), "--max-concurrent", "1"});
    EXPECT_EQ(both.exitCode, 0) << both.err;
    EXPECT_TRUE(readFile(dir_ / "setup.exe") == content_);
    EXPECT_TRUE(readFile(dir_ / "other.exe") == content_.substr(1000));
    EXPECT_EQ(std::count(both.err.begin(), both.err.end(), '\n'), 2) << both.err;

    auto oneMissing =
        runCli({"download", "-q", server_.url("/pkg/none.exe"), a, "-d", dir_.string()});
    EXPECT_EQ(oneMissing.exitCode, 1);
    EXPECT_NE(oneMissing.err.find("none.exe：服务器上没有这个文件"), std::string::npos)
        << oneMissing.err;
}

TEST_F(DownloadCommandTest, AddressesOfOneNameAreEachSavedAndTheSecondSaysItsOwnName) {
    server_.add("/other/x/setup.exe", content_.substr(7));
    auto both = runCli({"download", server_.url("/pkg/setup.exe"),
                        server_.url("/other/x/setup.exe"), "-d", dir_.string()});
    EXPECT_EQ(both.exitCode, 0) << both.err;
    EXPECT_TRUE(readFile(dir_ / "setup.exe") == content_);
    EXPECT_TRUE(readFile(dir_ / "setup (1).exe") == content_.substr(7));
    EXPECT_NE(both.err.find((dir_ / "setup (1).exe").string() + "（"), std::string::npos)
        << both.err;
    EXPECT_NE(both.err.find("同名"), std::string::npos) << both.err;
}

TEST_F(DownloadCommandTest, UnusableAddressesAndFoldersAreNamedBeforeAnythingStarts) {
    auto notUrl = runCli({"download", "notaurl"});
    EXPECT_EQ(notUrl.exitCode, 1);
    EXPECT_NE(notUrl.err.find("不是 http(s) 地址：notaurl"), std::string::npos) << notUrl.err;
    auto noMirror = runCli({"download", server_.url("/pkg/setup.exe"), "--mirror", ""});
    EXPECT_EQ(noMirror.exitCode, 1);
    EXPECT_NE(noMirror.err.find("--mirror：下载地址为空"), std::string::npos) << noMirror.err;
    const std::string missing = (dir_ / "missing" / "dir/").string();
    auto noFolder = runCli({"download", server_.url("/pkg/setup.exe"), "-o", missing});
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_NE(noFolder.err.find("保存的文件夹不存在"), std::string::npos) << noFolder.err;
    EXPECT_TRUE(server_.http().requests().empty());
}

// The mirrors are sources of one file: a dead address among them does not fail it.
TEST_F(DownloadCommandTest, MirrorsMakeOneDownloadOfTheFirstAddressFile) {
    const fs::path out = dir_ / "a.exe";
    auto r = runCli({"download", "-q", server_.url("/pkg/gone.exe"),
                     "--mirror=" + server_.url("/pkg/setup.exe"), "-o", out.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(readFile(out) == content_);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// The file's SHA-256, as --checksum takes it.
std::string sha256Of(const std::string& content) {
    download::Hasher hasher(download::DigestType::Sha256);
    hasher.update(content);
    return hasher.finishHex();
}

TEST_F(DownloadCommandTest, AFileWithItsChecksumIsSavedAndARerunFetchesNothing) {
    const fs::path out = dir_ / "a.exe";
    const std::string checksum = "--checksum=sha-256=" + sha256Of(content_);
    auto r =
        runCli({"download", "-q", server_.url("/pkg/setup.exe"), "-o", out.string(), checksum});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(readFile(out) == content_);

    const std::size_t asked = server_.http().requests().size();
    auto again = runCli({"download", server_.url("/pkg/setup.exe"), "-o", out.string(), checksum});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.err.find("下载完毕~"), std::string::npos) << again.err;
    EXPECT_EQ(server_.http().requests().size(), asked);
}

TEST_F(DownloadCommandTest, AFileWithAnotherChecksumIsNotSavedAndBothDigestsAreTold) {
    const fs::path out = dir_ / "a.exe";
    const std::string wrong(64, 'e');
    auto r = runCli({"download", "-q", server_.url("/pkg/setup.exe"), "-o", out.string(),
                     "--checksum", "SHA256=" + std::string(64, 'E')});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("sha-256=" + wrong), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sha-256=" + sha256Of(content_)), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(dir_)); // neither the file nor its part
}

TEST_F(DownloadCommandTest, AMalformedChecksumIsBadUsageBeforeAnyRequest) {
    for (const char* value : {"sha-256=abc", "crc32=0123abcd", "0123456789abcdef"}) {
        auto r = runCli({"download", server_.url("/pkg/setup.exe"), "-o", (dir_ / "a.exe").string(),
                         "--checksum", value});
        EXPECT_EQ(r.exitCode, 2) << value;
        EXPECT_NE(r.err.find(value), std::string::npos) << r.err;
    }
    EXPECT_TRUE(server_.http().requests().empty());
}

TEST_F(DownloadCommandTest, BadUsageExitsTwo) {
    const std::string url = server_.url("/pkg/setup.exe");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"download"},
                                                 {"download", url, "--threads", "0"},
                                                 {"download", url, "--threads", "17"},
                                                 {"download", url, "--threads", "4x"},
                                                 {"download", url, "-o"},
                                                 {"download", url, "--bogus"},
                                                 {"download", url, url, "-o", "x.exe"},
                                                 {"download", url, "-o", "x", "-d", "."},
                                                 {"download", url, "--max-concurrent", "0"},
                                                 {"download", url, "--limit-rate", "8"},
                                                 {"download", url, url, "--mirror", url}}) {
        auto r = runCli(args);
        EXPECT_EQ(r.exitCode, 2) << args.size() << " " << r.err;
        EXPECT_NE(r.err.find("用法"), std::string::npos);
    }
    EXPECT_TRUE(server_.http().requests().empty());
}

// Progress lines on a terminal fit its width, a long name shortened in the middle, and follow
// the terminal when it gets narrower.
TEST_F(DownloadCommandTest, ProgressLinesFitTheTerminalAndFollowItsWidth) {
    const std::string longName = "an-installer-whose-name-is-far-too-long-for-any-line-setup.exe";
    server_.add("/pkg/" + longName, content_);
    server_.add("/pkg/b.exe", content_);
    std::vector<std::string> argv = {VANTOREL_CLI_PATH,
                                     "download",
                                     server_.url("/pkg/" + longName),
                                     server_.url("/pkg/b.exe"),
                                     "-d",
                                     dir_.string(),
                                     "--limit-rate",
                                     "200k"};
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 60;
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    std::string wide, narrow;
    const auto started = std::chrono::steady_clock::now();
    bool resized = false;
    char buffer[4096];
    for (;;) {
        if (!resized && std::chrono::steady_clock::now() - started > std::chrono::seconds(1) &&
            !wide.empty()) {
            size.ws_col = 30;
            ::ioctl(terminal, TIOCSWINSZ, &size); // the terminal's programs get SIGWINCH
            resized = true;
        }
        pollfd ready{terminal, POLLIN, 0};
        if (::poll(&ready, 1, 50) == 0)
            continue;
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0)
            break; // the program ended: its side of the terminal closed
        (resized ? narrow : wide).append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(terminal);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << wide << narrow;

    // Columns a line takes: a CJK ideograph two, anything else one.
    const auto columns = [](const std::string& line) {
        std::size_t width = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto byte = static_cast<unsigned char>(line[i]);
            if ((byte & 0xC0) != 0x80)
                width += byte >= 0xE4 && byte <= 0xE9 ? 2 : 1;
        }
        return width;
    };
    // The progress lines, without the cursor movements that redraw them.
    const auto progressLines = [](const std::string& text) {
        const std::string plain =
            std::regex_replace(text, std::regex("\x1b\\[[0-9]*[A-Za-z]|\r"), "");
        std::vector<std::string> lines;
        std::istringstream in(plain);
        for (std::string line; std::getline(in, line);)
            if (line.starts_with("an-inst") || line.starts_with("b.exe"))
                lines.push_back(line);
        return lines;
    };
    const auto wideLines = progressLines(wide);
    ASSERT_FALSE(wideLines.empty()) << wide;
    bool shortened = false;
    for (const std::string& line : wideLines) {
        EXPECT_LT(columns(line), 60u) << line;
        // The start and the end of the name stay, the middle gives way.
        const std::size_t cut = line.find("…");
        shortened =
            shortened || (cut != std::string::npos && line.find(".exe", cut) != std::string::npos);
    }
    EXPECT_TRUE(shortened) << wide;
    // Lines drawn before the program heard of the resize may still arrive; from its first
    // narrow line on, every line is narrow.
    const auto narrowLines = progressLines(narrow);
    const auto first = std::find_if(narrowLines.begin(), narrowLines.end(),
                                    [&](const std::string& l) { return columns(l) < 30; });
    ASSERT_NE(first, narrowLines.end()) << narrow;
    for (auto it = first; it != narrowLines.end(); ++it)
        EXPECT_LT(columns(*it), 30u) << *it;
    EXPECT_TRUE(readFile(dir_ / longName) == content_);
}

// Starts `vantorel-cli download` for the fixture's file into `out`, stderr to `errFile`.
pid_t spawnDownload(const std::string& url, const fs::path& out, const fs::path& errFile) {
    std::vector<std::string> argv = {VANTOREL_CLI_PATH, "download", url, "-o", out.string()};
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

// The complete intervals a resume state records, [begin, end).
std::vector<std::pair<std::uint64_t, std::uint64_t>> recordedIntervals(const fs::path& state) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> intervals;
    const auto json = nlohmann::json::parse(readFile(state), nullptr, false);
    if (json.is_object() && json.contains("complete"))
        for (const auto& pair : json["complete"])
            intervals.emplace_back(pair[0].get<std::uint64_t>(), pair[1].get<std::uint64_t>());
    return intervals;
}

class ResumeTest : public DownloadCommandTest {
  protected:
    void SetUp() override {
        DownloadCommandTest::SetUp();
        demo::RangeFaults slow;
        slow.throttleBytes = 1024;
        slow.throttleDelay = std::chrono::milliseconds(20);
        server_.setFaults(slow);
        out_ = dir_ / "a.exe";
        part_ = dir_ / ".a.exe.vantorel-part";
        state_ = dir_ / ".a.exe.vantorel-state";
        std::ofstream(out_) << "old";
    }

    // Waits until the running download has recorded some complete bytes.
    bool waitForState() const {
        for (int i = 0; i < 1000; ++i) {
            if (fs::exists(state_) && !recordedIntervals(state_).empty())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    fs::path out_, part_, state_;
    const fs::path err_ =
        fs::temp_directory_path() / ("vantorel-cli-err-" + std::to_string(::getpid()));
};

TEST_F(ResumeTest, InterruptKeepsThePartAndTheSameCommandGoesOn) {
    const pid_t pid = spawnDownload(server_.url("/pkg/setup.exe"), out_, err_);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitForState());
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal instead of stopping";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(readFile(err_).find("继续"), std::string::npos) << readFile(err_);
    EXPECT_EQ(readFile(out_), "old");
    EXPECT_TRUE(fs::exists(part_));
    EXPECT_TRUE(fs::exists(state_));

    // The first run was let replace the file it found there, and only that one: another file in
    // its place is left, and the rerun says so.
    server_.setFaults({});
    const fs::path aside = dir_ / "old.aside";
    fs::rename(out_, aside);
    std::ofstream(out_) << "new";
    auto refused = runCli({"download", server_.url("/pkg/setup.exe"), "-o", out_.string()});
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_NE(refused.err.find("不会覆盖"), std::string::npos) << refused.err;
    EXPECT_EQ(readFile(out_), "new");
    // The same file back in its place, unchanged: the rerun replaces it.
    fs::rename(aside, out_);
    auto rerun = runCli({"download", server_.url("/pkg/setup.exe"), "-o", out_.string()});
    fs::remove(err_);
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err;
    EXPECT_NE(rerun.err.find("继续下载：已有"), std::string::npos) << rerun.err;
    EXPECT_TRUE(readFile(out_) == content_);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ResumeTest, KilledDownloadIsFinishedFetchingOnlyTheMissingBytes) {
    const pid_t pid = spawnDownload(server_.url("/pkg/setup.exe"), out_, err_);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitForState());
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    fs::remove(err_);
    const auto recorded = recordedIntervals(state_);
    ASSERT_FALSE(recorded.empty());
    const std::size_t before = server_.http().requests().size();

    server_.setFaults({});
    auto rerun = runCli({"download", "-q", server_.url("/pkg/setup.exe"), "-o", out_.string()});
    ASSERT_EQ(rerun.exitCode, 0) << rerun.err;
    EXPECT_TRUE(readFile(out_) == content_);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    // The rerun asked only for bytes the state did not record, but for the few KiB beside each
    // range that a request asks again to compare, and they fill the file.
    constexpr std::uint64_t kCompared = 2 * 4096;
    std::uint64_t asked = 0, again = 0, ranges = 0;
    const auto requests = server_.http().requests();
    for (std::size_t i = before; i < requests.size(); ++i) {
        const std::string range = requests[i].header("Range");
        if (!requests[i].hasHeader("If-Range"))
            continue; // the probe and the proofs, which ask for blocks of the file
        const std::uint64_t first = std::stoull(range.substr(6));
        const std::uint64_t last = std::stoull(range.substr(range.find('-') + 1));
        for (const auto& [begin, end] : recorded)
            if (last >= begin && first < end)
                again += std::min(last + 1, end) - std::max(first, begin);
        asked += last - first + 1;
        ++ranges;
    }
    std::uint64_t had = 0;
    for (const auto& [begin, end] : recorded)
        had += end - begin;
    EXPECT_LE(again, ranges * kCompared);
    EXPECT_GE(had + asked - again, content_.size());
    EXPECT_LE(had + asked - again, content_.size() + ranges * kCompared);
}

TEST_F(ResumeTest, ADownloadWithoutValidatorsKilledInItsFirstSecondGoesOnFromItsPart) {
    const std::string file = vantorel::testing::randomContent(2 << 20, 7);
    server_.add("/pkg/big.exe", file);
    demo::RangeFaults bare;
    bare.noValidators = true;
    demo::RangeFaults slow = bare; // the whole file would take about four seconds
    slow.throttleBytes = 4096;
    slow.throttleDelay = std::chrono::milliseconds(60);
    server_.setFaults(slow);
    fs::remove(out_);
    const pid_t pid = spawnDownload(server_.url("/pkg/big.exe"), out_, err_);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 2000 && server_.files().bodyBytesSent() < file.size() / 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    fs::remove(err_);
    ASSERT_FALSE(recordedIntervals(state_).empty());

    server_.setFaults(bare);
    const std::uint64_t before = server_.files().bodyBytesSent();
    auto rerun = runCli({"download", "-q", server_.url("/pkg/big.exe"), "-o", out_.string()});
    ASSERT_EQ(rerun.exitCode, 0) << rerun.err;
    EXPECT_TRUE(readFile(out_) == file);
    EXPECT_LT(server_.files().bodyBytesSent() - before, file.size() / 10 * 9);
}

} // namespace

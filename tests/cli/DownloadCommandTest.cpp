#include "demo/RangeServer.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

using namespace vantorel;
using vantorel::testing::runCli;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class DownloadCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vantorel-cli-download-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
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

TEST_F(DownloadCommandTest, BadUsageExitsTwo) {
    const std::string url = server_.url("/pkg/setup.exe");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"download"},
                                                 {"download", url, "--threads", "0"},
                                                 {"download", url, "--threads", "17"},
                                                 {"download", url, "--threads", "4x"},
                                                 {"download", url, "-o"},
                                                 {"download", url, "--bogus"},
                                                 {"download", url, url}}) {
        auto r = runCli(args);
        EXPECT_EQ(r.exitCode, 2) << args.size() << " " << r.err;
        EXPECT_NE(r.err.find("用法"), std::string::npos);
    }
    EXPECT_TRUE(server_.http().requests().empty());
}

TEST_F(DownloadCommandTest, InterruptCancelsAndLeavesNoPartialFile) {
    demo::RangeFaults slow;
    slow.throttleBytes = 1024;
    slow.throttleDelay = std::chrono::milliseconds(20);
    server_.setFaults(slow);
    const fs::path out = dir_ / "a.exe";
    std::ofstream(out) << "old";

    std::vector<std::string> argv = {VANTOREL_CLI_PATH, "download", server_.url("/pkg/setup.exe"),
                                     "-o", out.string()};
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Interrupt once the file is under way (the probe, then one range: the file is small).
    for (int i = 0; i < 500 && server_.http().requests().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal instead of cancelling";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(readFile(out), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

} // namespace

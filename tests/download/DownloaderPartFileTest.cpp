#include "download/GuardedCopy.h"
#include "download/PartFile.h"
#include "download/ResumeState.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>

using vantorel::download::guardedCopy;
using vantorel::download::PartFile;
namespace fs = std::filesystem;

using vantorel::testing::readFile;

namespace {

class PartFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = vantorel::testing::freshTestFolder("vantorel-part");
        target_ = (dir_ / "setup.exe").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::size_t filesInFolder() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    // Where the part and the state of target_ go.
    fs::path partPath() const { return dir_ / ".setup.exe.vantorel-part"; }
    fs::path statePath() const { return dir_ / ".setup.exe.vantorel-state"; }

    fs::path dir_;
    std::string target_;
};

void expectRefused(const vantorel::Result<PartFile>& opened, const std::string& reason) {
    ASSERT_FALSE(opened) << "opened although " << reason;
    EXPECT_NE(opened.error().message.find(reason), std::string::npos) << opened.error().message;
}

TEST_F(PartFileTest, MappedFileReplacesTheTargetOnlyOnCommit) {
    std::ofstream(target_) << "old";
    auto file = PartFile::open(target_);
    ASSERT_TRUE(file) << file.error().message;
    EXPECT_EQ(fs::path(file->path()).parent_path(), dir_);
    ASSERT_TRUE(file->reserveAndMap(10));
    ASSERT_EQ(file->view().size(), 10u);
    std::memcpy(file->view().data(), "0123456789", 10);
    EXPECT_EQ(readFile(target_), "old");
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(readFile(target_), "0123456789");
    EXPECT_EQ(filesInFolder(), 1u);
}

TEST_F(PartFileTest, BytesHandedToTheDiskKeepTheirDataWhenTheViewDropsTheirPages) {
    const std::size_t size = 5 * 4096 + 100;
    auto file = PartFile::open(target_);
    ASSERT_TRUE(file) << file.error().message;
    ASSERT_TRUE(file->reserveAndMap(size));
    std::string want(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        want[i] = static_cast<char>('a' + i % 23);
    // Handed over in pieces that start and end inside pages, with the rest still copied after.
    std::memcpy(file->view().data(), want.data(), 3 * 4096 + 7);
    file->startWriteback(0, 4096 + 9);
    file->startWriteback(4096 + 9, 2 * 4096 - 2);
    std::memcpy(file->view().data() + 3 * 4096 + 7, want.data() + 3 * 4096 + 7,
                size - 3 * 4096 - 7);
    file->startWriteback(3 * 4096 - 2, size - 3 * 4096 + 2);
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(readFile(target_), want);
}

TEST_F(PartFileTest, AbandonedFileIsRemovedAndTheTargetKept) {
    std::ofstream(target_) << "old";
    {
        auto file = PartFile::open(target_);
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->reserveAndMap(4096));
        EXPECT_EQ(filesInFolder(), 2u);
        PartFile moved = std::move(*file);
        EXPECT_TRUE(fs::exists(moved.path()));
    }
    EXPECT_EQ(filesInFolder(), 1u);
    EXPECT_EQ(readFile(target_), "old");
}

TEST_F(PartFileTest, AppendedFileCanStartOverAndCommitsWhatWasAppended) {
    auto file = PartFile::open(target_);
    ASSERT_TRUE(file);
    const std::string first = "first attempt";
    ASSERT_TRUE(file->append(std::as_bytes(std::span(first))));
    ASSERT_TRUE(file->startOver());
    const std::string second = "second";
    ASSERT_TRUE(file->append(std::as_bytes(std::span(second))));
    EXPECT_EQ(file->appended(), second.size());
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(readFile(target_), "second");
}

TEST_F(PartFileTest, KeptPartIsFoundByTheNextRunAndLockedWhileInUse) {
    {
        auto file = PartFile::open(target_);
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->reserveAndMap(5));
        std::memcpy(file->view().data(), "abcde", 5);
        std::ofstream(file->statePath()) << "{}";
        auto second = PartFile::open(target_);
        ASSERT_FALSE(second);
        EXPECT_NE(second.error().message.find("另一个下载"), std::string::npos);
        file->keep();
    }
    EXPECT_EQ(filesInFolder(), 2u); // the part and its state
    auto again = PartFile::open(target_);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->sizeAtOpen(), 5u);
    EXPECT_EQ(readFile(again->path()), "abcde");
    ASSERT_TRUE(again->startOver());
    EXPECT_FALSE(fs::exists(again->statePath()));
    EXPECT_EQ(fs::file_size(again->path()), 0u);
}

TEST_F(PartFileTest, UnusableTargetsAreRefusedWithTheReason) {
    auto missing = PartFile::open((dir_ / "nope" / "a.exe").string());
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().message.find("目标文件夹不存在"), std::string::npos);

    std::ofstream(dir_ / "plain") << "x";
    auto underFile = PartFile::open((dir_ / "plain" / "a.exe").string());
    ASSERT_FALSE(underFile);
    EXPECT_NE(underFile.error().message.find("不是文件夹"), std::string::npos);

    fs::create_directory(dir_ / "folder");
    auto folder = PartFile::open((dir_ / "folder").string());
    ASSERT_FALSE(folder);
    EXPECT_NE(folder.error().message.find("文件夹"), std::string::npos);

    EXPECT_FALSE(PartFile::open(""));
    EXPECT_FALSE(PartFile::open((dir_ / "").string()));
}

TEST_F(PartFileTest, LinksAtThePartPathAreRefusedAndNothingIsWrittenThroughThem) {
    const fs::path victim = dir_ / "victim.txt";
    std::ofstream(victim) << "precious";

    fs::create_symlink(victim, partPath());
    expectRefused(PartFile::open(target_), "符号链接");
    fs::remove(partPath());

    const fs::path nowhere = dir_ / "created-through-link";
    fs::create_symlink(nowhere, partPath());
    expectRefused(PartFile::open(target_), "符号链接");
    EXPECT_FALSE(fs::exists(nowhere));
    fs::remove(partPath());

    fs::create_hard_link(victim, partPath());
    expectRefused(PartFile::open(target_), "硬链接");
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_EQ(fs::hard_link_count(victim), 2u); // the link is left alone too
}

TEST_F(PartFileTest, StatePathThatIsNoPlainFileIsRefusedWithoutWaitingOnIt) {
    ASSERT_EQ(::mkfifo(statePath().c_str(), 0600), 0);
    expectRefused(PartFile::open(target_), "下载进度文件位置上不是普通文件");
    EXPECT_FALSE(fs::exists(partPath())); // the part made for this run is gone again
    fs::remove(statePath());

    std::ofstream(dir_ / "elsewhere") << "{}";
    fs::create_symlink(dir_ / "elsewhere", statePath());
    expectRefused(PartFile::open(target_), "下载进度文件位置上有一个符号链接");
}

TEST_F(PartFileTest, OpeningSweepsTheStateTemporariesOfThisTargetOnly) {
    const fs::path leftover = dir_ / "..setup.exe.vantorel-state.aB3xY9";
    const fs::path longer = dir_ / "..setup.exe.vantorel-state.aB3xY9z";
    const fs::path otherTarget = dir_ / "..other.exe.vantorel-state.aB3xY9";
    const fs::path linked = dir_ / "..setup.exe.vantorel-state.LINK00";
    for (const fs::path& path : {leftover, longer, otherTarget})
        std::ofstream(path) << "{";
    std::ofstream(dir_ / "victim") << "precious";
    fs::create_symlink(dir_ / "victim", linked);

    auto file = PartFile::open(target_);
    ASSERT_TRUE(file) << file.error().message;
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::exists(longer));
    EXPECT_TRUE(fs::exists(otherTarget));
    EXPECT_TRUE(fs::is_symlink(linked));
    EXPECT_EQ(readFile(dir_ / "victim"), "precious");
}

TEST_F(PartFileTest, CommitRefusesAPartAnotherProgramReplacedOrAppendedTo) {
    std::ofstream(target_) << "old";
    {
        auto file = PartFile::open(target_);
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->reserveAndMap(10));
        std::memcpy(file->view().data(), "0123456789", 10);
        std::ofstream(dir_ / "planted") << "0123456789";
        fs::rename(dir_ / "planted", file->path());
        const auto committed = file->commit();
        ASSERT_FALSE(committed);
        EXPECT_NE(committed.error().message.find("被其他程序替换或修改"), std::string::npos);
    }
    EXPECT_EQ(readFile(target_), "old");
    EXPECT_EQ(readFile(partPath()), "0123456789"); // not ours, so not removed either

    fs::remove(partPath());
    auto file = PartFile::open(target_);
    ASSERT_TRUE(file);
    const std::string body = "body";
    ASSERT_TRUE(file->append(std::as_bytes(std::span(body))));
    std::ofstream(file->path(), std::ios::app) << "extra";
    EXPECT_FALSE(file->commit());
    EXPECT_EQ(readFile(target_), "old");
}

TEST_F(PartFileTest, TargetThatIsNoFileIsRefusedAndALinkThereIsReplacedNotFollowed) {
    ASSERT_EQ(::mkfifo(target_.c_str(), 0600), 0);
    expectRefused(PartFile::open(target_), "不是普通文件（设备、管道或套接字）");
    fs::remove(target_);

    auto file = PartFile::open(target_);
    ASSERT_TRUE(file);
    ASSERT_EQ(::mkfifo(target_.c_str(), 0600), 0);
    const auto committed = file->commit();
    ASSERT_FALSE(committed);
    EXPECT_NE(committed.error().message.find("不是普通文件"), std::string::npos);
    EXPECT_TRUE(fs::is_fifo(target_));
    fs::remove(target_);

    const fs::path victim = dir_ / "victim";
    std::ofstream(victim) << "precious";
    fs::create_symlink(victim, target_);
    ASSERT_TRUE(file->reserveAndMap(3));
    std::memcpy(file->view().data(), "new", 3);
    ASSERT_TRUE(file->commit());
    EXPECT_FALSE(fs::is_symlink(target_));
    EXPECT_EQ(readFile(target_), "new");
    EXPECT_EQ(readFile(victim), "precious");
}

TEST_F(PartFileTest, LongestNamesGetSideFilesThatFitAndKeepApart) {
    // 255 bytes; the side names are cut inside the run of three-byte characters.
    std::string name = "ab";
    for (int i = 0; i < 84; ++i)
        name += "下";
    const std::string first = name + "c";
    const std::string second = name + "d";
    ASSERT_EQ(first.size(), static_cast<std::size_t>(NAME_MAX));

    auto file = PartFile::open((dir_ / first).string());
    ASSERT_TRUE(file) << file.error().message;
    const std::string stateName = fs::path(file->statePath()).filename().string();
    EXPECT_LE(stateName.size() + std::strlen("..XXXXXX"), static_cast<std::size_t>(NAME_MAX));
    const std::string kept = stateName.substr(1, stateName.find('~') - 1);
    EXPECT_EQ((kept.size() - 2) % 3, 0u) << "cut inside a character";
    EXPECT_EQ(fs::path(file->path()).filename().string().substr(0, stateName.find('~')),
              stateName.substr(0, stateName.find('~')));

    vantorel::download::ResumeState state;
    state.url = "http://127.0.0.1/f";
    state.length = 3;
    state.complete = {{0, 1}};
    ASSERT_TRUE(vantorel::download::saveResumeState(file->statePath(), state));
    const auto loaded = vantorel::download::loadResumeState(file->statePath());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->complete, state.complete);
    ASSERT_TRUE(file->reserveAndMap(3));
    std::memcpy(file->view().data(), "abc", 3);
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(readFile(dir_ / first), "abc");

    auto other = PartFile::open((dir_ / second).string());
    ASSERT_TRUE(other);
    EXPECT_NE(other->path(), file->path());

    expectRefused(PartFile::open((dir_ / (first + "x")).string()), "文件名过长");
}

TEST_F(PartFileTest, PartShrunkUnderTheViewFailsTheCopyAndTheCommit) {
    auto file = PartFile::open(target_);
    ASSERT_TRUE(file);
    const std::size_t size = 64 << 10;
    ASSERT_TRUE(file->reserveAndMap(size));
    ASSERT_EQ(::truncate(file->path().c_str(), 0), 0);

    file->prefault(0, size);
    const std::string data(size, 'x');
    EXPECT_FALSE(guardedCopy(file->view().data(), data.data(), size));
    std::string copy(4, '\0');
    EXPECT_TRUE(guardedCopy(copy.data(), "abcd", 4));
    EXPECT_EQ(copy, "abcd");
    EXPECT_FALSE(guardedCopy(file->view().data() + size / 2, data.data(), 16)); // caught again
    EXPECT_FALSE(file->commit());
    EXPECT_FALSE(fs::exists(target_));
}

} // namespace

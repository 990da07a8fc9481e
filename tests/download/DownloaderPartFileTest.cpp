#include "download/PartFile.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

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

    fs::path dir_;
    std::string target_;
};

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

} // namespace

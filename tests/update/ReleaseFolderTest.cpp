#include "update/ReleaseFolder.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace vantorel::update;
namespace fs = std::filesystem;

namespace {

// A scratch folder with an own copy of a program ("own/prog") and an installed one in a
// read-only folder ("ro/prog"), each with a release beside it.
class ReleaseFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        base_ = vantorel::testing::freshTestFolder("vantorel-release");
        for (const char* folder : {"own", "ro"}) {
            fs::create_directories(base_ / folder);
            std::ofstream(base_ / folder / "prog") << "old";
            std::ofstream(base_ / folder / "new.bin") << "new";
        }
        fs::permissions(base_ / "ro", fs::perms::owner_read | fs::perms::owner_exec |
                                          fs::perms::group_read | fs::perms::group_exec |
                                          fs::perms::others_read | fs::perms::others_exec);
    }
    void TearDown() override {
        fs::permissions(base_ / "ro", fs::perms::owner_all);
        fs::remove_all(base_);
    }
    std::string p(const char* name) const { return (base_ / name).string(); }

    fs::path base_;
};

} // namespace

TEST_F(ReleaseFolderTest, OwnCopyGetsItBesideItElseTheFirstUsableUserFolder) {
    const std::vector<std::string> downloads = {p("file/sub"), p("Downloads")};
    std::ofstream(base_ / "file") << "not a folder";

    auto own = chooseReleaseFolder(p("own/prog"), downloads);
    ASSERT_TRUE(own) << own.error().message;
    EXPECT_EQ(own->path, p("own"));
    EXPECT_FALSE(own->installedCopy);

    // Read-only (for the superuser too), or a system program folder: installed.
    for (const std::string& program : {p("ro/prog"), std::string("/usr/bin/env")}) {
        auto installed = chooseReleaseFolder(program, downloads);
        ASSERT_TRUE(installed) << installed.error().message;
        EXPECT_EQ(installed->path, p("Downloads")) << program;
        EXPECT_TRUE(installed->installedCopy) << program;
        EXPECT_TRUE(fs::is_directory(p("Downloads"))); // made when missing
    }

    // A folder that does not hold the program (unknown, or gone) is not its folder.
    for (const std::string& program : {std::string(), p("own/gone")}) {
        auto elsewhere = chooseReleaseFolder(program, downloads);
        ASSERT_TRUE(elsewhere);
        EXPECT_EQ(elsewhere->path, p("Downloads"));
    }

    auto none = chooseReleaseFolder(p("ro/prog"), std::vector<std::string>{p("file/sub"), ""});
    ASSERT_FALSE(none);
    EXPECT_NE(none.error().message.find(p("file/sub")), std::string::npos);
}

TEST_F(ReleaseFolderTest, OnlyAnOwnCopyBesideItsReplacementIsRetired) {
    fs::create_directories(base_ / "other");
    std::ofstream(base_ / "other/new.bin") << "x";
    EXPECT_TRUE(shouldRetireProgram(p("own/prog"), p("own/new.bin")));
    EXPECT_FALSE(shouldRetireProgram(p("own/prog"), p("own/prog")));
    EXPECT_FALSE(shouldRetireProgram(p("own/prog"), p("other/new.bin")));
    EXPECT_FALSE(shouldRetireProgram(p("own/prog"), p("own/absent.bin")));
    EXPECT_FALSE(shouldRetireProgram("", p("own/new.bin")));
    EXPECT_FALSE(shouldRetireProgram(p("ro/prog"), p("ro/new.bin")));
}

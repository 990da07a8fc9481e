#include "settings/DownloadFolder.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace vantorel::settings;
namespace fs = std::filesystem;

TEST(DownloadFolder, EachKindOfFolderIsToldApartAndAMissingOneCanBeCreated) {
    const fs::path root = vantorel::testing::freshTestFolder("vantorel-folder");
    EXPECT_EQ(checkDownloadFolder(root.string()).state, FolderState::Usable);
    EXPECT_TRUE(fs::is_empty(root)) << "the trial file is removed";

    const fs::path missing = root / "下载" / "软件";
    const FolderCheck absent = checkDownloadFolder(missing.string());
    EXPECT_EQ(absent.state, FolderState::Missing);
    EXPECT_EQ(absent.error.message, "下载文件夹不存在：" + missing.string());
    ASSERT_TRUE(createDownloadFolder(missing.string()));
    EXPECT_EQ(checkDownloadFolder(missing.string()).state, FolderState::Usable);

    const fs::path file = root / "notes.txt";
    std::ofstream(file) << "mine";
    EXPECT_EQ(checkDownloadFolder(file.string()).state, FolderState::NotAFolder);
    EXPECT_EQ(checkDownloadFolder((file / "x").string()).state, FolderState::NotAFolder);
    EXPECT_FALSE(createDownloadFolder((file / "x").string()));

    // The superuser writes through permissions; the kernel's own folders refuse even it.
    const fs::path readOnly = ::geteuid() == 0 ? fs::path("/sys") : root / "只读";
    if (::geteuid() != 0) {
        fs::create_directory(readOnly);
        fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
    }
    const FolderCheck refused = checkDownloadFolder(readOnly.string());
    EXPECT_EQ(refused.state, FolderState::NotWritable);
    EXPECT_EQ(refused.error.message.rfind("无法写入下载文件夹：" + readOnly.string() + "（", 0), 0u)
        << refused.error.message;
    if (::geteuid() != 0)
        fs::permissions(readOnly, fs::perms::owner_all);
    fs::remove_all(root);
}

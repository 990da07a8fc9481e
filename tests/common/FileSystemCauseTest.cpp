#include "common/FileSystemCause.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using namespace vantorel;

TEST(FileSystemCause, ChineseCauseInTheMessageAndTheSystemTextAsDetail) {
    EXPECT_EQ(fileSystemCause(EROFS), "只读文件系统");
    EXPECT_EQ(fileSystemCause(EACCES), "没有写入权限");
    EXPECT_EQ(fileSystemCause(ENOSPC), "磁盘已满");
    EXPECT_EQ(fileSystemCause(ENAMETOOLONG), "文件名过长");
    EXPECT_EQ(fileSystemCause(12345), "系统错误 12345");

    const Error error = fileSystemError("无法写入 ", "/media/ro/a.exe", EROFS);
    EXPECT_EQ(error.message, "无法写入 /media/ro/a.exe（只读文件系统）");
    EXPECT_EQ(error.detail, std::strerror(EROFS));
    EXPECT_EQ(error.code, EROFS);
    EXPECT_EQ(fileSystemError({}, {}, EACCES).message, "没有写入权限");
}

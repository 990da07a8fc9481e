#pragma once
// Why a file operation failed, in the user's words: one table from the system's error numbers
// to Chinese causes, so that every message about a file or folder names the same cause for the
// same failure. The system's own text goes into the error's detail, for the terminal.

#include "common/Result.h"

#include <string>
#include <string_view>

namespace vantorel {

// "只读文件系统", "没有写入权限", "磁盘已满", "文件名过长", ...; for a number the table does
// not know, "系统错误 " + the number.
std::string fileSystemCause(int error);

// DiskFull for a full disk or quota, NoPermission for a refusal (read-only included), else Other.
FailureKind fileSystemKind(int error);

// `what` + `path` + "（" + cause + "）" (the cause alone when both are empty), with the
// system's text as the detail, the error number as the code and its kind.
Error fileSystemError(std::string_view what, std::string_view path, int error);

} // namespace vantorel

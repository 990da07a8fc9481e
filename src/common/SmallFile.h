#pragma once
// Reading a small file of our own (a saved state, a list) that anyone could have replaced.

#include "common/Result.h"

#include <cstdint>
#include <string>

namespace vantorel {

// The whole of the regular file at `path` if it holds at most `maxBytes`. Anything else is an
// error, so that nothing found there is followed, waited on or read without end: its code is
// ENOENT when nothing is there, and its message says, as words that follow the file's name,
// what was found instead ("是一个符号链接…", "不是普通文件", "太大…", "无法读取（…）").
Result<std::string> readSmallFile(const std::string& path, std::uint64_t maxBytes);

} // namespace vantorel

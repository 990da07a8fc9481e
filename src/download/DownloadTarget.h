#pragma once
// Where a download is saved when the user names no file, or only a folder.

#include "common/Result.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantorel::download {

// The last path segment of the address, percent-decoded, without bidirectional controls (they
// could disguise the extension); "download" when that is no usable
// file name (empty, "." or "..", a control character such as an encoded line break, or it would
// reach into another folder).
std::string fileNameFromUrl(std::string_view url);

// Whether what `address` serves must be a file and never a web page: a share link always hands
// out a file, and an address whose name has an extension other than a page's ("setup.exe",
// "a.zip") names one. A page in its place (a "link expired" notice, a login form) is not it.
bool namesAFile(std::string_view address);

// `output` empty: the address's file name in the current folder. `output` an existing folder:
// that name inside it. Otherwise `output` itself.
std::string downloadTarget(std::string_view url, std::string_view output);

// Whether `url` can be downloaded at all: an http(s) address or a share link; otherwise
// "不是 http(s) 地址：" + url, or "下载地址为空" when it is empty or only blanks.
Status checkDownloadAddress(std::string_view url);

// Whether `output` can take a download before any request is made: a path that names a folder
// (it ends in "/") or a file inside one must have that folder ("保存的文件夹不存在：...").
Status checkOutput(std::string_view output);

// What tells one file from another at a path: a file replaced, rewritten or touched since has
// another stamp.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of whatever stands at `path` (a link itself, not what it points to); none when
// nothing does.
std::optional<FileStamp> stampOf(const std::string& path);

// Fails with FailureKind::ForeignTarget ("目标位置已有不是本下载保存的文件…") when something stands
// at `target` other than the file stamped `ours` (what this download saved there, if anything). An
// unfinished download has put nothing at its target: its bytes are in its part beside it.
Status checkOwnTarget(const std::string& target, const std::optional<FileStamp>& ours);

// `target` when `taken` says it is free, else the first free of "name (1).ext", "name (2).ext",
// ... in the same folder, as browsers name a second file of one name.
std::string freeTargetName(const std::string& target,
                           const std::function<bool(const std::string&)>& taken);

} // namespace vantorel::download

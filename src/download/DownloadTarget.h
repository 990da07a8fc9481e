#pragma once
// Where a download is saved when the user names no file, or only a folder.

#include "common/Result.h"

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
// "不是 http(s) 地址：" + url.
Status checkDownloadAddress(std::string_view url);

// Whether `output` can take a download before any request is made: a path that names a folder
// (it ends in "/") or a file inside one must have that folder ("保存的文件夹不存在：...").
Status checkOutput(std::string_view output);

} // namespace vantorel::download

#pragma once
// The last step of a download, before the complete file takes the target's name: where an
// installer is expected, a file that begins like an HTML document (an error or login page served
// in place of the file) is refused; a file that may be run gets execute permission.

#include "common/Result.h"

#include <filesystem>

namespace vantorel::download {

// Whether a downloaded file begins like an HTML document.
bool looksLikeWebPage(const std::filesystem::path& file);

// With `refuseWebPages`, fails (FailureKind::WebPage) when the complete file looks like a web page;
// with `executable`, gives it execute permission wherever it is readable (a file system without
// permissions refuses, and the file is complete all the same, so that is no failure).
Status finishComplete(const std::filesystem::path& complete, bool refuseWebPages, bool executable);

} // namespace vantorel::download

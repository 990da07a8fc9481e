#pragma once
// The last step of a download where an installer is expected: a complete file that begins like
// an HTML document (an error or login page served in place of the file) never takes the
// target's name.

#include "common/Result.h"

#include <filesystem>

namespace vantorel::download {

// The code of the error refuseWebPage gives.
inline constexpr int kWebPageError = 1;

// Whether a downloaded file begins like an HTML document.
bool looksLikeWebPage(const std::filesystem::path& file);

// Fails with kWebPageError when the complete file looks like a web page.
Status refuseWebPage(const std::filesystem::path& complete);

} // namespace vantorel::download

#pragma once
// The last step of a download: a complete file waits under a hidden name beside its target
// until it has been checked, and only then takes the target's name.

#include <filesystem>
#include <system_error>

namespace vantorel::download {

// Whether a downloaded file begins like an HTML document (an error or login page served in
// place of the file asked for).
bool looksLikeWebPage(const std::filesystem::path& file);

// Where a download waits, hidden beside `target` and named after it, until it has been checked.
std::filesystem::path stagingPathFor(const std::filesystem::path& target);

enum class StagedOutcome { Saved, WebPage, NotSaved };

// Gives a downloaded staging file the target's name; with `refuseWebPages`, not when it begins
// like a web page. A refused page, or a file that cannot be renamed (`ec` says why), is
// removed; an older target is then left as it was.
StagedOutcome saveStaged(const std::filesystem::path& staging, const std::filesystem::path& target,
                         bool refuseWebPages, std::error_code& ec);

} // namespace vantorel::download

#pragma once
// Putting a whole file in place in one step.

#include "common/Result.h"

#include <filesystem>
#include <string_view>

namespace vantorel {

// Writes `bytes` to a new file beside `target`, flushes it to disk and renames it over
// `target`, so that a crash leaves the old file or the new one, never a mixture. The new file
// keeps the permissions of the one it replaces (0644 when there is none). On failure `target`
// is as it was, nothing is left beside it, and the error's code is the system's error number
// (its message the system's text for it).
Status replaceFile(const std::filesystem::path& target, std::string_view bytes);

} // namespace vantorel

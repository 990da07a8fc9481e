#pragma once
// Putting a whole file in place in one step.

#include "common/Result.h"

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string_view>

namespace vantorel {

// Writes `bytes` to a new file beside `target`, flushes it to disk and renames it over
// `target`, so that a crash leaves the old file or the new one, never a mixture. The new file
// gets `mode` when given; otherwise it keeps the permissions of the one it replaces (0644 when
// there is none). The file written beside is named "." + the target's name + "." + six
// characters. On failure `target` is as it was, nothing is left beside it, and the error's code
// is the system's error number, its message the cause alone (fileSystemCause) and its detail
// the system's text.
Status replaceFile(const std::filesystem::path& target, std::string_view bytes,
                   std::optional<mode_t> mode = std::nullopt);

} // namespace vantorel

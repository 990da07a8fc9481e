#pragma once
// Where a metalink document comes from: a local file, or an address whose reply is one (it says
// so in its Content-Type, or its name ends in ".meta4" and the body is one). Never more than
// kMaxMetalinkBytes is read.

#include "common/Result.h"

#include <functional>
#include <optional>
#include <string>

namespace vantorel::download {

// The document in the file at `path`.
Result<std::string> readMetalinkFile(const std::string& path);

// The document `url` serves; none when it serves something else (or cannot be asked now: the
// download of it then says why), or when `stop` says to stop. A reply that says it is a metalink
// document but is larger than the cap is refused.
Result<std::optional<std::string>> metalinkAt(const std::string& url,
                                              const std::function<bool()>& stop = {});

} // namespace vantorel::download

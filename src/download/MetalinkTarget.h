#pragma once
// Where a file a metalink document names is saved: its name (already checked to stay inside,
// see Metalink.h) below the folder the user chose, with the subfolders it names made. Nothing is
// saved through a link: a subfolder or target that is already a symbolic link (or a subfolder
// that is a file) is refused, so a name cannot lead out of the folder that way either.

#include "common/Result.h"

#include <string>

namespace vantorel::download {

// The target, its subfolders made; with !make only checked, so that every file of a command can
// be checked before anything is made for one.
Result<std::string> metalinkTarget(const std::string& folder, const std::string& name,
                                   bool make = true);

} // namespace vantorel::download

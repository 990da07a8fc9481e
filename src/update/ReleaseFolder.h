#pragma once
// Where 立即更新 saves the new release, and whether the old program may then be retired.
//
// A copy of the program that the user keeps in a folder of their own (unpacked, or run from a
// build) gets its release beside it, so that the clean-up step can retire the old program once
// the user has opened the new one. An installed copy does not: its folder belongs to the
// package manager, so the release goes to the user's download folder and the old program is
// never deleted by us.
//
// A copy counts as installed when the user cannot write its folder, or when it runs from one
// of the system's program folders (/usr, /bin, /sbin, /opt, /snap), which the package manager
// owns even when the superuser could write them. A folder whose permissions let nobody write
// counts as read-only for the superuser too: it was made read-only on purpose.

#include "common/Result.h"

#include <span>
#include <string>
#include <string_view>

namespace vantorel::update {

struct ReleaseFolder {
    std::string path;
    bool installedCopy = false; // the running program is an installed copy
};

// Whether the program file `programFile` is an installed copy (see above).
bool isInstalledCopy(std::string_view programFile);

// The program's own folder when it holds the program, can be written and the copy is not
// installed; else the first of `userFolders` (in order of preference: the user's download
// folder, ...) that is a writable folder or can be created as one. `programFile` may be empty
// (unknown). Fails, naming the folders tried, when none can be used.
Result<ReleaseFolder> chooseReleaseFolder(std::string_view programFile,
                                          std::span<const std::string> userFolders);

// Whether the old program should be retired after the user opens `downloaded`: only when the
// copy is not installed, the new file was saved beside the program (in the same folder), is a
// different, existing file, and the program file exists too.
bool shouldRetireProgram(std::string_view programFile, std::string_view downloaded);

} // namespace vantorel::update

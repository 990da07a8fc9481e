#pragma once
// The clean-up step: a small script, written beside a file, that waits a second, deletes that
// file and then deletes itself. It retires the old program after an update: the program starts
// the step and quits, and the second of waiting lets it end before its file goes.
//
// On Windows the script is "tem.vbs", run by the script host, with exactly these five lines
// separated by "\r\n":
//       Dim fso
//       Set fso = CreateObject("Scripting.FileSystemObject")
//       Wscript.Sleep(1000)
//       fso.DeleteFile("<file>")
//       fso.DeleteFile("<folder>tem.vbs")
// A double quote inside a path is doubled, as a VBScript literal spells it, so a path can never
// end the literal early; a path with a line break cannot be spelled in a literal and is refused.
// The script host reads the file in GBK.
//
// This build runs on POSIX systems, where the same work is done by "tem.sh", run detached by
// /bin/sh (sleep 1, remove the file, remove the script), each path in single quotes with a
// single quote spelled '\''. The VBScript text is kept for a Windows build.

#include "common/Result.h"

#include <string>
#include <string_view>

namespace vantorel::update {

inline constexpr std::string_view kVbsScriptName = "tem.vbs";
inline constexpr std::string_view kShellScriptName = "tem.sh";

// The script texts (UTF-8). `scriptPath` is the script's own full path.
Result<std::string> cleanupVbsText(std::string_view file, std::string_view scriptPath);
Result<std::string> cleanupShellText(std::string_view file, std::string_view scriptPath);

// Where the script for `file` is written: the file's folder + "tem.sh".
std::string cleanupScriptPath(std::string_view file);

// Writes the script beside `file` and starts it detached from this process, so it outlives
// the program. Returns the script's path.
Result<std::string> startCleanup(std::string_view file);

} // namespace vantorel::update

#pragma once
// The settings file: three facts about the program and the user's preferences in an INI file,
// written in GBK.
//
// Layout: one section "[Vantorel]" holding
//     路径=<the program's folder, ending in the path separator>
//     版本号=3.9
//     实例ID=5c0f3e9a7b2d4e61a8f09c3b7d2e4a10
//
// Writes follow the private-profile rules: a key is replaced where it stands (the first one of
// that name in the first section of that name; names compare without regard to ASCII case and
// surrounding blanks) or added after the last line of its section; a missing section is added
// at the end of the file. Every other byte of the file is kept as it was, comments, blank lines
// and unknown sections included. CR, LF and CR LF all end a line when reading; every line
// written here ends in "\r\n" (a last line without a line break gets one when a key follows).
//
// Values can never reshape the file: a value holding a line break (or NUL) is refused rather than
// written, so no value can start a key or section of its own; a "[" inside a value is harmless
// because only a line that begins with "[" opens a section. Section and key names are checked
// the same way. A text without a GBK form is refused too: nothing is ever written altered.
//
// The file is replaced atomically (a temporary file beside it, flushed, then renamed over it),
// so a crash or a full disk never leaves half a file; its folder is created when missing. The
// read-modify-write runs under an exclusive flock() on the file, so programs writing at once
// lose nothing. A file over kMaxSettingsFileBytes is no settings file of ours: it is refused
// with a message, neither read into memory nor rewritten.
//
// Reads follow GetPrivateProfileString: the value of the first key of that name in the first
// section of that name (the same matching as writes), with the blanks around it trimmed. Quotes
// are kept as they stand, so every value the writer accepts reads back unchanged unless it
// begins or ends with a blank. Reads take no lock: a writer replaces the file in one rename, so
// a reader sees the old file or the new one, whole.

#include "common/Result.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::settings {

inline constexpr std::string_view kSettingsSection = "Vantorel";
// The user's preferences (settings/Preferences.h) and the one secret among them.
inline constexpr std::string_view kPreferencesSection = "偏好设置";
inline constexpr std::string_view kProxyPasswordKey = "代理密码";
inline constexpr std::string_view kPathKey = "路径";
inline constexpr std::string_view kVersionKey = "版本号";
inline constexpr std::string_view kInstanceIdKey = "实例ID";
inline constexpr std::size_t kMaxSettingsFileBytes = 1u << 20;
// Said for an empty settings path: there is no home to keep the file in (config::iniPath()).
inline constexpr std::string_view kNoSettingsPathText =
    "找不到用户的主目录，无法确定设置文件的位置（可设置 HOME 或 VANTOREL_INI）";

struct ProfileEntry {
    std::string section; // UTF-8
    std::string key;     // UTF-8
    std::string value;   // UTF-8
};

// Applies one private-profile write to the bytes of an INI file (already GBK; the names and
// value are UTF-8 and converted here). The result is the new file content.
Result<std::string> setProfileString(std::string_view fileBytes, const ProfileEntry& entry);

// The value a private-profile read finds in the bytes of an INI file (GBK), as UTF-8; nullopt
// when the section or key is not there. A value that is not GBK is an error naming the key.
Result<std::optional<std::string>> getProfileString(std::string_view fileBytes,
                                                    std::string_view section, std::string_view key);

// The bytes of the settings file at `path`; a missing file reads as empty. A file over
// kMaxSettingsFileBytes, or anything but a regular file, is an error and is not read.
Result<std::string> readSettingsFile(const std::string& path);

// Applies the writes in order to the file at `path` and replaces it in one step. A missing file
// counts as empty. On failure the file is left exactly as it was. Whenever the file written holds
// a password (a non-empty 代理密码 of the preferences), it is kept to its owner: at most 0600,
// whatever its mode was, a narrower mode kept, never widened; else it keeps the mode it had
// (0644 for a new file).
Status writeProfileStrings(const std::string& path, const std::vector<ProfileEntry>& entries);

// Whether the bytes of a settings file hold a password.
bool holdsPassword(std::string_view fileBytes);

// The three entries of the program. `programFolder` is written as given, with the path separator
// appended when it does not already end in one.
std::vector<ProfileEntry> programSettings(std::string_view programFolder);

// Writes the program's three entries to the settings file (config::iniPath()).
Status writeProgramSettings(std::string_view programFolder);

} // namespace vantorel::settings

#pragma once
// File names that come from outside (an address, a catalogue entry, a release): made safe to
// create inside one folder.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace vantorel {

inline constexpr std::size_t kMaxFileNameBytes = 200;
// The name used when nothing of the wanted one can serve.
inline constexpr std::string_view kFallbackFileName = "download";

enum class UnsafeName {
    // Every character that cannot stand in a name becomes "_": no path separators, no "..", no
    // control characters or line breaks, none of the characters a Windows file name cannot
    // hold, no leading or trailing dots and spaces, no reserved device name, at most
    // kMaxFileNameBytes bytes of UTF-8, a short extension kept.
    Repair,
    // A name that is empty, "." or "..", holds a control character (such as an encoded line
    // break) or a path separator is not used at all: the result is kFallbackFileName.
    Refuse,
};

// `wanted` without bidirectional controls (they could disguise the extension), made safe as
// `unsafe` says.
std::string safeFileName(std::string_view wanted, UnsafeName unsafe = UnsafeName::Repair);

// The folder `file` is in: "." for a bare name.
std::filesystem::path folderOf(const std::filesystem::path& file);

} // namespace vantorel

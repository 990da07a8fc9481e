#pragma once
// A number of bytes written for the user. Each place keeps the form its users know, so the
// form is named at the call.

#include <string>

namespace vantorel {

enum class ByteStyle {
    Scaled,           // the binary unit that fits, one decimal: "512 B", "3.2 MiB" (terminal)
    Mebibytes,        // one decimal in mebibytes: "3.2 MB" (messages)
    MebibytesLabel,   // the same without the space: "3.2MB" (progress label)
    MebibytesRounded, // at most two decimals, trailing zeros dropped: "1MB", "117.74MB" (catalogue)
    Speed,            // whole kibibytes under a mebibyte, else one decimal: "850 KB", "3.2 MB"
};

std::string formatBytes(double bytes, ByteStyle style);

} // namespace vantorel

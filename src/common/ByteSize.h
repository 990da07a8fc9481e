#pragma once
// A number of bytes written for the user. Every form counts in units of 1024 and names them KB,
// MB, GB, the same in the windows and the terminal (and parseRate reads them back); each place
// keeps the precision its room allows, so the form is named at the call.

#include <string>

namespace vantorel {

enum class ByteStyle {
    Scaled,           // the unit that fits, one decimal: "512 B", "3.2 MB" (terminal)
    Mebibytes,        // one decimal in mebibytes: "3.2 MB" (messages)
    MebibytesLabel,   // the same without the space: "3.2MB" (progress label)
    MebibytesRounded, // at most two decimals, trailing zeros dropped: "1MB", "117.74MB" (catalogue)
    Speed,            // whole kibibytes under a mebibyte, else one decimal: "850 KB", "3.2 MB"
};

std::string formatBytes(double bytes, ByteStyle style);

} // namespace vantorel

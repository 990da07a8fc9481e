#include "common/ByteSize.h"

#include <cstdio>

namespace vantorel {

std::string formatBytes(double bytes, ByteStyle style) {
    constexpr double kMebi = 1024.0 * 1024.0;
    char text[64];
    switch (style) {
    case ByteStyle::Scaled: {
        static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB"};
        int unit = 0;
        while (bytes >= 1024.0 && unit < 4) {
            bytes /= 1024.0;
            ++unit;
        }
        std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
        return text;
    }
    case ByteStyle::Mebibytes:
        std::snprintf(text, sizeof text, "%.1f MB", bytes / kMebi);
        return text;
    case ByteStyle::MebibytesLabel:
        std::snprintf(text, sizeof text, "%.1fMB", bytes / kMebi);
        return text;
    case ByteStyle::MebibytesRounded: {
        std::snprintf(text, sizeof text, "%.2f", bytes / kMebi);
        std::string rounded = text;
        while (rounded.back() == '0')
            rounded.pop_back();
        if (rounded.back() == '.')
            rounded.pop_back();
        return rounded + "MB";
    }
    case ByteStyle::Speed:
        if (bytes < kMebi)
            std::snprintf(text, sizeof text, "%.0f KB", bytes / 1024.0);
        else
            std::snprintf(text, sizeof text, "%.1f MB", bytes / kMebi);
        return text;
    }
    return {};
}

} // namespace vantorel
